#include "app/ui/CsleLogPropertyPage.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QVBoxLayout>
#include <utility>
#include <vector>

#include "app/language_folder.h"
#include "app/ui/ExCComboBox.h"
#include "app/ui/applet_start.h"
#include "code/LanguageSupport.h"
#include "code/console_settings.h"
#include "code/syserrx.h"

namespace {

const wchar_t* const kLanguageFileNamePattern = L"Talvex???.DLL";
const wchar_t* const kLanguageFileVersion = L"2.700.401.16";
const wchar_t* const kVersionInfoRequested = L"ProductVersion";
// The console keeps the default language's name in 85 characters with the terminator.
constexpr size_t kDefaultLanguageUnits = 85;

// What a screen reader says for a caption: "&&" is a shown "&", a single "&" only
// marks the mnemonic.
QString spoken(const QString& caption) {
    QString text;
    for (qsizetype i = 0; i < caption.size(); ++i) {
        if (caption[i] == QLatin1Char('&') && i + 1 < caption.size()) ++i;
        text += caption[i];
    }
    return text;
}

// The box on the right of its text, as the console's other dialogs show options.
QCheckBox* option_box(const QString& caption, QWidget* parent) {
    auto* box = new QCheckBox(caption, parent);
    box->setLayoutDirection(Qt::RightToLeft);
    box->setAccessibleName(spoken(caption));
    return box;
}

}  // namespace

int FillLanguageComboBox(QComboBox* comboBox, const wchar_t* lpzLangFilePath,
                         const wchar_t* lpzLangFileNamePattern, const wchar_t* lpzLangFileVersion,
                         const wchar_t* lpzVersionInfoRequested) {
    if (!comboBox) {
        SYSERR_MESSAGE(L"The provided combo box handle is invalid");
        return 0;
    }
    std::vector<LanguageLibrary> libraries;
    if (!FindLanguageLibraries(lpzLangFilePath, lpzLangFileNamePattern, lpzLangFileVersion,
                               lpzVersionInfoRequested, libraries))
        return 0;
    comboBox->clear();
    // Each library goes in where the previous one went (the first at the end), which
    // puts them in the reverse of the order they were found in.
    int iInsertIndex = -1;
    for (const LanguageLibrary& library : libraries) {
        const int at = iInsertIndex < 0 ? comboBox->count() : iInsertIndex;
        comboBox->insertItem(at, QString::fromStdWString(library.languageName),
                             QVariant::fromValue(uint32_t{library.languageId}));
        iInsertIndex = at;
    }
    return libraries.empty() ? 0 : 1;
}

CCsleLogPropertyPage::CCsleLogPropertyPage(ConsoleSettings* settings, QWidget* parent)
    : CCsleLogPropertyPage(settings, LanguageFolder(), parent) {}

CCsleLogPropertyPage::CCsleLogPropertyPage(ConsoleSettings* settings, std::wstring languageFolder,
                                           QWidget* parent)
    : ExCPropertyPage(tr("Console Options"), parent),
      m_cboLanguageLocale(nullptr),
      m_settings(settings),
      m_languageFolder(std::move(languageFolder)) {
    m_generalOptions = new QGroupBox(tr("General Options"), this);
    m_generalOptions->setAccessibleName(tr("General Options"));
    m_chkUpdateDateTimeBios = option_box(tr("&Update PC date && time BIOS"), m_generalOptions);
    m_chkSavePageHistoryToFile = option_box(tr("S&ave Page History to file"), m_generalOptions);
    m_chkSaveActivityLogToFile = option_box(tr("&Save Activity log to file"), m_generalOptions);
    m_chkConsoleLogEnabled = option_box(tr("&Console Log enabled"), m_generalOptions);
    m_lblLanguageLocale = new QLabel(tr("Language L&ocale:"), m_generalOptions);
    m_cboLanguageLocale = new ExCComboBox(m_generalOptions);
    m_cboLanguageLocale->setAccessibleName(spoken(m_lblLanguageLocale->text()));
    m_lblLanguageLocale->setBuddy(m_cboLanguageLocale);

    // Two columns of switches, the language below them, all inside the group.
    auto* grid = new QGridLayout(m_generalOptions);
    grid->addWidget(m_chkUpdateDateTimeBios, 0, 0);
    grid->addWidget(m_chkSavePageHistoryToFile, 0, 1);
    grid->addWidget(m_chkSaveActivityLogToFile, 1, 0);
    grid->addWidget(m_chkConsoleLogEnabled, 1, 1);
    grid->addWidget(m_lblLanguageLocale, 2, 0);
    grid->addWidget(m_cboLanguageLocale, 2, 1);
    grid->setColumnStretch(0, 1);
    grid->setColumnStretch(1, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_generalOptions);
    layout->addStretch(1);

    for (QCheckBox* box : {m_chkConsoleLogEnabled, m_chkUpdateDateTimeBios,
                           m_chkSaveActivityLogToFile, m_chkSavePageHistoryToFile})
        connect(box, &QCheckBox::clicked, this, &CCsleLogPropertyPage::OnSettingChanged);
    // Only the user's choices: filling and selecting the list at start says nothing.
    connect(m_cboLanguageLocale, &QComboBox::activated, this,
            &CCsleLogPropertyPage::OnSettingChanged);
}

