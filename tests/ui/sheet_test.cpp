// The real applet and sheet, driven as a user drives them: what is shown, and what
// reaches the settings file after OK, Apply and Cancel.
#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QtTest>
#include <functional>
#include <memory>

#include "app/string_table.h"
#include "app/ui/ExCPropertyPage.h"
#include "app/ui/applet_start.h"
#include "app/ui/message_box.h"
#include "code/console_setting_parser.h"
#include "tests/support/temp_dir.h"

class SheetTest : public QObject {
    Q_OBJECT

    std::unique_ptr<CConsoleCplApp> m_app;
    std::unique_ptr<TempDir> m_data;

    std::string settings_path() const {
        return m_data->file("Orvane/talvex/config/dispatch_console/TalvexSettings.INI");
    }

    void write_settings(const ConsoleSettings& settings) {
        std::filesystem::create_directories(std::filesystem::path(settings_path()).parent_path());
        QVERIFY(SaveConsoleSettings(settings_path().c_str(), settings));
    }

    // Runs the applet as the tool does; `act` gets the sheet once it shows and must close it.
    int run_applet(const std::function<void(ExCPropertySheet&)>& act) {
        QTimer poll;
        connect(&poll, &QTimer::timeout, this, [&] {
            if (auto* sheet = qobject_cast<ExCPropertySheet*>(QApplication::activeModalWidget())) {
                poll.stop();
                act(*sheet);
            }
        });
        poll.start(5);
        CplApplet applet;
        return applet.Run();
    }

    static void change_a_switch(ExCPropertySheet& sheet) {
        const auto boxes = sheet.GetPage(0)->findChildren<QCheckBox*>();
        QVERIFY(!boxes.isEmpty());
        boxes.first()->click();
    }

    static QString restart_notice() {
        return QString::fromWCharArray(kRestartNoticeFormat)
            .replace(QLatin1String("%ls"), QString::fromWCharArray(kProductName));
    }

private slots:
    void initTestCase() {
        int argc = 0;
        m_app = std::make_unique<CConsoleCplApp>(argc, nullptr);
    }

    void init() {
        m_app->m_readOnly = false;
        m_data = std::make_unique<TempDir>("talvex-sheet");
        qputenv("PROGRAMDATA", QByteArray::fromStdString(m_data->path().string()));
        MessageBoxSeam::Reset();
    }

    void okWithoutChangeWritesNothing() {
        write_settings(ConsoleSettings());
        const FileSnapshot before = TakeFileSnapshot(settings_path().c_str());
        int reached = -1, back = -1;
        QCOMPARE(run_applet([&](ExCPropertySheet& sheet) {
                     // Both pages shown, so both are applied; pages switch from anywhere.
                     sheet.activateWindow();
                     QVERIFY(QTest::qWaitForWindowActive(&sheet));
                     QTest::keyClick(sheet.OkButton(), Qt::Key_Tab, Qt::ControlModifier);
                     reached = sheet.GetActiveIndex();
                     QTest::keyClick(sheet.OkButton(), Qt::Key_Backtab,
                                     Qt::ControlModifier | Qt::ShiftModifier);
                     back = sheet.GetActiveIndex();
                     sheet.OkButton()->click();
                 }),
                 0);
        QCOMPARE(reached, 1);
        QCOMPARE(back, 0);
        QCOMPARE(MessageBoxSeam::Take(), QStringList());
        QVERIFY(TakeFileSnapshot(settings_path().c_str()) == before);
    }

    void changeThenOkShowsTheNoticeThenWrites() {
        bool written_before_answer = true;
        MessageBoxSeam::QueueAnswer(QMessageBox::Ok, [&] {
            written_before_answer = TakeFileSnapshot(settings_path().c_str()).exists;
        });
        run_applet([](ExCPropertySheet& sheet) {
            change_a_switch(sheet);
            sheet.OkButton()->click();
        });
        QCOMPARE(MessageBoxSeam::Take(), QStringList{restart_notice()});
        QVERIFY(!written_before_answer);
        ConsoleSettings saved;
        QVERIFY(LoadConsoleSettings(settings_path().c_str(), saved));
        QVERIFY(saved.GetUpdateDateTimeBios() != ConsoleSettings().GetUpdateDateTimeBios() ||
                saved.GetSavePageHistoryToFile() != ConsoleSettings().GetSavePageHistoryToFile());
    }

