// The "Caller ID Settings" page in a real sheet: which controls each choice enables,
// what the page refuses and says, what it writes into the record, and the local file.
#include <QLineEdit>
#include <QRadioButton>

#include "app/local_callerid_database.h"
#include "app/ui/CallerIDPropertyPage.h"
#include "code/console_settings.h"
#include "tests/ui/gui_test.h"

namespace {

const QString kPortRange = QStringLiteral("Enter an integer between 1 and 65535.");

struct Page : PageSheet<CCallerIDPropertyPage> {
    using PageSheet::PageSheet;
    QLineEdit* Edit(const QString& name) const { return Find<QLineEdit>(name + "Edit"); }
    void Click(const QString& radios) const {
        for (const QString& name : radios.split(' ', Qt::SkipEmptyParts))
            Find<QRadioButton>(name + "Radio")->click();
    }
    // 'L', 'S', 'C' where the local, server and credential controls are enabled, else '-'.
    QString States() const {
        const char* groups[] = {"localFileLabel localFileEdit",
                                "serverLabel serverEdit portLabel portEdit windowsAuthRadio "
                                "dbmsAuthRadio testConnectionButton",
                                "userNameLabel userNameEdit passwordLabel passwordEdit"};
        QString states;
        for (int g = 0; g < 3; ++g) {
            QSet<bool> enabled;
            for (const QString& name : QString(groups[g]).split(' '))
                enabled << Find(name)->isEnabled();
            states += enabled.size() > 1 ? '?' : *enabled.begin() ? "LSC"[g] : '-';
        }
        return states;
    }
};

constexpr int kNone = CallerIdDbNone, kLocal = CallerIdDbLocal, kServer = CallerIdDbServer;
constexpr int kWin = WindowsAuthentication, kDbms = DbmsAuthentication;
const struct Choice {
    const char* name;
    int kind, auth;
    const char *port, *typed /* into the port edit first */, *clicks, *states;
    int checked;
    const char* shown;
} kChoices[] = {
    {"none, 70000", kNone, kDbms, "70000", nullptr, "", "---", kDbms, "52444"},
    {"local, 0", kLocal, kWin, "0", nullptr, "", "L--", kWin, "52444"},
    {"server, DBMS, abc", kServer, kDbms, "abc", nullptr, "", "-SC", kDbms, "52444"},
    {"server, Windows", kServer, kWin, "3050", nullptr, "", "-S-", kWin, "3050"},
    {"Server clicked", kNone, kDbms, "3050", nullptr, "server", "-SC", kDbms, "3050"},
    {"Windows clicked", kServer, kDbms, "3050", nullptr, "windowsAuth", "-S-", kWin, "3050"},
    {"DBMS clicked", kServer, kWin, "3050", nullptr, "dbmsAuth", "-SC", kDbms, "3050"},
    {"back to Server restores the stored Windows", kServer, kWin, "3050", nullptr,
     "dbmsAuth none server", "-S-", kWin, "3050"},
    {"3050 kept when disabled", kServer, kWin, "3050", nullptr, "none", "---", kWin, "3050"},
    {"0 typed, then Local", kServer, kWin, "3050", "0", "local", "L--", kWin, "52444"},
    {"nothing typed, then None", kServer, kWin, "3050", "", "none", "---", kWin, "52444"},
};

constexpr unsigned kPortRangeId = ~0u;
const struct Refusal {
    const char *name, *clicks, *edit /* or edits */, *text;
    unsigned message;  // 0: applied
    const char* fileShown;
} kRefusals[] = {
    {"server without a name", "server windowsAuth", "server", "  ", IDS_FILL_ALL_FIELDS, "x.xml"},
    {"Windows without user or password", "server windowsAuth", "userName password", "", 0, "x.xml"},
    {"DBMS with a blank user", "server dbmsAuth", "userName", "  ", IDS_FILL_ALL_FIELDS, "x.xml"},
    {"DBMS with an empty password", "server dbmsAuth", "password", "", IDS_FILL_ALL_FIELDS,
     "x.xml"},
    {"DBMS with a password of blanks", "server dbmsAuth", "password", "   ", 0, "x.xml"},
    {"port 65536", "server windowsAuth", "port", "65536", kPortRangeId, "x.xml"},
    {"no port", "server windowsAuth", "port", "", kPortRangeId, "x.xml"},
    {"local name gains .xml", "local", "localFile", " calls ", 0, "calls.xml"},
    {"local name empty", "local", "localFile", "  ", IDS_FILL_ALL_FIELDS, "  "},
    {"local name with a folder", "local", "localFile", "sub\\calls.xml",
     IDS_FILE_NAME_BAD_CHARACTERS, "sub\\calls.xml"},
};

ConsoleSettings Record(int kind, int authentication, const char* port = "52444") {
    ConsoleSettings settings;
    settings.SetCallerIdDatabaseType(static_cast<CallerIdDatabaseType>(kind));
    settings.SetAuthentication(static_cast<AuthenticationMethod>(authentication));
    settings.SetDbmsTcpPort(port);
    settings.SetAdmServer("adm01");
    settings.SetUserId("u");
    settings.SetPassword("p");
    return settings;
}

// The caller-ID fields of the record, in one line.
QString Fields(const ConsoleSettings& s) {
    return QStringLiteral("%1|%2|%3|%4|%5|%6|%7")
        .arg(s.GetCallerIdDatabaseType())
        .arg(s.GetAuthentication())
        .arg(QString::fromStdString(s.GetLocalFileName()), QString::fromStdString(s.GetAdmServer()),
             QString::fromStdString(s.GetDbmsTcpPort()), QString::fromStdString(s.GetUserId()),
             QString::fromStdString(s.GetPassword()));
}

}  // namespace