void CCsleLogPropertyPage::DoDataExchange(bool saveAndValidate) {
    const std::pair<QCheckBox*, bool*> checks[] = {
        {m_chkConsoleLogEnabled, &m_consoleLogEnabled},
        {m_chkUpdateDateTimeBios, &m_updateDateTimeBios},
        {m_chkSaveActivityLogToFile, &m_saveActivityLogToFile},
        {m_chkSavePageHistoryToFile, &m_savePageHistoryToFile}};
    for (const auto& [box, state] : checks) {
        if (saveAndValidate)
            *state = box->isChecked();
        else
            box->setChecked(*state);
    }
}

bool CCsleLogPropertyPage::OnInitDialog() {
    ExCPropertyPage::OnInitDialog();
    m_consoleLogEnabled = m_settings->GetConsoleLog();
    m_saveActivityLogToFile = m_settings->GetSaveActivityLogToFile();
    m_savePageHistoryToFile = m_settings->GetSavePageHistoryToFile();
    m_updateDateTimeBios = m_settings->GetUpdateDateTimeBios();

    if (m_languageFolder.empty())
        SYSERR_MESSAGE(L"Unable to determine where the Talvex localized resources DLL are stored.");
    else
        FillLanguageList(m_settings->GetLanguageLocale(), m_languageFolder);

    DoDataExchange(false);
    if (CConsoleCplApp::ReadOnly()) EnableChildWindows(false);
    return true;
}

bool CCsleLogPropertyPage::OnKillActive() {
    DoDataExchange(true);
    return true;
}

bool CCsleLogPropertyPage::OnApply() {
    // Read-only mode applies too: the disabled controls show the stored values, so only
    // a language the list could not offer changes (to English), as on any other machine.
    m_consoleLogEnabled ? m_settings->EnableConsoleLog() : m_settings->DisableConsoleLog();
    m_saveActivityLogToFile ? m_settings->EnableSaveActivityLogToFile()
                            : m_settings->DisableSaveActivityLogToFile();
    m_savePageHistoryToFile ? m_settings->EnableSavePageHistoryToFile()
                            : m_settings->DisableSavePageHistoryToFile();
    m_updateDateTimeBios ? m_settings->EnableUpdateDateTimeBios()
                         : m_settings->DisableUpdateDateTimeBios();
    // Without a language folder nothing is selected, and the stored language stays.
    if (m_cboLanguageLocale->currentIndex() >= 0)
        m_settings->SetLanguageLocale(static_cast<uint32_t>(m_cboLanguageLocale->GetCurSel(true)));
    return ExCPropertyPage::OnApply();
}

void CCsleLogPropertyPage::FillLanguageList(uint32_t languageLocale,
                                            const std::wstring& languageFolder) {
    std::wstring default_language = LanguageDisplayName(DEFAULT_LANGUAGE_ID);
    if (default_language.empty() || default_language.size() >= kDefaultLanguageUnits) {
        SYSERR_ASSERT_FAILED(
            L"out_between_in(0UL, length, static_cast<DWORD>(ARRAY_SIZE(default_language)))");
        if (default_language.size() >= kDefaultLanguageUnits)
            default_language.resize(kDefaultLanguageUnits - 1);
    }

    const bool offered =
        FillLanguageComboBox(m_cboLanguageLocale, languageFolder.c_str(), kLanguageFileNamePattern,
                             kLanguageFileVersion, kVersionInfoRequested) > 0;
    if (m_cboLanguageLocale->InsertItem(QString::fromStdWString(default_language),
                                        DEFAULT_LANGUAGE_ID) < 0)
        SYSERR_ASSERT_FAILED(
            L"m_cboLanguageLocale.InsertItem(default_language, DEFAULT_LANGUAGE_ID) != CB_ERR");
    if (m_cboLanguageLocale->SetCurSel(static_cast<int>(languageLocale), true) < 0 &&
        m_cboLanguageLocale->SetCurSel(DEFAULT_LANGUAGE_ID, true) < 0)
        SYSERR_ASSERT_FAILED(L"m_cboLanguageLocale.SetCurSel(DEFAULT_LANGUAGE_ID) != LB_ERR");
    m_cboLanguageLocale->setEnabled(offered);
}

void CCsleLogPropertyPage::OnSettingChanged() { SetModified(); }
