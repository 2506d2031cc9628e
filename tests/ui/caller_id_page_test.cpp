// The "Caller ID Settings" page in a real sheet, and the Test Connection dialog it opens
// against the Firebird server of scripts/with-test-services and a host that does not answer.
#include <QElapsedTimer>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPointer>
#include <QRadioButton>

#include "app/local_callerid_database.h"
#include "app/ui/CallerIDPropertyPage.h"
#include "app/ui/TestSQLServerConnection.h"
#include "code/console_settings.h"
#include "code/firebird_client.h"
#include "tests/support/tcp_listener.h"
#include "tests/ui/gui_test.h"

namespace {

QString Env(const char* name) { return qEnvironmentVariable(name); }

struct Page : PageSheet<CCallerIDPropertyPage> {
    using PageSheet::PageSheet;
    QLineEdit* Edit(const QString& name) const { return Find<QLineEdit>(name + "Edit"); }
    // Clicks ("server" is the Server button) and typing ("port=0"), split by '|'.
    void Do(const QString& actions) const {
        for (const QString& action : actions.split('|', Qt::SkipEmptyParts)) {
            const qsizetype is = action.indexOf('=');
            if (is < 0) {
                Find<QRadioButton>(action + "Radio")->click();
                continue;
            }
            Edit(action.left(is))->selectAll();
            QTest::keyClick(Edit(action.left(is)), Qt::Key_Delete);
            QTest::keyClicks(Edit(action.left(is)), action.mid(is + 1));
        }
    }
    // 'L', 'S', 'U' where the local, server and user controls are enabled, else '-'.
    QString States() const {
        QString states;
        for (const char* group : {"localFileLabel localFileEdit",
                                  "serverLabel serverEdit portLabel portEdit windowsAuthRadio "
                                  "dbmsAuthRadio testConnectionButton",
                                  "userNameLabel userNameEdit passwordLabel passwordEdit"}) {
            QSet<bool> enabled;
            for (const QString& name : QString(group).split(' '))
                enabled << Find(name)->isEnabled();
            states += enabled.size() > 1 ? '?' : *enabled.begin() ? QChar(group[0]).toUpper() : '-';
        }
        return states;
    }
    TestDbmsConnection* TestConnection() const {
        Find<QPushButton>("testConnectionButton")->click();
        return page->findChild<TestDbmsConnection*>();
    }
};

ConsoleSettings Record(int kind, int authentication, const std::string& port = "52444") {
    ConsoleSettings settings;
    settings.SetCallerIdDatabaseType(static_cast<CallerIdDatabaseType>(kind));
    settings.SetAuthentication(static_cast<AuthenticationMethod>(authentication));
    settings.SetDbmsTcpPort(port);
    settings.SetLocalFileName("f.xml");
    settings.SetAdmServer("s");
    settings.SetUserId("u");
    settings.SetPassword("p");
    return settings;
}

// The caller-ID fields of the record: "kind authentication|file|server|port|user|password".
QString Fields(const ConsoleSettings& s) {
    return QString::fromStdString(std::to_string(s.GetCallerIdDatabaseType()) + ' ' +
                                  std::to_string(s.GetAuthentication()) + '|' +
                                  s.GetLocalFileName() + '|' + s.GetAdmServer() + '|' +
                                  s.GetDbmsTcpPort() + '|' + s.GetUserId() + '|' + s.GetPassword());
}

constexpr int kNone = CallerIdDbNone, kLocal = CallerIdDbLocal, kServer = CallerIdDbServer;
constexpr int kWin = WindowsAuthentication, kDbms = DbmsAuthentication;
constexpr unsigned kPortRange = ~0u, kFill = IDS_FILL_ALL_FIELDS,
                   kBlanks = IDS_PASSWORD_LEADING_BLANKS;
// From Record(kind, auth, port), the user's actions (Page::Do), then OK: the States() before
// it, the Fields() after it ("=": as before) and the refusal it shows.
const struct Case {
    const char* name;
    int kind, auth;
    const char *port, *actions, *states, *applied;
    unsigned refusal;
} kCases[] = {
    {"none, 70000", kNone, kDbms, "70000", "", "---", "0 1|f.xml|s|52444|u|p", 0},
    {"local, 0", kLocal, kWin, "0", "", "L--", "1 0|f.xml|s|52444|u|p", 0},
    {"server, DBMS, abc", kServer, kDbms, "abc", "", "-SU", "2 1|f.xml|s|52444|u|p", 0},
    {"Server clicked", kNone, kDbms, "1", "server", "-SU", "2 1|f.xml|s|1|u|p", 0},
    {"Windows clicked", kServer, kDbms, "1", "windowsAuth", "-S-", "2 0|f.xml|s|1|u|p", 0},
    {"DBMS clicked", kServer, kWin, "1", "dbmsAuth", "-SU", "2 1|f.xml|s|1|u|p", 0},
    {"again: Windows", kServer, kWin, "1", "dbmsAuth|none|server", "-S-", "2 0|f.xml|s|1|u|p", 0},
    {"valid port kept", kServer, kWin, "1", "none", "---", "0 0|f.xml|s|1|u|p", 0},
    {"0 typed, then Local", kServer, kWin, "1", "port=0|local", "L--", "1 0|f.xml|s|52444|u|p", 0},
    {"none typed, None", kServer, kWin, "1", "port=|none", "---", "0 0|f.xml|s|52444|u|p", 0},
    {"server without a name", kServer, kWin, "1", "server=  ", "-S-", "=", kFill},
    {"nobody", kServer, kDbms, "1", "userName=|password=|windowsAuth", "-S-", "2 0|f.xml|s|1||", 0},
    {"DBMS with a blank user", kServer, kDbms, "1", "userName=  ", "-SU", "=", kFill},
    {"DBMS with an empty password", kServer, kDbms, "1", "password=", "-SU", "=", kFill},
    {"blank password", kServer, kDbms, "1", "password=   ", "-SU", "=", kBlanks},
    {"port 65536", kServer, kWin, "1", "port=65536", "-S-", "=", kPortRange},
    {"no port", kServer, kWin, "1", "port=", "-S-", "=", kPortRange},
    {"gains .xml", kLocal, kDbms, "1", "localFile= calls ", "L--", "1 1|calls.xml|s|1|u|p", 0},
    {"local name empty", kLocal, kDbms, "1", "localFile=  ", "L--", "=", kFill},
    {"trimmed but the password, cut", kNone, kDbms, "1",
     "server|server= t |userName=0123456789012345678901234567890123|password=2345678 9", "-SU",
     "2 1|f.xml|t|1|0123456789012345678901234567890|2345678 ", 0},
};

// The lines a run showed; ids of the tool's texts, 0 an empty line.
QStringList Shown(const QListWidget* list) {
    QStringList lines;
    for (int i = 0; i < list->count(); ++i) lines << list->item(i)->text();
    return lines;
}
QStringList Lines(std::initializer_list<unsigned> ids) {
    QStringList lines;
    for (unsigned id : ids) lines << (id == 0 ? QString() : Text(id));
    return lines;
}
const QStringList kFailedToConnect =
    Lines({IDS_LIBRARY_TRYING, IDS_LIBRARY_FOUND, 0, IDS_CONNECT_TRYING, IDS_CONNECT_FAILED, 0,
           IDS_TEST_FAILED});

}  // namespace

