// The "Caller ID Settings" page in a real sheet: which controls each choice enables,
// what the page refuses and says, what it writes into the record, and the local file.
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

#include "app/local_callerid_database.h"
#include "app/string_table.h"
#include "app/ui/CallerIDPropertyPage.h"
#include "app/ui/applet_start.h"
#include "app/ui/message_box.h"
#include "code/console_settings.h"
#include "tests/support/temp_dir.h"

namespace {

QString Text(unsigned id) { return QString::fromStdWString(LoadCachedString(id)); }
const QString PORT_RANGE = QStringLiteral("Enter an integer between 1 and 65535.");

// A sheet showing the page; the page goes before the sheet.
struct Sheet {
    explicit Sheet(ConsoleSettings& settings) : page(new CCallerIDPropertyPage(&settings)) {
        sheet.AddPage(page.get());
        sheet.Open();
    }
    QWidget* Find(const QString& name) const {
        QWidget* found = page->findChild<QWidget*>(name);
        if (!found) qFatal("no control %s", qPrintable(name));
        return found;
    }
    QLineEdit* Edit(const QString& name) const {
        return qobject_cast<QLineEdit*>(Find(name + QStringLiteral("Edit")));
    }
    QRadioButton* Radio(const QString& name) const {
        return qobject_cast<QRadioButton*>(Find(name + QStringLiteral("Radio")));
    }
    // "on"/"off" for each control, in order.
    QString States(const QStringList& names) const {
        QStringList states;
        for (const QString& name : names) states << (Find(name)->isEnabled() ? "on" : "off");
        return states.join(' ');
    }

    ExCPropertySheet sheet{QStringLiteral("Talvex"), nullptr, 0};
    std::unique_ptr<CCallerIDPropertyPage> page;
};

QString Same(bool on, qsizetype count) {
    return QStringList(count, on ? QStringLiteral("on") : QStringLiteral("off")).join(' ');
}

ConsoleSettings Record(CallerIdDatabaseType kind, AuthenticationMethod authentication,
                       const std::string& port = "52444") {
    ConsoleSettings settings;
    settings.SetCallerIdDatabaseType(kind);
    settings.SetAuthentication(authentication);
    settings.SetDbmsTcpPort(port);
    return settings;
}

// The caller-ID fields of the record, in one line.
QString Fields(const ConsoleSettings& settings) {
    return QStringLiteral("%1|%2|%3|%4|%5|%6|%7")
        .arg(settings.GetCallerIdDatabaseType())
        .arg(settings.GetAuthentication())
        .arg(QString::fromStdString(settings.GetLocalFileName()),
             QString::fromStdString(settings.GetAdmServer()),
             QString::fromStdString(settings.GetDbmsTcpPort()),
             QString::fromStdString(settings.GetUserId()),
             QString::fromStdString(settings.GetPassword()));
}

}  // namespace

class CallerIdPageTest : public QObject {
    Q_OBJECT

private slots:
    void init() {
        MessageBoxSeam::Reset();
        m_data = std::make_unique<QTemporaryDir>();
        qputenv("PROGRAMDATA", m_data->path().toUtf8());
    }

