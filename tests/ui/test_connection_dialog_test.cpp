// The Test Connection dialog against the Firebird server that scripts/firebird-test-server
// starts (through scripts/with-test-services): opened from the page, and run again.
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest>
#include <memory>

#include "app/string_table.h"
#include "app/ui/CallerIDPropertyPage.h"
#include "app/ui/ExCPropertySheet.h"
#include "app/ui/TestSQLServerConnection.h"
#include "code/console_settings.h"

namespace {

QString Env(const char* name) { return qEnvironmentVariable(name); }

QString ServerMissing() {
    if (!Env("TALVEX_TEST_FB_UNAVAILABLE").isEmpty()) return Env("TALVEX_TEST_FB_UNAVAILABLE");
    return Env("TALVEX_TEST_FB_PORT").isEmpty()
               ? "TALVEX_TEST_FB_* not set: run the tests through scripts/with-test-services"
               : QString();
}

QStringList Lines(std::initializer_list<unsigned> ids) {
    QStringList lines;
    for (unsigned id : ids)
        lines << (id == 0 ? QString() : QString::fromStdWString(LoadCachedString(id)));
    return lines;
}

QStringList Shown(const QListWidget* list) {
    QStringList lines;
    for (int i = 0; i < list->count(); ++i) lines << list->item(i)->text();
    return lines;
}

constexpr int RUN_BOUND_MS = 20000;

}  // namespace

class TestConnectionDialogTest : public QObject {
    Q_OBJECT

private slots:
    void init() {
        if (const QString why = ServerMissing(); !why.isEmpty()) QSKIP(qPrintable(why));
    }

    // What the page holds, saved or not, is what the test uses; the record stays as it was.
    void aTestFromThePageShowsEveryStepAndItsDetails() {
        ConsoleSettings settings;
        settings.SetCallerIdDatabaseType(CallerIdDbServer);
        settings.SetAdmServer("127.0.0.1");
        settings.SetDbmsTcpPort(Env("TALVEX_TEST_FB_PORT").toStdString());
        settings.SetUserId(Env("TALVEX_TEST_FB_USER").toStdString());
        settings.SetPassword("stale");
        const std::string stored = settings.GetPassword();
        ExCPropertySheet sheet(QStringLiteral("Talvex"), nullptr, 0);
        auto page = std::make_unique<CCallerIDPropertyPage>(&settings);
        sheet.AddPage(page.get());
        sheet.Open();
        page->findChild<QLineEdit*>("passwordEdit")->setText(Env("TALVEX_TEST_FB_PASSWORD"));
        page->findChild<QPushButton*>("testConnectionButton")->click();

        QPointer<TestDbmsConnection> dialog = page->findChild<TestDbmsConnection*>();
        QVERIFY(dialog && dialog->isVisible());
        QVERIFY(dialog->isModal());
        dialog->StartTestButton()->click();
        QVERIFY(dialog->TestRunning());
        QTRY_VERIFY_WITH_TIMEOUT(!dialog->TestRunning(), RUN_BOUND_MS);
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
        QCOMPARE(settings.GetPassword(), stored);
    }

    // Windows authentication sends no user name and password even when the fields hold
    // valid ones: this server has no trusted login, so the login fails. A second run
    // starts from an empty list.
    void windowsAuthenticationIgnoresTheFieldsAndASecondRunStartsAfresh() {
        TestDbmsConnection dialog(nullptr, L"127.0.0.1", Env("TALVEX_TEST_FB_PORT").toStdWString(),
                                  false, Env("TALVEX_TEST_FB_USER").toStdWString(),
                                  Env("TALVEX_TEST_FB_PASSWORD").toStdWString());
        dialog.show();
        const QStringList failed =
            Lines({IDS_LIBRARY_TRYING, IDS_LIBRARY_FOUND, 0, IDS_CONNECT_TRYING, IDS_CONNECT_FAILED,
                   0, IDS_TEST_FAILED});
        for (int run = 0; run < 2; ++run) {
            dialog.StartTestButton()->click();
            QCOMPARE(dialog.ResultList()->count(), 0);
            QVERIFY(dialog.DetailsView()->toPlainText().isEmpty());
            QTRY_VERIFY_WITH_TIMEOUT(!dialog.TestRunning(), RUN_BOUND_MS);
            QCOMPARE(Shown(dialog.ResultList()), failed);
            QVERIFY2(dialog.DetailsView()->toPlainText().contains("Firebird error 335544472"),
                     qPrintable(dialog.DetailsView()->toPlainText()));
        }
    }
};

QTEST_MAIN(TestConnectionDialogTest)
#include "test_connection_dialog_test.moc"