class CallerIdPageTest : public QObject {
    Q_OBJECT
    std::unique_ptr<ProgramData> m_data;

private slots:
    void init() {
        MessageBoxSeam::Reset();
        m_data = std::make_unique<ProgramData>();
    }

    // Only what the user does enables Apply, and only OK writes the record.
    void choicesAndTypingReachTheRecordOnlyOnOk_data() { AddCases(kCases); }
    void choicesAndTypingReachTheRecordOnlyOnOk() {
        const Case& c = CurrentCase(kCases);
        ConsoleSettings settings = Record(c.kind, c.auth, c.port);
        const QString before = Fields(settings);
        Page s(&settings);
        s.Do(c.actions);
        QCOMPARE(s.States(), QString(c.states));
        QCOMPARE(s.sheet.ApplyButton()->isEnabled(), *c.actions != '\0');
        QCOMPARE(Fields(settings), before);
        MessageBoxSeam::QueueAnswer(QMessageBox::Ok);
        s.sheet.OkButton()->click();
        const QString refusal =
            c.refusal == kPortRange ? "Enter an integer between 1 and 65535." : Text(c.refusal);
        QCOMPARE(MessageBoxSeam::Take(), c.refusal ? QStringList{refusal} : QStringList());
        QCOMPARE(Fields(settings), c.refusal ? before : QString(c.applied));
        QCOMPARE(s.sheet.ApplyButton()->isEnabled(), c.refusal != 0);
        if (c.refusal == kPortRange) QCOMPARE(s.sheet.focusWidget(), s.Edit("port"));
        if (!c.refusal && c.applied[0] == '1')  // the local kind: its file made
            QCOMPARE(read_file_bytes(m_data->folder() + settings.GetLocalFileName()),
                     std::string(LocalDatabaseXml()));
    }

    void readOnlyModeMakesNoLocalFile() {
        int argc = 0;
        CConsoleCplApp app(argc, nullptr);
        app.m_readOnly = true;
        ConsoleSettings settings = Record(kLocal, kDbms);
        Page(&settings).sheet.OkButton()->click();
        QVERIFY(!std::filesystem::exists(m_data->folder() + "f.xml"));
    }

