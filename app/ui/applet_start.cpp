#include "app/ui/applet_start.h"

#include <QApplication>
#include <QIcon>

#include "app/instance_name.h"
#include "app/settings_location.h"
#include "app/string_table.h"
#include "app/ui/CallerIDPropertyPage.h"
#include "app/ui/CsleLogPropertyPage.h"
#include "app/ui/message_box.h"
#include "code/char2wchar.h"
#include "code/console_setting_parser.h"
#include "code/single_application_instance.h"
#include "code/syserrx.h"
#include "code/user_credentials.h"

namespace {

CConsoleCplApp* running_application = nullptr;

QString formatted(const wchar_t* format, const std::wstring& argument) {
    return QString::fromWCharArray(format).replace(QLatin1String("%ls"),
                                                   QString::fromStdWString(argument));
}

QIcon application_icon() { return QIcon(QStringLiteral(":/talvex/icon129.png")); }

}  // namespace

CConsoleCplApp::CConsoleCplApp(int& argc, char** argv) {
    if (!QApplication::instance()) m_application = std::make_unique<QApplication>(argc, argv);
    running_application = this;
}

CConsoleCplApp::~CConsoleCplApp() {
    if (running_application == this) running_application = nullptr;
}

CConsoleCplApp* CConsoleCplApp::Running() { return running_application; }

bool CConsoleCplApp::ReadOnly() { return running_application && running_application->m_readOnly; }

bool CConsoleCplApp::InitInstance() {
    m_readOnly = !IsMemberOfGroup(kSupervisorsGroup, nullptr);
    return true;
}

int CConsoleCplApp::Run() {
    CplApplet applet;
    return applet.Run();
}

CplApplet::CplApplet() {
    if (!SingleApplicationInstance::RegisterApplicationInstance(kInstanceName, false))
        SYSERR_ASSERT_FAILED(
            L"SingleApplicationInstance::RegisterApplicationInstance(L\"Global\\\\Orvane Talvex "
            L"CtrlPanel Application bb74f5d4-a492-49a6-af39-f9b7fb74e344\", false)");
    const std::wstring path = SettingsFilePath(true);
    if (!wchar_to_mbchar(path.c_str(), m_iniPath, sizeof m_iniPath) || m_iniPath[0] == '\0') {
        syserr_report_error(SYSERR_FILE, __LINE__, 4, static_cast<uint32_t>(errno),
                            L"verify(%ls) failure", L"conversion_succeeded");
        m_iniPath[0] = '\0';
    }
}

CplApplet::~CplApplet() { SingleApplicationInstance::ReleaseApplicationInstance(); }

int CplApplet::Run() {
    if (!SingleApplicationInstance::IsOnlyApplicationInstance()) {
        TalvexMessageBox(nullptr, formatted(kAlreadyRunningFormat, LoadCachedString(IDS_TITLE)));
        return 1;
    }
    LoadTitle();
    LoadSettings();
    ShowPropertySheet();
    return 0;
}

void CplApplet::LoadTitle() { m_title = LoadCachedString(IDS_TITLE); }

void CplApplet::LoadSettings() {
    m_loaded = TakeFileSnapshot(m_iniPath);
    SettingsLoadReport report;
    if (LoadConsoleSettings(m_iniPath, m_settings, &report)) return;
    SYSERR_MESSAGE(
        L"Was unable to load Talvex settings from the INI file. Default settings will be used.");
    // A first run has no file: nothing to tell. A file that is there but was not used
    // whole may be a hand edit; the user should know, and a save keeps it.
    if (report.fileExists) {
        m_keepBackup = true;
        m_notice = QObject::tr(
                       "The settings file could not be loaded whole, so defaults are "
                       "shown where it gave no usable value. %1 Saving keeps the old "
                       "file as %2.bak.")
                       .arg(QString::fromStdString(report.reason),
                            QString::fromStdWString(std::wstring(kSettingsFileName)));
    }
}

void CplApplet::ShowPropertySheet() {
    ExCtrlPanelPropSheet sheet(QString::fromStdWString(m_title), nullptr, 0);
    CCsleLogPropertyPage consolePage(&m_settings);
    CCallerIDPropertyPage callerIdPage(&m_settings);
    sheet.AddPage(&consolePage);
    sheet.AddPage(&callerIdPage);
    sheet.setWindowIcon(application_icon());

    QStringList notices;
    if (CConsoleCplApp::ReadOnly())
        notices << QObject::tr(
            "You are not a member of Talvex_Supervisors; the settings are shown read-only.");
    if (!m_notice.isEmpty()) notices << m_notice;
    sheet.SetNotice(notices.join(QLatin1Char('\n')));
    sheet.m_confirmClose = [this, &sheet] { return MayOverwrite(&sheet); };

    // A read-only sheet never writes, not even a default that stood in for a value
    // it could not show.
    if (sheet.DoModal() != ExCPropertySheet::IDOK || !m_settings.IsChanged() ||
        CConsoleCplApp::ReadOnly())
        return;
    TalvexMessageBox(nullptr, formatted(kRestartNoticeFormat, kProductName));
    // A file that could not be used whole may be a hand edit worth keeping.
    if ((m_keepBackup && !BackUpSettingsFile(m_iniPath)) ||
        !SaveConsoleSettings(m_iniPath, m_settings))
        SYSERR_MESSAGE(L"Failed to save Talvex settings");
}

bool CplApplet::MayOverwrite(QWidget* sheet) const {
    if (CConsoleCplApp::ReadOnly() || !m_settings.IsChanged() ||
        TakeFileSnapshot(m_iniPath) == m_loaded)
        return true;
    const QString question = QObject::tr(
        "The settings file was changed by someone else after this sheet opened it.\n\n"
        "Replace it with the values shown here?");
    return TalvexMessageBox(sheet, question, QMessageBox::Yes | QMessageBox::No, QMessageBox::No) ==
           QMessageBox::Yes;
}

bool ExCtrlPanelPropSheet::OnInitDialog() {
    const bool result = ExCPropertySheet::OnInitDialog();
    setWindowIcon(application_icon());
    return result;
}