class CallerIdPageTest : public QObject {
    Q_OBJECT
    std::unique_ptr<ProgramData> m_data;

private slots:
    void init() {
        MessageBoxSeam::Reset();
        m_data = std::make_unique<ProgramData>();
    }

    // What each choice enables, which authentication is checked, what the port shows,
    // and what OK then stores.
    void choicesEnableTheirControlsAndKeepAPortInRange_data() { AddCases(kChoices); }
    void choicesEnableTheirControlsAndKeepAPortInRange() {
        const Choice& c = CurrentCase(kChoices);
        ConsoleSettings settings = Record(c.kind, c.auth, c.port);
        Page s(&settings);
        if (c.typed) {
            s.Edit("port")->selectAll();
            QTest::keyClick(s.Edit("port"), Qt::Key_Delete);
            QTest::keyClicks(s.Edit("port"), c.typed);
        }
        s.Click(c.clicks);
        QCOMPARE(s.States(), QString(c.states));
        QCOMPARE(s.Find<QRadioButton>("dbmsAuthRadio")->isChecked(), c.checked == kDbms);
        QCOMPARE(s.Edit("port")->text(), QString(c.shown));
        QCOMPARE(s.sheet.ApplyButton()->isEnabled(), *c.clicks != '\0');
        s.sheet.OkButton()->click();
        QCOMPARE(MessageBoxSeam::Take(), QStringList());
        QCOMPARE(settings.GetDbmsTcpPort(), std::string(c.shown));
        QCOMPARE(int(settings.GetAuthentication()), c.checked);
    }

    // Refusals leave the record as it was; the port's refusal puts the focus on the port.
    void applyRefusesIncompleteOrUnsafeFields_data() { AddCases(kRefusals); }
    void applyRefusesIncompleteOrUnsafeFields() {
        const Refusal& c = CurrentCase(kRefusals);
        ConsoleSettings settings = Record(CallerIdDbNone, DbmsAuthentication);
        settings.SetLocalFileName("x.xml");
        const QString before = Fields(settings);
        Page s(&settings);
        for (const QString& edit : QString(c.edit).split(' ')) s.Edit(edit)->setText(c.text);
        s.Click(c.clicks);
        const QString message = c.message == kPortRangeId ? kPortRange
                                : c.message               ? Text(c.message)
                                                          : QString();
        if (c.message) MessageBoxSeam::QueueAnswer(QMessageBox::Ok);
        s.sheet.ApplyButton()->click();
        QCOMPARE(MessageBoxSeam::Take(), c.message ? QStringList{message} : QStringList());
        QCOMPARE(s.Edit("localFile")->text(), QString(c.fileShown));
        QCOMPARE(s.sheet.ApplyButton()->isEnabled(), c.message != 0);
        if (c.message == kPortRangeId) QCOMPARE(s.sheet.focusWidget(), s.Edit("port"));
        if (c.message)
            QCOMPARE(Fields(settings), before);
        else
            QCOMPARE(settings.GetCallerIdDatabaseType(),
                     *c.clicks == 'l' ? CallerIdDbLocal : CallerIdDbServer);
    }

    // Fields go into the record as typed (trimmed but the password), within the edits'
    // limits, and only on Apply. (A page only looked at changes nothing: sheet_test.)
    void applyWritesWhatTheUserTyped() {
        ConsoleSettings settings;
        Page s(&settings);
        s.Click("server");
        QVERIFY(s.sheet.ApplyButton()->isEnabled() && !settings.IsChanged());
        for (auto [name, typed] : {std::pair{"server", QString("  adm01 ")},
                                   {"userName", QString(40, 'u')},
                                   {"password", " 23456789"}}) {
            s.Edit(name)->selectAll();
            QTest::keyClick(s.Edit(name), Qt::Key_Delete);
            QTest::keyClicks(s.Edit(name), typed);
        }
        s.sheet.ApplyButton()->click();
        QCOMPARE(MessageBoxSeam::Take(), QStringList());
        QVERIFY(settings.IsChanged() && !s.sheet.ApplyButton()->isEnabled());
        ConsoleSettings expected;
        expected.SetCallerIdDatabaseType(CallerIdDbServer);
        expected.SetAdmServer("adm01");
        expected.SetUserId(std::string(31, 'u'));
        expected.SetPassword(" 2345678");
        QCOMPARE(Fields(settings), Fields(expected));
    }

    // The first apply of the local kind creates the file; nothing ever touches it again,
    // and read-only mode never creates it.
    void localFileIsCreatedOnceAndNeverInReadOnlyMode() {
        const std::string file = m_data->folder() + "calls.xml";
        ConsoleSettings settings = Record(kLocal, kDbms);
        settings.SetLocalFileName("calls");
        Page(&settings).sheet.OkButton()->click();
        QCOMPARE(settings.GetLocalFileName(), std::string("calls.xml"));
        QCOMPARE(read_file_bytes(file), std::string(LocalDatabaseXml()));
        write_file_bytes(file, "the console's own rows");
        Page(&settings).sheet.OkButton()->click();
        QCOMPARE(read_file_bytes(file), std::string("the console's own rows"));

        int argc = 0;
        CConsoleCplApp app(argc, nullptr);
        app.m_readOnly = true;
        settings.SetLocalFileName("read-only.xml");
        Page(&settings).sheet.OkButton()->click();
        QVERIFY(!std::filesystem::exists(m_data->folder() + "read-only.xml"));
    }
};

QTEST_MAIN(CallerIdPageTest)
#include "caller_id_page_test.moc"
