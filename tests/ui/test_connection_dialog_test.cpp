// The Test Connection dialog: against the Firebird server that scripts/firebird-test-server
// starts (through scripts/with-test-services), and, with no server needed, against a host
// that does not answer: nothing dismisses it while it runs, the sheet behind it keeps
// painting, the run ends within the connection's bound, and a dialog destroyed mid-run
// lets its worker go.
#include <QElapsedTimer>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPointer>

#include "app/ui/CallerIDPropertyPage.h"
#include "app/ui/TestSQLServerConnection.h"
#include "code/console_settings.h"
#include "code/firebird_client.h"
#include "tests/support/tcp_listener.h"
#include "tests/ui/gui_test.h"

namespace {

QString Env(const char* name) { return qEnvironmentVariable(name); }

QStringList Lines(std::initializer_list<unsigned> ids) {
    QStringList lines;
    for (unsigned id : ids) lines << (id == 0 ? QString() : Text(id));
    return lines;
}

QStringList Shown(const QListWidget* list) {
    QStringList lines;
    for (int i = 0; i < list->count(); ++i) lines << list->item(i)->text();
    return lines;
}

const QStringList kFailedToConnect =
    Lines({IDS_LIBRARY_TRYING, IDS_LIBRARY_FOUND, 0, IDS_CONNECT_TRYING, IDS_CONNECT_FAILED, 0,
           IDS_TEST_FAILED});
constexpr int kRunBoundMs = 20000;

// A sheet showing the page for a server at `port`, and the dialog its button opened.
struct DialogFromPage {
    explicit DialogFromPage(const QString& port, AuthenticationMethod authentication) {
        settings.SetCallerIdDatabaseType(CallerIdDbServer);
        settings.SetAuthentication(authentication);
        settings.SetAdmServer("127.0.0.1");
        settings.SetDbmsTcpPort(port.toStdString());
        settings.SetUserId(Env("TALVEX_TEST_FB_USER").toStdString());
        settings.SetPassword("stale");
        page = std::make_unique<PageSheet<CCallerIDPropertyPage>>(&settings);
    }
    TestDbmsConnection* Open() {
        page->Find<QPushButton>("testConnectionButton")->click();
        return page->page->findChild<TestDbmsConnection*>();
    }
    ConsoleSettings settings;
    std::unique_ptr<PageSheet<CCallerIDPropertyPage>> page;
};

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

class TestConnectionDialogTest : public QObject {
    Q_OBJECT

    static void RequireServer() {
        if (!Env("TALVEX_TEST_FB_UNAVAILABLE").isEmpty())
            QSKIP(qPrintable(Env("TALVEX_TEST_FB_UNAVAILABLE")));
        if (Env("TALVEX_TEST_FB_PORT").isEmpty())
            QSKIP("TALVEX_TEST_FB_* not set: run the tests through scripts/with-test-services");
    }

private slots:
    // What the page holds, saved or not, is what the test uses; the record stays as it was.
    void aTestFromThePageShowsEveryStepAndItsDetails() {
        RequireServer();
        DialogFromPage from(Env("TALVEX_TEST_FB_PORT"), DbmsAuthentication);
        from.page->Find<QLineEdit>("passwordEdit")->setText(Env("TALVEX_TEST_FB_PASSWORD"));
        QPointer<TestDbmsConnection> dialog = from.Open();
        QVERIFY(dialog && dialog->isVisible() && dialog->isModal());
        dialog->StartTestButton()->click();
        QVERIFY(dialog->TestRunning());
        QTRY_VERIFY_WITH_TIMEOUT(!dialog->TestRunning(), kRunBoundMs);
        QCOMPARE(Shown(dialog->ResultList()),
                 Lines({IDS_LIBRARY_TRYING, IDS_LIBRARY_FOUND, 0, IDS_CONNECT_TRYING,
                        IDS_CONNECT_OK, 0, IDS_READ_TRYING, IDS_READ_OK, 0, IDS_ALL_PASSED}));
        QVERIFY(dialog->StartTestButton()->isEnabled() && dialog->CloseButton()->isEnabled());
        QCOMPARE(dialog->focusWidget(), dialog->ResultList());

        QVERIFY(dialog->DetailsView()->isHidden());
        dialog->DetailsButton()->click();
        QVERIFY(dialog->DetailsView()->isVisible());
        const QString details = dialog->DetailsView()->toPlainText();
        QVERIFY2(details.contains("libfbclient.so.2") && details.contains("Server version: ") &&
                     details.contains("Firebird") && details.contains("\"read\": passed in "),
                 qPrintable(details));

        dialog->CloseButton()->click();
        QTRY_VERIFY(dialog.isNull());
        QCOMPARE(from.settings.GetPassword(), std::string("stale"));
    }

    // Windows authentication sends no user name and password even when the fields hold
    // valid ones: this server has no trusted login, so the login fails. A second run
    // starts from an empty list.
    void windowsAuthenticationIgnoresTheFieldsAndASecondRunStartsAfresh() {
        RequireServer();
        TestDbmsConnection dialog(nullptr, L"127.0.0.1", Env("TALVEX_TEST_FB_PORT").toStdWString(),
                                  false, Env("TALVEX_TEST_FB_USER").toStdWString(),
                                  Env("TALVEX_TEST_FB_PASSWORD").toStdWString());
        dialog.show();
        for (int run = 0; run < 2; ++run) {
            dialog.StartTestButton()->click();
            QCOMPARE(dialog.ResultList()->count(), 0);
            QVERIFY(dialog.DetailsView()->toPlainText().isEmpty());
            QTRY_VERIFY_WITH_TIMEOUT(!dialog.TestRunning(), kRunBoundMs);
            QCOMPARE(Shown(dialog.ResultList()), kFailedToConnect);
            QVERIFY2(dialog.DetailsView()->toPlainText().contains("Firebird error 335544472"),
                     qPrintable(dialog.DetailsView()->toPlainText()));
        }
    }

    void aRunningTestCannotBeDismissedAndEndsWithinTheBound() {
        const Listener silent(true);
        DialogFromPage from(QString::fromStdString(silent.port()), WindowsAuthentication);
        QPointer<TestDbmsConnection> dialog = from.Open();
        QVERIFY(dialog);
        PaintCounter counter;
        from.page->sheet.installEventFilter(&counter);
        QTimer repaint;
        connect(&repaint, &QTimer::timeout, &from.page->sheet, [&] { from.page->sheet.update(); });
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
        QCOMPARE(Shown(dialog->ResultList()), kFailedToConnect);
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

QTEST_MAIN(TestConnectionDialogTest)
#include "test_connection_dialog_test.moc"
