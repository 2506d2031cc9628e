#pragma once
// The "Console Options" page: the console's four switches and its language.

#include <cstdint>
#include <string>

#include "app/ui/ExCPropertyPage.h"

class ConsoleSettings;
class ExCComboBox;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;

// Empties `comboBox` and adds one item per library in `lpzLangFilePath` matching
// `lpzLangFileNamePattern` whose property `lpzVersionInfoRequested` is exactly
// `lpzLangFileVersion`: the system's name of its language, with its language
// identifier as the item's data. Each goes in at the position of the one added
// before it, so the list shows them in the reverse of the folder's name order.
// 1 when a language was added, 0 otherwise (a missing list or a refused argument
// is reported and leaves the list as it was).
int FillLanguageComboBox(QComboBox* comboBox, const wchar_t* lpzLangFilePath,
                         const wchar_t* lpzLangFileNamePattern, const wchar_t* lpzLangFileVersion,
                         const wchar_t* lpzVersionInfoRequested);

class CCsleLogPropertyPage : public ExCPropertyPage {
    Q_OBJECT
public:
    static constexpr uint32_t DEFAULT_LANGUAGE_ID = 1033;

    // The languages offered are those installed in the "Language" folder beside the
    // executable.
    explicit CCsleLogPropertyPage(ConsoleSettings* settings, QWidget* parent = nullptr);
    // The same with the languages of `languageFolder`; an empty one stands for a
    // folder that could not be determined.
    CCsleLogPropertyPage(ConsoleSettings* settings, std::wstring languageFolder,
                         QWidget* parent = nullptr);

    bool OnInitDialog() override;
    bool OnKillActive() override;
    bool OnApply() override;

    // Offers the default language and those installed in `languageFolder`, and selects
    // `languageLocale` if offered, else the default. With nothing installed only the
    // default is offered, and the list is disabled.
    void FillLanguageList(uint32_t languageLocale, const std::wstring& languageFolder);

    ExCComboBox* LanguageList() const { return m_cboLanguageLocale; }

protected:
    // Members to controls when `saveAndValidate` is false, controls to members when true.
    void DoDataExchange(bool saveAndValidate);

private:
    void OnSettingChanged();

    ExCComboBox* m_cboLanguageLocale;
    bool m_consoleLogEnabled = false;
    bool m_updateDateTimeBios = false;
    bool m_saveActivityLogToFile = false;
    bool m_savePageHistoryToFile = false;
    ConsoleSettings* m_settings;

    std::wstring m_languageFolder;
    QGroupBox* m_generalOptions;
    QCheckBox* m_chkUpdateDateTimeBios;
    QCheckBox* m_chkSavePageHistoryToFile;
    QCheckBox* m_chkSaveActivityLogToFile;
    QCheckBox* m_chkConsoleLogEnabled;
    QLabel* m_lblLanguageLocale;
};
