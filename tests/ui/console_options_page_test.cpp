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

// Installs "<name>=<fixture>" entries as Talvex<name>.DLL.
void install(const TempDir& dir, const QString& libraries) {
    for (const QString& entry : libraries.split(' ', Qt::SkipEmptyParts))
        std::filesystem::copy_file(
            TALVEX_LANGUAGE_DLL_DIR "/" + entry.section('=', 1).toStdString() + ".dll",
            dir.file("Talvex" + entry.section('=', 0, 0).toStdString() + ".DLL"));
}

const char* const kThree = "DEU=german32 FRA=french64 ITA=italian_old64";
const char* const kOffered = "EN=1033|French (France)=1036|German (Germany)=1031";
// The libraries, the folder (null: the temporary one), the list shown ("text=data|...", "EN"
// for English) and the log's report; the language stored and applied; the selected row.
const struct List {
    const char *name, *installed, *folder, *items, *report;
    uint32_t stored, applied;
    int selected;
    bool readOnly, enabled, changed;
} kLists[] = {
    {"stored language offered", kThree, nullptr, kOffered, "", 1031, 1031, 2, false, true, false},
    // Read-only mode applies what it shows, so the language it could not offer becomes English.
    {"read-only, not offered", kThree, nullptr, kOffered, "", 1040, 1033, 0, true, false, true},
    // German goes in front; the default English then goes behind the library's own English.
    {"English library", "AEN=english64 DEU=german32", nullptr,
     "German (Germany)=1031|EN=1033|EN=1033", "", 1033, 1033, 1, false, true, false},
    {"old build", "ITA=italian_old64", nullptr, "EN=1033", "", 1036, 1033, 0, false, false, true},
    {"folder unknown: stored kept", "", "", "",
     "Unable to determine where the Talvex localized resources DLL are stored.", 1031, 1031, -1,
     false, true, false},
};

// The page's fields of the record: Console Log, BIOS time, Activity log, Page History, language.
QString Options(const ConsoleSettings& s) {
    QString options;
    for (bool on : {s.GetConsoleLog(), s.GetUpdateDateTimeBios(), s.GetSaveActivityLogToFile(),
                    s.GetSavePageHistoryToFile()})
        options += on ? '1' : '0';
    return options + ' ' + QString::number(s.GetLanguageLocale());
}

// Each control by its spoken name, and the Options() once it is changed from "0110 1033".
const struct Option {
    const char *name, *applied;
} kControls[] = {
    {"Console Log enabled", "1110 1033"},       {"Update PC date & time BIOS", "0010 1033"},
    {"Save Activity log to file", "0100 1033"}, {"Save Page History to file", "0111 1033"},
    {"Language Locale:", "0110 1036"},
};

// The record read back from a file of the defaults with `edit` applied: nothing changed yet.
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
    std::unique_ptr<CConsoleCplApp> m_app;

private slots:
    void initTestCase() {
        // Language names in English whatever the machine's language.
        std::setlocale(LC_ALL, "C.UTF-8");
        int argc = 0;
        m_app = std::make_unique<CConsoleCplApp>(argc, nullptr);
    }
    void init() { m_app->m_readOnly = false; }

    void languageList_data() { AddCases(kLists); }
    void languageList() {
        const List& c = CurrentCase(kLists);
        m_app->m_readOnly = c.readOnly;
        TempDir dir;
        install(dir, c.installed);
        ConsoleSettings record =
            loaded(dir, [&](ConsoleSettings& s) { s.SetLanguageLocale(c.stored); });
        LogCapture log;
        Page open(&record, c.folder ? QString(c.folder).toStdWString() : dir.path().wstring());
        ExCComboBox* list = open.page->LanguageList();
        QStringList items;
        for (int i = 0; i < list->count(); ++i)
            items << list->itemText(i) + '=' + QString::number(list->ItemData(i));
        QCOMPARE(items.join('|'), QString(c.items).replace("EN", "English (United States)"));
        QCOMPARE(list->currentIndex(), c.selected);
        QCOMPARE(list->isEnabled(), c.enabled);
        QVERIFY(!open.sheet.ApplyButton()->isEnabled());

        QTest::mouseClick(open.sheet.OkButton(), Qt::LeftButton);
        QCOMPARE(record.GetLanguageLocale(), c.applied);
        QCOMPARE(record.IsChanged(), c.changed);
        using Lines = std::vector<std::string>;
        QCOMPARE(log.messages(), *c.report ? Lines{c.report} : Lines());
    }

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
        QWidget* control = open.Find(c.name);
        QTest::keyClick(control, qobject_cast<QCheckBox*>(control) ? Qt::Key_Space : Qt::Key_Down);
        QVERIFY(open.sheet.ApplyButton()->isEnabled() && !record.IsChanged());
        QCOMPARE(Options(record), QString("0110 1033"));
        QTest::mouseClick(open.sheet.ApplyButton(), Qt::LeftButton);
        QVERIFY(!open.sheet.ApplyButton()->isEnabled() && record.IsChanged());
        QCOMPARE(Options(record), QString(c.applied));
    }
};

QTEST_MAIN(ConsoleOptionsPageTest)

#include "console_options_page_test.moc"