    void applyThenCancelWritesNothing() {
        bool apply_enabled = false;
        run_applet([&](ExCPropertySheet& sheet) {
            change_a_switch(sheet);
            apply_enabled = sheet.ApplyButton()->isEnabled();
            sheet.ApplyButton()->click();
            sheet.CancelButton()->click();
        });
        QVERIFY(apply_enabled);
        QCOMPARE(MessageBoxSeam::Take(), QStringList());
        QVERIFY(!TakeFileSnapshot(settings_path().c_str()).exists);
    }

    void readOnlyDisablesEveryControlAndSavesNothing() {
        m_app->m_readOnly = true;
        QStringList enabled;
        int controls = 0;
        run_applet([&](ExCPropertySheet& sheet) {
            for (int i = 0; i < sheet.GetPageCount(); ++i) {
                sheet.SetActivePage(i);
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
        QVERIFY(controls > 10);
        QCOMPARE(enabled, QStringList());
        QVERIFY(!TakeFileSnapshot(settings_path().c_str()).exists);
    }

    void theNoticeSaysWhatTheUserShouldKnow_data() {
        QTest::addColumn<bool>("readOnly");
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("normal") << false << QByteArray() << QStringList();
        QTest::newRow("read-only")
            << true << QByteArray() << QStringList{"not a member of Talvex_Supervisors"};
        QTest::newRow("file not usable")
            << false << QByteArray("[FileInfo]\nversion = 1\nversion = 2\n")
            << QStringList{"could not be loaded", "Line 3", "TalvexSettings.INI.bak"};
    }

    void theNoticeSaysWhatTheUserShouldKnow() {
        QFETCH(bool, readOnly);
        QFETCH(QByteArray, file);
        QFETCH(QStringList, expected);
        m_app->m_readOnly = readOnly;
        if (!file.isEmpty()) {
            write_settings(ConsoleSettings());
            write_file_bytes(settings_path(), file.toStdString());
        }
        QString notice;
        bool shown = false;
        MessageBoxSeam::QueueAnswer(QMessageBox::Ok);
        run_applet([&](ExCPropertySheet& sheet) {
            notice = sheet.Notice();
            shown = sheet.findChild<QLabel*>()->isVisible();
            if (!readOnly) change_a_switch(sheet);
            sheet.OkButton()->click();
        });
        QCOMPARE(shown, !expected.isEmpty());
        for (const QString& part : expected) QVERIFY2(notice.contains(part), qPrintable(notice));
        // A file that could not be used whole survives a save as the .bak copy.
        if (!file.isEmpty())
            QCOMPARE(QByteArray::fromStdString(read_file_bytes(settings_path() + ".bak")), file);
    }

    void aFileChangedBehindTheSheetIsOverwrittenOnlyWhenTheUserSaysSo() {
        write_settings(ConsoleSettings());
        const std::string theirs = "[FileInfo]\r\nversion = 1\r\n";
        bool still_open_after_no = false;
        std::string after_no;
        run_applet([&](ExCPropertySheet& sheet) {
            change_a_switch(sheet);
            write_file_bytes(settings_path(), theirs);
            MessageBoxSeam::QueueAnswer(QMessageBox::No);
            sheet.OkButton()->click();
            still_open_after_no = sheet.isVisible();
            after_no = read_file_bytes(settings_path());
            MessageBoxSeam::QueueAnswer(QMessageBox::Yes);
            MessageBoxSeam::QueueAnswer(QMessageBox::Ok);
            sheet.OkButton()->click();
        });
        QVERIFY(still_open_after_no);
        QCOMPARE(after_no, theirs);
        const QStringList shown = MessageBoxSeam::Take();
        QCOMPARE(shown.size(), 3);
        QCOMPARE(shown.last(), restart_notice());
        QVERIFY(read_file_bytes(settings_path()) != theirs);
    }
};

QTEST_MAIN(SheetTest)
#include "sheet_test.moc"
