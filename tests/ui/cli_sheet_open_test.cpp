// `talvex-config set` while the sheet is open on the machine: it must not race the
// sheet's OK, so it changes nothing and exits 3; once the sheet is closed it goes through.
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QPushButton>
#include <QTimer>
#include <QtTest>
#include <memory>

#include "app/ui/applet_start.h"
#include "code/console_setting_parser.h"
#include "tests/support/temp_dir.h"

class CliSheetOpenTest : public QObject {
    Q_OBJECT

    std::unique_ptr<CConsoleCplApp> m_app;
    std::unique_ptr<TempDir> m_data;

    std::string settings_path() const {
        return m_data->file("Orvane/talvex/config/dispatch_console/TalvexSettings.INI");
    }

    // The command as a process of its own; its exit code, stderr into `err`.
    int set_csle_log_off(std::string& err) {
        const std::string errFile = m_data->file("err");
        const pid_t child = fork();
        if (child == 0) {
            if (!freopen(errFile.c_str(), "w", stderr)) _exit(126);
            execl(TALVEX_CONFIG, TALVEX_CONFIG, "set", "CsleLog=False", nullptr);
            _exit(127);
        }
        int status = 0;
        const bool exited = waitpid(child, &status, 0) == child && WIFEXITED(status);
        err = read_file_bytes(errFile);
        return exited ? WEXITSTATUS(status) : -1;
    }

private slots:
    void initTestCase() {
        // A namespace of its own where it may: a sheet open elsewhere on this machine
        // (another checkout's tests) must not be taken for this one.
        if (geteuid() == 0) QVERIFY(unshare(CLONE_NEWNET) == 0);
        int argc = 0;
        m_app = std::make_unique<CConsoleCplApp>(argc, nullptr);
        m_app->m_readOnly = false;
        m_data = std::make_unique<TempDir>("talvex-cli-sheet");
        qputenv("PROGRAMDATA", QByteArray::fromStdString(m_data->path().string()));
    }

    void setWhileTheSheetIsOpenChangesNothing() {
        std::filesystem::create_directories(std::filesystem::path(settings_path()).parent_path());
        QVERIFY(SaveConsoleSettings(settings_path().c_str(), ConsoleSettings()));
        const std::string before = read_file_bytes(settings_path());

        int code = -1;
        std::string err;
        QTimer poll;
        connect(&poll, &QTimer::timeout, this, [&] {
            if (auto* sheet = qobject_cast<ExCPropertySheet*>(QApplication::activeModalWidget())) {
                poll.stop();
                code = set_csle_log_off(err);
                sheet->CancelButton()->click();
            }
        });
        poll.start(5);
        {
            CplApplet applet;
            QCOMPARE(applet.Run(), 0);
        }
        QCOMPARE(code, 3);
        QVERIFY2(err.find("sheet is open") != std::string::npos, err.c_str());
        QCOMPARE(read_file_bytes(settings_path()), before);

        QCOMPARE(set_csle_log_off(err), 0);
        ConsoleSettings after;
        QVERIFY(LoadConsoleSettings(settings_path().c_str(), after));
        QVERIFY(!after.GetConsoleLog());
    }
};

QTEST_MAIN(CliSheetOpenTest)
#include "cli_sheet_open_test.moc"
