// The Console Options page on a real sheet, with real language libraries in a
// temporary Language folder: what the list offers and selects, what Apply writes.
#include <QCheckBox>
#include <clocale>

#include "app/ui/CsleLogPropertyPage.h"
#include "app/ui/ExCComboBox.h"
#include "code/console_setting_parser.h"
#include "tests/support/log_capture.h"
#include "tests/ui/gui_test.h"

namespace {

using Page = PageSheet<CCsleLogPropertyPage>;
const QString kEnglish = QStringLiteral("English (United States)");

// Installs "<name>=<fixture>" entries as Talvex<name>.DLL.
void install(const TempDir& dir, const QString& libraries) {
    for (const QString& entry : libraries.split(' ', Qt::SkipEmptyParts)) {
        const QStringList parts = entry.split('=');
        write_file_bytes(dir.file("Talvex" + parts[0].toStdString() + ".DLL"),
                         read_file_bytes(std::string(TALVEX_LANGUAGE_DLL_DIR) + "/" +
                                         parts[1].toStdString() + ".dll"));
    }
}

const char* const kThree = "DEU=german32 FRA=french64 ITA=italian_old64";
const char* const kOffered = "EN=1033|French (France)=1036|German (Germany)=1031";
const struct List {
    const char *name, *installed, *folder /* null: the temporary one */;
    bool readOnly;
    uint32_t stored;
    const char* items;  // "text=data|...", "EN" standing for kEnglish
    int selected;
    bool enabled;
    uint32_t applied;
    bool changed;
    const char* report;
} kLists[] = {
    {"stored language offered", kThree, nullptr, false, 1031, kOffered, 2, true, 1031, false, ""},
    // Read-only mode applies what it shows, so the language it could not offer becomes English.
    {"read-only, older build not offered: English stored", kThree, nullptr, true, 1040, kOffered, 0,
     false, 1033, true, ""},
    // German goes in front, and the default then belongs at the end, behind the
    // library's own English entry.
    {"English library: the first English entry is selected", "AEN=english64 DEU=german32", nullptr,
     false, 1033, "German (Germany)=1031|EN=1033|EN=1033", 1, true, 1033, false, ""},
    {"no library of this version: English only, disabled", "ITA=italian_old64", nullptr, false,
     1036, "EN=1033", 0, false, 1033, true, ""},
    {"no folder: English only, disabled", "", "/nonexistent/Language", false, 1033, "EN=1033", 0,
     false, 1033, false, ""},
    {"folder unknown: empty list, stored language kept", "", "", false, 1031, "", -1, true, 1031,
     false, "Unable to determine where the Talvex localized resources DLL are stored."},
};

// The page's fields of the record: Console Log, BIOS time, Activity log, Page History, language.
QString Options(const ConsoleSettings& s) {
    return QString::fromStdString(std::string{char('0' + s.GetConsoleLog()),
                                              char('0' + s.GetUpdateDateTimeBios()),
                                              char('0' + s.GetSaveActivityLogToFile()),
                                              char('0' + s.GetSavePageHistoryToFile()), ' '} +
                                  std::to_string(s.GetLanguageLocale()));
}

// Each control by its spoken name, and the Options() once it is changed from "0110 1033".
const struct Option {
    const char *name, *applied;
} kControls[] = {
    {"Console Log enabled", "1110 1033"},       {"Update PC date & time BIOS", "0010 1033"},
    {"Save Activity log to file", "0100 1033"}, {"Save Page History to file", "0111 1033"},
    {"Language Locale:", "0110 1036"},
};

// The record as the tool holds it after reading a file of the defaults with `edit`
// applied: nothing changed yet.
ConsoleSettings loaded(const TempDir& dir, const std::function<void(ConsoleSettings&)>& edit) {
    ConsoleSettings saved, record;
    edit(saved);
    const std::string file = dir.file("TalvexSettings.INI");
    if (!SaveConsoleSettings(file.c_str(), saved) || !LoadConsoleSettings(file.c_str(), record))
        qFatal("the settings file could not be written and read back");
    return record;
}

}  // namespace

class ConsoleOptionsPageTest : public QObject {
    Q_OBJECT
public:
    explicit ConsoleOptionsPageTest(CConsoleCplApp* app) : m_app(app) {}

private slots:
    void init() { m_app->m_readOnly = false; }

    void languageList_data() { AddCases(kLists); }
    void languageList() {
        const List& c = CurrentCase(kLists);
        m_app->m_readOnly = c.readOnly;
        TempDir dir;
        install(dir, c.installed);
        const std::wstring path =
            !c.folder ? dir.path().wstring() : QString(c.folder).toStdWString();
        ConsoleSettings record =
            loaded(dir, [&](ConsoleSettings& s) { s.SetLanguageLocale(c.stored); });
        LogCapture log;
        Page open(&record, path);
        ExCComboBox* list = open.page->LanguageList();
        QStringList items;
        for (int i = 0; i < list->count(); ++i)
            items << list->itemText(i) + '=' + QString::number(list->ItemData(i));
        QCOMPARE(items.join('|'), QString(c.items).replace("EN", kEnglish));
        QCOMPARE(list->currentIndex(), c.selected);
        QCOMPARE(list->isEnabled(), c.enabled);
        QVERIFY(!open.sheet.ApplyButton()->isEnabled());

        QTest::mouseClick(open.sheet.OkButton(), Qt::LeftButton);
        QCOMPARE(record.GetLanguageLocale(), c.applied);
        QCOMPARE(record.IsChanged(), c.changed);
        const std::vector<std::string> reports = log.messages();
        QCOMPARE(reports.empty() ? "" : reports.front(), std::string(c.report));
        QVERIFY(reports.size() <= 1);
    }

    // Each control writes its own field, and only a user's action enables Apply.
    void controlsWriteTheirFields_data() { AddCases(kControls); }
    void controlsWriteTheirFields() {
        const Option& c = CurrentCase(kControls);
        TempDir dir;
        install(dir, "FRA=french64");
        ConsoleSettings record = loaded(dir, [](ConsoleSettings& s) {
            s.DisableConsoleLog();
            s.DisableSavePageHistoryToFile();
        });
        Page open(&record, dir.path().wstring());
        QVERIFY(!open.sheet.ApplyButton()->isEnabled());
        QWidget* control = open.Find(c.name);
        QTest::keyClick(control, qobject_cast<QCheckBox*>(control) ? Qt::Key_Space : Qt::Key_Down);
        QVERIFY(open.sheet.ApplyButton()->isEnabled() && !record.IsChanged());
        QCOMPARE(Options(record), QString("0110 1033"));
        QTest::mouseClick(open.sheet.ApplyButton(), Qt::LeftButton);
        QVERIFY(!open.sheet.ApplyButton()->isEnabled() && record.IsChanged());
        QCOMPARE(Options(record), QString(c.applied));
    }

private:
    CConsoleCplApp* m_app;
};

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    // Language names in English whatever the machine's language.
    std::setlocale(LC_ALL, "C.UTF-8");
    CConsoleCplApp app(argc, argv);
    ConsoleOptionsPageTest test(&app);
    return QTest::qExec(&test, argc, argv);
}

#include "console_options_page_test.moc"
