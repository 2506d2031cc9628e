// The Console Options page on a real sheet, with real language libraries in a
// temporary Language folder: what the list offers and selects, what Apply writes.
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <clocale>
#include <memory>

#include "app/ui/CsleLogPropertyPage.h"
#include "app/ui/ExCComboBox.h"
#include "app/ui/ExCPropertySheet.h"
#include "app/ui/applet_start.h"
#include "code/console_setting_parser.h"
#include "tests/support/log_capture.h"
#include "tests/support/temp_dir.h"

namespace {

// "Talvex<name>.DLL=<fixture>": the libraries a row installs.
using Installed = QStringList;
const QString kEnglish = QStringLiteral("English (United States)");

// The sheet as the tool opens it, with only this page.
struct OpenSheet {
    OpenSheet(ConsoleSettings& settings, std::wstring folder)
        : sheet(QStringLiteral("Talvex"), nullptr, 0),
          page(std::make_unique<CCsleLogPropertyPage>(&settings, std::move(folder))) {
        sheet.AddPage(page.get());
        sheet.Open();
    }
    QCheckBox* box(const char* spoken) const {
        for (QCheckBox* b : page->findChildren<QCheckBox*>())
            if (b->accessibleName() == QLatin1String(spoken)) return b;
        return nullptr;
    }
    ExCPropertySheet sheet;
    std::unique_ptr<CCsleLogPropertyPage> page;
};

void install(const TempDir& dir, const Installed& libraries) {
    for (const QString& entry : libraries) {
        const QStringList parts = entry.split(QLatin1Char('='));
        write_file_bytes(dir.file(parts[0].toStdString()),
                         read_file_bytes(std::string(TALVEX_LANGUAGE_DLL_DIR) + "/" +
                                         parts[1].toStdString() + ".dll"));
    }
}

// "text=data" of every item, in list order.
QStringList items(const ExCComboBox* list) {
    QStringList out;
    for (int i = 0; i < list->count(); ++i)
        out << list->itemText(i) + QLatin1Char('=') + QString::number(list->ItemData(i));
    return out;
}

// The page's controls by their spoken names, with the record field each one writes.
struct Control {
    const char* spoken;
    uint32_t (*field)(const ConsoleSettings&);
};
const Control kControls[] = {
    {"Console Log enabled", [](const ConsoleSettings& s) -> uint32_t { return s.GetConsoleLog(); }},
    {"Update PC date & time BIOS",
     [](const ConsoleSettings& s) -> uint32_t { return s.GetUpdateDateTimeBios(); }},
    {"Save Activity log to file",
     [](const ConsoleSettings& s) -> uint32_t { return s.GetSaveActivityLogToFile(); }},
    {"Save Page History to file",
     [](const ConsoleSettings& s) -> uint32_t { return s.GetSavePageHistoryToFile(); }},
    {"Language Locale:", [](const ConsoleSettings& s) { return s.GetLanguageLocale(); }},
};
constexpr int kControlCount = static_cast<int>(std::size(kControls));
constexpr int kLanguage = kControlCount - 1;

// The record as the tool holds it after reading a settings file with `edit` applied
// to the defaults: nothing changed yet.
template <typename Edit>
ConsoleSettings loaded(const TempDir& dir, Edit edit) {
    ConsoleSettings saved;
    edit(saved);
    const std::string file = dir.file("TalvexSettings.INI");
    ConsoleSettings record;
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

    void languageList_data() {
        QTest::addColumn<Installed>("installed");
        QTest::addColumn<QString>("folder");  // "": the temporary one, "-": none known
        QTest::addColumn<uint>("stored");
        QTest::addColumn<QStringList>("expectedItems");
        QTest::addColumn<int>("selected");
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<uint>("applied");
        QTest::addColumn<bool>("changed");
        QTest::addColumn<QStringList>("reports");

        const Installed frenchGerman = {"TalvexDEU.DLL=german32", "TalvexFRA.DLL=french64",
                                        "TalvexITA.DLL=italian_old64"};
        const QStringList threeLanguages = {kEnglish + "=1033", "French (France)=1036",
                                            "German (Germany)=1031"};
        QTest::newRow("stored language offered") << frenchGerman << "" << 1031u << threeLanguages
                                                 << 2 << true << 1031u << false << QStringList();
        QTest::newRow("older build not offered: English, stored on apply")
            << frenchGerman << "" << 1040u << threeLanguages << 0 << true << 1033u << true
            << QStringList();
        // Found TalvexAEN, TalvexDEU: German goes in front, and the default then
        // belongs at the end, behind the library's own English entry.
        QTest::newRow("English library: the first English entry is selected")
            << Installed{"TalvexAEN.DLL=english64", "TalvexDEU.DLL=german32"} << "" << 1033u
            << QStringList{"German (Germany)=1031", kEnglish + "=1033", kEnglish + "=1033"} << 1
            << true << 1033u << false << QStringList();
        QTest::newRow("no library of this version: English only, disabled")
            << Installed{"TalvexITA.DLL=italian_old64"} << "" << 1036u
            << QStringList{kEnglish + "=1033"} << 0 << false << 1033u << true << QStringList();
        QTest::newRow("no folder: English only, disabled")
            << Installed() << "/nonexistent/Language" << 1033u << QStringList{kEnglish + "=1033"}
            << 0 << false << 1033u << false << QStringList();
        QTest::newRow("folder unknown: empty list, stored language kept")
            << Installed() << "-" << 1031u << QStringList() << -1 << true << 1031u << false
            << QStringList{
                   "Unable to determine where the Talvex localized resources DLL are stored."};
    }

    void languageList() {
        QFETCH(Installed, installed);
        QFETCH(QString, folder);
        QFETCH(uint, stored);
        QFETCH(QStringList, expectedItems);
        QFETCH(int, selected);
        QFETCH(bool, enabled);
        QFETCH(uint, applied);
        QFETCH(bool, changed);
        QFETCH(QStringList, reports);

        TempDir dir;
        install(dir, installed);
        const std::wstring path = folder.isEmpty()               ? dir.path().wstring()
                                  : folder == QLatin1String("-") ? std::wstring()
                                                                 : folder.toStdWString();
        ConsoleSettings record =
            loaded(dir, [stored](ConsoleSettings& s) { s.SetLanguageLocale(stored); });

        LogCapture log;
        OpenSheet open(record, path);
        ExCComboBox* list = open.page->LanguageList();
        QCOMPARE(items(list), expectedItems);
        QCOMPARE(list->currentIndex(), selected);
        QCOMPARE(list->isEnabled(), enabled);
        QVERIFY(!open.sheet.ApplyButton()->isEnabled());

        QTest::mouseClick(open.sheet.OkButton(), Qt::LeftButton);
        QCOMPARE(record.GetLanguageLocale(), applied);
        QCOMPARE(record.IsChanged(), changed);
        QStringList shown;
        for (const std::string& m : log.messages()) shown << QString::fromStdString(m);
        QCOMPARE(shown, reports);
    }

    // Each control writes its own field, and only a user's action enables Apply.
    void controlsWriteTheirFields_data() {
        QTest::addColumn<int>("control");
        for (int i = 0; i < kControlCount; ++i) QTest::newRow(kControls[i].spoken) << i;
    }

    void controlsWriteTheirFields() {
        QFETCH(int, control);
        TempDir dir;
        install(dir, {"TalvexFRA.DLL=french64"});
        ConsoleSettings record = loaded(dir, [](ConsoleSettings&) {});
        const ConsoleSettings before = record;
        OpenSheet open(record, dir.path().wstring());
        QVERIFY(!open.sheet.ApplyButton()->isEnabled());

        if (control == kLanguage) {
            ExCComboBox* list = open.page->LanguageList();
            list->setFocus();
            QTest::keyClick(list, Qt::Key_Down);
            QCOMPARE(list->currentText(), QStringLiteral("French (France)"));
        } else {
            QCheckBox* box = open.box(kControls[control].spoken);
            QVERIFY(box);
            box->click();
        }
        QVERIFY(open.sheet.ApplyButton()->isEnabled());
        QVERIFY(!record.IsChanged());
        QTest::mouseClick(open.sheet.ApplyButton(), Qt::LeftButton);
        QVERIFY(!open.sheet.ApplyButton()->isEnabled());
        QVERIFY(record.IsChanged());
        for (int i = 0; i < kControlCount; ++i)
            QCOMPARE(kControls[i].field(record) != kControls[i].field(before), i == control);
    }

    void readOnlyShowsAndKeeps() {
        TempDir dir;
        install(dir, {"TalvexFRA.DLL=french64"});
        ConsoleSettings record = loaded(dir, [](ConsoleSettings& s) {
            s.DisableConsoleLog();
            s.DisableSavePageHistoryToFile();
            s.SetLanguageLocale(1031);  // not installed: the list shows English
        });
        m_app->m_readOnly = true;
        OpenSheet open(record, dir.path().wstring());
        for (int i = 0; i < kControlCount; ++i) {
            QWidget* control = i == kLanguage ? static_cast<QWidget*>(open.page->LanguageList())
                                              : open.box(kControls[i].spoken);
            QVERIFY2(!control->isEnabled(), kControls[i].spoken);
            if (i != kLanguage)
                QCOMPARE(qobject_cast<QCheckBox*>(control)->isChecked(),
                         kControls[i].field(record) != 0);
        }
        QCOMPARE(open.page->LanguageList()->currentText(), kEnglish);
        // What the page shows as it is stays; the language it could not offer becomes English.
        QTest::mouseClick(open.sheet.OkButton(), Qt::LeftButton);
        QVERIFY(!record.GetConsoleLog() && !record.GetSavePageHistoryToFile());
        QVERIFY(record.GetSaveActivityLogToFile() && record.GetUpdateDateTimeBios());
        QCOMPARE(record.GetLanguageLocale(), 1033u);
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
