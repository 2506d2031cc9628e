// The Test Connection dialog while its worker runs, against a host that does not answer
// (no server needed): nothing dismisses it, the sheet behind it keeps painting, the run
// ends within the connection's bound, and a dialog destroyed mid-run lets its worker go.
#include <QElapsedTimer>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QtTest>
#include <memory>

#include "app/string_table.h"
#include "app/ui/CallerIDPropertyPage.h"
#include "app/ui/ExCPropertySheet.h"
#include "app/ui/TestSQLServerConnection.h"
#include "code/console_settings.h"
#include "code/firebird_client.h"
#include "tests/support/tcp_listener.h"

namespace {

QString Line(unsigned id) { return QString::fromStdWString(LoadCachedString(id)); }

class PaintCounter : public QObject {
public:
    int paints = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint) ++paints;
        return QObject::eventFilter(watched, event);
    }
};

}  // namespace

class TestConnectionRunningTest : public QObject {
    Q_OBJECT

private slots:
    void aRunningTestCannotBeDismissedAndEndsWithinTheBound() {
        const Listener silent(true);
        ConsoleSettings settings;
        settings.SetCallerIdDatabaseType(CallerIdDbServer);
        settings.SetAuthentication(WindowsAuthentication);
        settings.SetAdmServer("127.0.0.1");
        settings.SetDbmsTcpPort(silent.port());
        ExCPropertySheet sheet(QStringLiteral("Talvex"), nullptr, 0);
        auto page = std::make_unique<CCallerIDPropertyPage>(&settings);
        sheet.AddPage(page.get());
        sheet.Open();
        page->findChild<QPushButton*>("testConnectionButton")->click();
        QPointer<TestDbmsConnection> dialog = page->findChild<TestDbmsConnection*>();
        QVERIFY(dialog);

        PaintCounter counter;
        sheet.installEventFilter(&counter);
        QTimer repaint;
        connect(&repaint, &QTimer::timeout, &sheet, [&sheet] { sheet.update(); });
        repaint.start(50);

        QElapsedTimer elapsed;
        elapsed.start();
        dialog->StartTestButton()->click();
        QVERIFY(!dialog->StartTestButton()->isEnabled() && !dialog->CloseButton()->isEnabled());
        // The lines before the connect step show while it waits.
        QTRY_COMPARE(dialog->ResultList()->count(), 4);
        QTest::keyClick(dialog, Qt::Key_Escape);
        QVERIFY(!dialog->close());
        dialog->CloseButton()->click();
        QVERIFY(dialog->isVisible());
        const int paintsBefore = counter.paints;
        QTRY_VERIFY(counter.paints >= paintsBefore + 3);
        QVERIFY(dialog->TestRunning());

        QTRY_VERIFY_WITH_TIMEOUT(!dialog->TestRunning(),
                                 (fbclient::Database::TCP_CONNECT_TIMEOUT_SECONDS + 10) * 1000);
        const qint64 ms = elapsed.elapsed();
        qInfo("silent host: the run ended after %lld ms", static_cast<long long>(ms));
        QVERIFY(ms < (fbclient::Database::TCP_CONNECT_TIMEOUT_SECONDS + 1) * 1000);
        QCOMPARE(dialog->ResultList()->item(4)->text(), Line(IDS_CONNECT_FAILED));
        QCOMPARE(dialog->ResultList()->item(6)->text(), Line(IDS_TEST_FAILED));

        QTest::keyClick(dialog, Qt::Key_Escape);
        QTRY_VERIFY(dialog.isNull());
    }

    // The sheet going away mid-run: the worker, waiting to add a line, is let go and
    // joined; nothing it does afterwards reaches the destroyed dialog.
    void aDialogDestroyedMidRunReleasesItsWorker() {
        for (bool lineShown : {false, true}) {
            auto owner = std::make_unique<QWidget>();
            auto* dialog = new TestDbmsConnection(
                owner.get(), L"127.0.0.1", QString::fromStdString(ClosedPort()).toStdWString(),
                false, L"", L"");
            dialog->show();
            dialog->StartTestButton()->click();
            if (lineShown) {
                while (dialog->ResultList()->count() == 0) QCoreApplication::processEvents();
                // Long enough for the worker to be waiting to add its next line.
                QThread::msleep(50);
            }
            owner.reset();
        }
    }
};

QTEST_MAIN(TestConnectionRunningTest)
#include "test_connection_dialog_running_test.moc"