    void enableStatesFollowTheKindAndTheStoredAuthentication_data() {
        QTest::addColumn<int>("stored");
        QTest::addColumn<QStringList>("clicks");
        QTest::addColumn<bool>("local");
        QTest::addColumn<bool>("server");
        QTest::addColumn<bool>("credentials");
        QTest::addColumn<QString>("checked");
        const int windows = WindowsAuthentication, dbms = DbmsAuthentication;
        QTest::newRow("none") << dbms << QStringList() << false << false << false << "dbmsAuth";
        QTest::newRow("local") << dbms << QStringList{"local"} << true << false << false
                               << "dbmsAuth";
        QTest::newRow("server, DBMS stored")
            << dbms << QStringList{"server"} << false << true << true << "dbmsAuth";
        QTest::newRow("server, Windows stored")
            << windows << QStringList{"server"} << false << true << false << "windowsAuth";
        QTest::newRow("Windows clicked") << dbms << QStringList{"server", "windowsAuth"} << false
                                         << true << false << "windowsAuth";
        QTest::newRow("DBMS clicked")
            << windows << QStringList{"server", "dbmsAuth"} << false << true << true << "dbmsAuth";
        QTest::newRow("back to Server restores the stored Windows")
            << windows << QStringList{"server", "dbmsAuth", "none", "server"} << false << true
            << false << "windowsAuth";
    }
    void enableStatesFollowTheKindAndTheStoredAuthentication() {
        QFETCH(int, stored);
        QFETCH(QStringList, clicks);
        QFETCH(bool, local);
        QFETCH(bool, server);
        QFETCH(bool, credentials);
        QFETCH(QString, checked);
        ConsoleSettings settings =
            Record(CallerIdDbNone, static_cast<AuthenticationMethod>(stored));
        Sheet s(settings);
        for (const QString& radio : clicks) s.Radio(radio)->click();

        QCOMPARE(s.States({"localFileLabel", "localFileEdit"}), Same(local, 2));
        QCOMPARE(s.States({"serverLabel", "serverEdit", "portLabel", "portEdit", "windowsAuthRadio",
                           "dbmsAuthRadio", "testConnectionButton"}),
                 Same(server, 7));
        QCOMPARE(s.States({"userNameLabel", "userNameEdit", "passwordLabel", "passwordEdit"}),
                 Same(credentials, 4));
        QVERIFY(s.Radio(checked)->isChecked());
        QCOMPARE(s.sheet.ApplyButton()->isEnabled(), !clicks.isEmpty());
    }

