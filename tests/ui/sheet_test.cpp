// The real applet and sheet, driven as a user drives them: what is shown, what reaches
// the settings file after OK, Apply and Cancel, and `talvex-config set` meanwhile.
#include <sched.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>

#include "app/ui/ExCPropertyPage.h"
#include "code/console_setting_parser.h"
#include "tests/ui/gui_test.h"

class SheetTest : public QObject {
    Q_OBJECT

    std::unique_ptr<CConsoleCplApp> m_app;
    std::unique_ptr<ProgramData> m_data;

    std::string settings_path() const { return m_data->folder() + "TalvexSettings.INI"; }

    static void change_a_switch(ExCPropertySheet& sheet) {
        Control<QCheckBox>(sheet.GetPage(0), "Console Log enabled")->click();
    }

    static std::pair<int, QString> set_csle_log_off() {
        QProcess set;
        set.start(TALVEX_CONFIG, {"set", "CsleLog=False"});
        set.waitForFinished();
        return {set.exitCode(), set.readAllStandardError()};
    }

    // What the notice line says (empty when it is hidden).
    static QString notice(ExCPropertySheet& sheet) {
        return sheet.findChild<QLabel*>()->isVisible() ? sheet.Notice() : QString();
    }

private slots:
    void initTestCase() {
        // A namespace of its own where it may: a sheet open elsewhere on this machine
        // (another checkout's tests) must not be taken for this one.
        if (geteuid() == 0) QVERIFY(unshare(CLONE_NEWNET) == 0);
        int argc = 0;
        m_app = std::make_unique<CConsoleCplApp>(argc, nullptr);
    }

    void init() {
        m_app->m_readOnly = false;
        m_data = std::make_unique<ProgramData>();
        MessageBoxSeam::Reset();
    }

    // Change, then OK over a file that could not be used whole and that someone changed
    // meanwhile: the sheet asks and stays open on No; on Yes the restart notice shows before
    // the file is written, and the file on disk survives as the .bak copy.
    void okOverAChangedOrUnusableFileAsksThenKeepsIt() {
        std::filesystem::create_directories(m_data->folder());
        write_file_bytes(settings_path(), "[FileInfo]\nversion = 1\nversion = 2\n");
        const std::string theirs = "[FileInfo]\r\nversion = 1\r\n";
        bool untouched_before_answer = false;
        std::string after_no;  // stays empty unless the sheet stays open on No
        QString shown;
        RunApplet([&](ExCPropertySheet& sheet) {
            shown = notice(sheet);
            change_a_switch(sheet);
            write_file_bytes(settings_path(), theirs);
            MessageBoxSeam::QueueAnswer(QMessageBox::No);
            sheet.OkButton()->click();
            if (sheet.isVisible()) after_no = read_file_bytes(settings_path());
            MessageBoxSeam::QueueAnswer(QMessageBox::Yes);
            MessageBoxSeam::QueueAnswer(QMessageBox::Ok, [&] {
                untouched_before_answer =
                    read_file_bytes(settings_path()) == theirs &&
                    !TakeFileSnapshot((settings_path() + ".bak").c_str()).exists;
            });
            sheet.OkButton()->click();
        });
        QCOMPARE(after_no, theirs);
        QCOMPARE(MessageBoxSeam::Take().size(), 3);  // asked twice, then the restart notice
        QVERIFY(untouched_before_answer);
        for (const char* part : {"could not be loaded", "Line 3", "TalvexSettings.INI.bak"})
            QVERIFY2(shown.contains(part), qPrintable(shown));
        QCOMPARE(read_file_bytes(settings_path() + ".bak"), theirs);
        ConsoleSettings saved;
        QVERIFY(LoadConsoleSettings(settings_path().c_str(), saved));
        QVERIFY(!saved.GetConsoleLog());
    }

