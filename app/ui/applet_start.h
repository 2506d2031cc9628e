#pragma once
// The run of the tool: the application object decides read-only mode, the applet
// owns the settings record for one run of the sheet.

#include <QString>
#include <functional>
#include <memory>
#include <string>

#include "app/settings_location.h"
#include "app/ui/ExCPropertySheet.h"
#include "code/console_settings.h"

class QApplication;

class CConsoleCplApp {
public:
    // Makes the QApplication unless one exists already (a test's).
    CConsoleCplApp(int& argc, char** argv);
    ~CConsoleCplApp();
    CConsoleCplApp(const CConsoleCplApp&) = delete;
    CConsoleCplApp& operator=(const CConsoleCplApp&) = delete;

    // Read-only exactly when the user is not a member of the supervisors' group.
    bool InitInstance();
    // The exit code: 0 after the sheet ran, 1 when another copy was running.
    int Run();

    // The application object of this process, null when none exists.
    static CConsoleCplApp* Running();
    // The pages ask this; without an application object (a page shown on its own) the
    // controls stay editable.
    static bool ReadOnly();

    bool m_readOnly = true;

private:
    std::unique_ptr<QApplication> m_application;
};

class CplApplet {
public:
    // Registers this copy with the single-instance guard and finds the settings file.
    CplApplet();
    // Gives the single-instance registration up.
    ~CplApplet();
    CplApplet(const CplApplet&) = delete;
    CplApplet& operator=(const CplApplet&) = delete;

    int Run();
    void LoadTitle();
    void LoadSettings();
    void ShowPropertySheet();

    std::wstring m_title;
    char m_iniPath[260] = {};
    ConsoleSettings m_settings;

    // What the notice line above the pages says; empty in the normal case.
    QString m_notice;
    // The file was there but could not be used whole: a save first keeps it as .bak.
    bool m_keepBackup = false;
    // The file as loaded, to notice a change made behind the sheet's back.
    FileSnapshot m_loaded;

private:
    // Before OK closes the sheet: false keeps it open (the user would rather not
    // overwrite a file someone changed since it was loaded).
    bool MayOverwrite(QWidget* sheet) const;
};

class ExCtrlPanelPropSheet : public ExCPropertySheet {
    Q_OBJECT
public:
    using ExCPropertySheet::ExCPropertySheet;

    std::function<bool()> m_confirmClose;

protected:
    bool OnInitDialog() override;
    bool ConfirmClose() override { return !m_confirmClose || m_confirmClose(); }
};