    // What the port edit shows, and what OK then stores.
    void portIsAlwaysOneTheRangeCheckAccepts_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("typed");  // into the port edit, before the clicks
        QTest::addColumn<QStringList>("clicks");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<bool>("enabled");
        QTest::newRow("local, 0 stored") << int(CallerIdDbLocal) << "0"
                                         << "" << QStringList() << "52444" << false;
        QTest::newRow("none, 70000 stored") << int(CallerIdDbNone) << "70000"
                                            << "" << QStringList() << "52444" << false;
        QTest::newRow("server, abc stored") << int(CallerIdDbServer) << "abc"
                                            << "" << QStringList() << "52444" << true;
        QTest::newRow("server, 3050 kept when disabled")
            << int(CallerIdDbServer) << "3050"
            << "" << QStringList{"none"} << "3050" << false;
        QTest::newRow("0 typed, then Local") << int(CallerIdDbServer) << "3050"
                                             << "0" << QStringList{"local"} << "52444" << false;
        QTest::newRow("nothing typed, then None") << int(CallerIdDbServer) << "3050"
                                                  << "-" << QStringList{"none"} << "52444" << false;
    }
    void portIsAlwaysOneTheRangeCheckAccepts() {
        QFETCH(int, kind);
        QFETCH(QString, stored);
        QFETCH(QString, typed);
        QFETCH(QStringList, clicks);
        QFETCH(QString, shown);
        QFETCH(bool, enabled);
        ConsoleSettings settings = Record(static_cast<CallerIdDatabaseType>(kind),
                                          WindowsAuthentication, stored.toStdString());
        settings.SetAdmServer("adm01");
        Sheet s(settings);
        if (!typed.isEmpty()) {
            s.Edit("port")->selectAll();
            if (typed == "-")
                QTest::keyClick(s.Edit("port"), Qt::Key_Delete);
            else
                QTest::keyClicks(s.Edit("port"), typed);
        }
        for (const QString& radio : clicks) s.Radio(radio)->click();
        QCOMPARE(s.Edit("port")->text(), shown);
        QCOMPARE(s.Edit("port")->isEnabled(), enabled);
        s.sheet.OkButton()->click();
        QCOMPARE(MessageBoxSeam::Take(), QStringList());
        QCOMPARE(QString::fromStdString(settings.GetDbmsTcpPort()), shown);
    }

    // Refusals leave the record as it was; the port's refusal puts the focus on the port.
    void applyRefusesIncompleteOrUnsafeFields_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("auth");
        QTest::addColumn<QStringList>("fields");  // edit name, text, ...
        QTest::addColumn<QString>("message");     // empty: applied
        QTest::addColumn<QString>("fileShown");
        const QString fill = Text(IDS_FILL_ALL_FIELDS), bad = Text(IDS_FILE_NAME_BAD_CHARACTERS);
        QTest::newRow("server without a name")
            << "server"
            << "windowsAuth" << QStringList{"server", "  "} << fill << "x.xml";
        QTest::newRow("Windows without user or password")
            << "server"
            << "windowsAuth" << QStringList{"server", "adm01", "userName", "", "password", ""} << ""
            << "x.xml";
        QTest::newRow("DBMS with a blank user")
            << "server"
            << "dbmsAuth" << QStringList{"server", "adm01", "userName", "  "} << fill << "x.xml";
        QTest::newRow("DBMS with an empty password")
            << "server"
            << "dbmsAuth" << QStringList{"server", "adm01", "password", ""} << fill << "x.xml";
        QTest::newRow("DBMS with a password of blanks")
            << "server"
            << "dbmsAuth" << QStringList{"server", "adm01", "password", "   "} << ""
            << "x.xml";
        QTest::newRow("port 0") << "server"
                                << "windowsAuth" << QStringList{"server", "adm01", "port", "0"}
                                << PORT_RANGE << "x.xml";
        QTest::newRow("port 65536")
            << "server"
            << "windowsAuth" << QStringList{"server", "adm01", "port", "65536"} << PORT_RANGE
            << "x.xml";
        QTest::newRow("no port") << "server"
                                 << "windowsAuth" << QStringList{"server", "adm01", "port", ""}
                                 << PORT_RANGE << "x.xml";
        QTest::newRow("local name gains .xml")
            << "local"
            << "dbmsAuth" << QStringList{"localFile", " calls "} << ""
            << "calls.xml";
        QTest::newRow("local name empty")
            << "local"
            << "dbmsAuth" << QStringList{"localFile", "  "} << fill << "  ";
        QTest::newRow("local name with a folder")
            << "local"
            << "dbmsAuth" << QStringList{"localFile", "sub\\calls.xml"} << bad << "sub\\calls.xml";
        QTest::newRow("local name too long")
            << "local"
            << "dbmsAuth" << QStringList{"localFile", QString(257, 'n')}
            << Text(IDS_FILE_NAME_TOO_LONG) << QString(257, 'n') + ".xml";
    }
    void applyRefusesIncompleteOrUnsafeFields() {
        QFETCH(QString, kind);
        QFETCH(QString, auth);
        QFETCH(QStringList, fields);
        QFETCH(QString, message);
        QFETCH(QString, fileShown);
        ConsoleSettings settings = Record(CallerIdDbNone, DbmsAuthentication);
        settings.SetLocalFileName("x.xml");
        const QString before = Fields(settings);
        Sheet s(settings);
        for (qsizetype i = 0; i + 1 < fields.size(); i += 2)
            s.Edit(fields[i])->setText(fields[i + 1]);
        s.Radio(kind)->click();
        s.Radio(auth)->click();
        if (!message.isEmpty()) MessageBoxSeam::QueueAnswer(QMessageBox::Ok);
        s.sheet.ApplyButton()->click();
        QCOMPARE(MessageBoxSeam::Take(), message.isEmpty() ? QStringList() : QStringList{message});
        QCOMPARE(s.Edit("localFile")->text(), fileShown);
        QCOMPARE(s.sheet.ApplyButton()->isEnabled(), !message.isEmpty());
        if (message == PORT_RANGE) QCOMPARE(s.sheet.focusWidget(), s.Edit("port"));
        if (message.isEmpty())
            QCOMPARE(settings.GetCallerIdDatabaseType(),
                     kind == "local" ? CallerIdDbLocal : CallerIdDbServer);
        else
            QCOMPARE(Fields(settings), before);
    }

    // Fields go into the record as typed (trimmed but the password), within the edits'
    // limits; an untouched record stays unchanged.
    void applyWritesWhatTheUserTyped() {
        {
            ConsoleSettings untouched;
            Sheet s(untouched);
            QVERIFY(!s.sheet.ApplyButton()->isEnabled());
            s.sheet.OkButton()->click();
            QVERIFY(!untouched.IsChanged());
        }
        ConsoleSettings settings;
        Sheet s(settings);
        s.Radio("server")->click();
        QVERIFY(s.sheet.ApplyButton()->isEnabled());
        QVERIFY(!settings.IsChanged());
        for (auto* edit : {s.Edit("server"), s.Edit("userName"), s.Edit("password")}) {
            edit->selectAll();
            QTest::keyClick(edit, Qt::Key_Delete);
        }
        QTest::keyClicks(s.Edit("server"), "  adm01 ");
        QTest::keyClicks(s.Edit("userName"), QString(40, 'u'));
        QTest::keyClicks(s.Edit("password"), " 23456789");
        s.sheet.ApplyButton()->click();
        QCOMPARE(MessageBoxSeam::Take(), QStringList());
        QVERIFY(settings.IsChanged());
        QVERIFY(!s.sheet.ApplyButton()->isEnabled());
        QCOMPARE(settings.GetCallerIdDatabaseType(), CallerIdDbServer);
        QCOMPARE(settings.GetAdmServer(), std::string("adm01"));
        QCOMPARE(settings.GetUserId(), std::string(31, 'u'));
        QCOMPARE(settings.GetPassword(), std::string(" 2345678"));
        QCOMPARE(settings.GetAuthentication(), DbmsAuthentication);
        QCOMPARE(settings.GetDbmsTcpPort(), std::string("52444"));
        QCOMPARE(settings.GetLocalFileName(), std::string("callerIdLocal.xml"));
    }

    // The first apply of the local kind creates the file; nothing ever touches it again,
    // and read-only mode never creates it.
    void localFileIsCreatedOnceAndNeverInReadOnlyMode() {
        const std::string folder =
            m_data->path().toStdString() + "/Orvane/talvex/config/dispatch_console/";
        ConsoleSettings settings = Record(CallerIdDbLocal, DbmsAuthentication);
        settings.SetLocalFileName("calls");
        {
            Sheet s(settings);
            s.sheet.OkButton()->click();
        }
        QCOMPARE(settings.GetLocalFileName(), std::string("calls.xml"));
        QCOMPARE(read_file_bytes(folder + "calls.xml"), std::string(LocalDatabaseXml()));
        write_file_bytes(folder + "calls.xml", "the console's own rows");
        {
            Sheet s(settings);
            s.sheet.OkButton()->click();
        }
        QCOMPARE(read_file_bytes(folder + "calls.xml"), std::string("the console's own rows"));

        int argc = 1;
        char name[] = "caller_id_page_test";
        char* argv[] = {name, nullptr};
        CConsoleCplApp app(argc, argv);
        app.m_readOnly = true;
        settings.SetLocalFileName("read-only.xml");
        Sheet s(settings);
        for (QWidget* control : s.page->findChildren<QWidget*>())
            QVERIFY2(!control->isEnabled(), qPrintable(control->objectName()));
        s.sheet.OkButton()->click();
        QVERIFY(!QFile::exists(QString::fromStdString(folder + "read-only.xml")));
    }

private:
    std::unique_ptr<QTemporaryDir> m_data;
};

QTEST_MAIN(CallerIdPageTest)
#include "caller_id_page_test.moc"