    // Nobody touched the file (there is none): OK asks nothing before the restart notice.
    void okOverAnUntouchedFileAsksNothing() {
        MessageBoxSeam::QueueAnswer(QMessageBox::Yes);  // for a question that must not come
        MessageBoxSeam::QueueAnswer(QMessageBox::Ok);
        RunApplet([](ExCPropertySheet& sheet) {
            change_a_switch(sheet);
            sheet.OkButton()->click();
        });
        QCOMPARE(
            MessageBoxSeam::Take(),
            QStringList{QString::fromWCharArray(kRestartNoticeFormat)
                            .replace(QLatin1String("%ls"), QString::fromWCharArray(kProductName))});
    }

    // Read-only: every control of both pages disabled; OK writes nothing and says nothing
    // more, even when a language that is not installed was shown as English. Pages switch
    // from anywhere in the sheet.
    void readOnlyDisablesEveryControlAndSavesNothing() {
        m_app->m_readOnly = true;
        std::filesystem::create_directories(m_data->folder());
        ConsoleSettings stored;
        stored.SetLanguageLocale(1049);
        QVERIFY(SaveConsoleSettings(settings_path().c_str(), stored));
        const std::string before = read_file_bytes(settings_path());
        MessageBoxSeam::QueueAnswer(QMessageBox::Ok);
        QStringList enabled;
        int controls = 0, reached = -1, back = -1;
        QString shown;
        RunApplet([&](ExCPropertySheet& sheet) {
            shown = notice(sheet);
            sheet.activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(&sheet));
            QTest::keyClick(sheet.OkButton(), Qt::Key_Tab, Qt::ControlModifier);
            reached = sheet.GetActiveIndex();
            QTest::keyClick(sheet.OkButton(), Qt::Key_Backtab,
                            Qt::ControlModifier | Qt::ShiftModifier);
            back = sheet.GetActiveIndex();
            for (int i = 0; i < sheet.GetPageCount(); ++i) {
                for (QWidget* w : sheet.GetPage(i)->findChildren<QWidget*>()) {
                    if (!qobject_cast<QAbstractButton*>(w) && !qobject_cast<QLineEdit*>(w) &&
                        !qobject_cast<QComboBox*>(w))
                        continue;
                    ++controls;
                    if (w->isEnabled()) enabled << w->accessibleName();
                }
            }
            sheet.OkButton()->click();
        });
        QCOMPARE(std::pair(reached, back), std::pair(1, 0));
        QVERIFY2(shown.contains("not a member of Talvex_Supervisors"), qPrintable(shown));
        QVERIFY(controls > 10);
        QCOMPARE(enabled, QStringList());
        QCOMPARE(MessageBoxSeam::Take(), QStringList());
        QCOMPARE(read_file_bytes(settings_path()), before);
    }

    // `set` must not race the sheet's OK: while the sheet is open it changes nothing and
    // exits 3; once the sheet is closed it goes through. Apply, then Cancel, writes nothing.
    void setWhileTheSheetIsOpenChangesNothing() {
        std::filesystem::create_directories(m_data->folder());
        QVERIFY(SaveConsoleSettings(settings_path().c_str(), ConsoleSettings()));
        const std::string before = read_file_bytes(settings_path());
        std::pair<int, QString> during;
        QString line = "?";
        MessageBoxSeam::QueueAnswer(QMessageBox::Ok);
        QCOMPARE(RunApplet([&](ExCPropertySheet& sheet) {
                     line = notice(sheet);
                     change_a_switch(sheet);
                     sheet.ApplyButton()->click();
                     during = set_csle_log_off();
                     sheet.CancelButton()->click();
                 }),
                 0);
        QCOMPARE(line, QString());  // nothing to say, no notice line
        QCOMPARE(during.first, 3);
        QVERIFY2(during.second.contains("sheet is open"), qPrintable(during.second));
        QCOMPARE(read_file_bytes(settings_path()), before);
        QCOMPARE(MessageBoxSeam::Take(), QStringList());

        QCOMPARE(set_csle_log_off().first, 0);
    }
};

QTEST_MAIN(SheetTest)
#include "sheet_test.moc"