    // The test uses the page's unsaved fields: DBMS passes every step; Windows sends no user
    // name or password, valid as they are (this server has no trusted login). Runs start afresh.
    void aTestUsesThePagesFieldsAndShowsEveryStep() {
        if (Env("TALVEX_TEST_FB_PORT").isEmpty() || !Env("TALVEX_TEST_FB_UNAVAILABLE").isEmpty())
            QSKIP("no Firebird test server: run the tests through scripts/with-test-services");
        const QString login = "server=127.0.0.1|userName=" + Env("TALVEX_TEST_FB_USER") +
                              "|password=" + Env("TALVEX_TEST_FB_PASSWORD");
        for (bool windows : {true, false}) {
            ConsoleSettings settings =
                Record(kServer, kDbms, Env("TALVEX_TEST_FB_PORT").toStdString());
            const QString before = Fields(settings);
            Page s(&settings);
            s.Do(login + (windows ? "|windowsAuth" : ""));
            QPointer<TestDbmsConnection> dialog = s.TestConnection();
            QVERIFY(dialog && dialog->isVisible() && dialog->isModal());
            for (int run = 0; run < 2; ++run) {
                dialog->StartTestButton()->click();
                QVERIFY(dialog->ResultList()->count() == 0 &&
                        dialog->DetailsView()->toPlainText().isEmpty());
                QTRY_VERIFY_WITH_TIMEOUT(!dialog->TestRunning(), 20000);
            }
            QCOMPARE(Shown(dialog->ResultList()),
                     windows ? kFailedToConnect
                             : Lines({IDS_LIBRARY_TRYING, IDS_LIBRARY_FOUND, 0, IDS_CONNECT_TRYING,
                                      IDS_CONNECT_OK, 0, IDS_READ_TRYING, IDS_READ_OK, 0,
                                      IDS_ALL_PASSED}));
            QVERIFY(dialog->StartTestButton()->isEnabled() && dialog->CloseButton()->isEnabled());
            QCOMPARE(dialog->focusWidget(), dialog->ResultList());
            QVERIFY(dialog->DetailsView()->isHidden());
            dialog->DetailsButton()->click();
            const QString details = dialog->DetailsView()->toPlainText();
            QVERIFY2(
                dialog->DetailsView()->isVisible() &&
                    details.contains(windows ? "Firebird error 335544472" : "\"read\": passed in "),
                qPrintable(details));
            dialog->CloseButton()->click();
            QTRY_VERIFY(dialog.isNull());
            QCOMPARE(Fields(settings), before);
        }
    }

    // Against a host that does not answer: nothing dismisses the dialog while it runs, the
    // lines before the connect step show meanwhile, and the run ends within its bound.
    void aRunningTestCannotBeDismissedAndEndsWithinTheBound() {
        const Listener silent(true);
        ConsoleSettings settings = Record(kServer, kWin, silent.port());
        Page s(&settings);
        s.Do("server=127.0.0.1");
        QPointer<TestDbmsConnection> dialog = s.TestConnection();
        QVERIFY(dialog);
        QElapsedTimer elapsed;
        elapsed.start();
        dialog->StartTestButton()->click();
        QVERIFY(!dialog->StartTestButton()->isEnabled() && !dialog->CloseButton()->isEnabled());
        QTRY_COMPARE(dialog->ResultList()->count(), 4);
        QTest::keyClick(dialog, Qt::Key_Escape);
        QVERIFY(!dialog->close());
        QVERIFY(dialog->isVisible() && dialog->TestRunning());

        const int bound = fbclient::Database::TCP_CONNECT_TIMEOUT_SECONDS;
        QTRY_VERIFY_WITH_TIMEOUT(!dialog->TestRunning(), (bound + 10) * 1000);
        QVERIFY(elapsed.elapsed() < (bound + 1) * 1000);
        QCOMPARE(Shown(dialog->ResultList()), kFailedToConnect);
        QTest::keyClick(dialog, Qt::Key_Escape);
        QTRY_VERIFY(dialog.isNull());
    }

    // The sheet going away mid-run: the worker, waiting to add a line, is let go and
    // joined; nothing it does afterwards reaches the destroyed dialog.
    void aDialogDestroyedMidRunReleasesItsWorker() {
        auto owner = std::make_unique<QWidget>();
        auto* dialog = new TestDbmsConnection(owner.get(), L"127.0.0.1",
                                              QString::fromStdString(ClosedPort()).toStdWString(),
                                              false, L"", L"");
        dialog->show();
        dialog->StartTestButton()->click();
        while (dialog->ResultList()->count() == 0) QCoreApplication::processEvents();
        // Long enough for the worker to be waiting to add its next line.
        QThread::msleep(50);
        owner.reset();
    }
};

QTEST_MAIN(CallerIdPageTest)
#include "caller_id_page_test.moc"
