#include "app/ui/CallerIDPropertyPage.h"

#include <QButtonGroup>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>
#include <initializer_list>
#include <iterator>

#include "app/caller_id_rules.h"
#include "app/local_callerid_database.h"
#include "app/settings_location.h"
#include "app/string_table.h"
#include "app/ui/TestSQLServerConnection.h"
#include "app/ui/applet_start.h"
#include "app/ui/message_box.h"
#include "code/console_settings.h"
#include "code/pathmanagement.h"
#include "code/syserrx.h"

namespace {

enum KindId { KIND_NONE = 0, KIND_LOCAL = 1, KIND_SERVER = 2 };
enum AuthenticationId { AUTH_WINDOWS = 0, AUTH_DBMS = 1 };

QString FromRecord(const std::string& text) { return QString::fromStdString(text); }
std::string ToRecord(const std::wstring& text) {
    return QString::fromStdWString(text).toStdString();
}
std::wstring TextOf(const QLineEdit* edit) { return edit->text().toStdWString(); }

// The kind a checked button of the first group stands for; none when no button is.
CallerIdDatabaseType KindOf(int checked) {
    return checked == KIND_LOCAL    ? CallerIdDbLocal
           : checked == KIND_SERVER ? CallerIdDbServer
                                    : CallerIdDbNone;
}

QLabel* BuddyLabel(const QString& caption, QWidget* buddy, const char* name) {
    auto* label = new QLabel(caption);
    label->setBuddy(buddy);
    label->setObjectName(QString::fromLatin1(name) + QStringLiteral("Label"));
    return label;
}

QLineEdit* Edit(const char* name) {
    auto* edit = new QLineEdit;
    edit->setObjectName(QString::fromLatin1(name) + QStringLiteral("Edit"));
    return edit;
}

void SetEnabled(std::initializer_list<QWidget*> controls, bool enabled) {
    for (QWidget* control : controls) control->setEnabled(enabled);
}

QRadioButton* Radio(const QString& caption, const char* name) {
    auto* button = new QRadioButton(caption);
    button->setObjectName(QString::fromLatin1(name) + QStringLiteral("Radio"));
    return button;
}

}  // namespace

CCallerIDPropertyPage::CCallerIDPropertyPage(ConsoleSettings* settings, QWidget* parent)
    : ExCPropertyPage(tr("Caller ID Settings"), parent),
      m_testConnection(new QPushButton(tr("Test Connection"))),
      m_localFileEdit(Edit("localFile")),
      m_serverEdit(Edit("server")),
      m_userEdit(Edit("userName")),
      m_passwordEdit(Edit("password")),
      m_port(DefaultDbmsPort),
      m_settings(settings),
      m_group(new QGroupBox(tr("Caller ID Database Options"), this)),
      m_portEdit(Edit("port")),
      m_none(Radio(tr("&None"), "none")),
      m_local(Radio(tr("&Local"), "local")),
      m_server(Radio(tr("&Server"), "server")),
      m_windowsAuth(Radio(tr("Use &Windows Authentication"), "windowsAuth")),
      m_dbmsAuth(Radio(tr("Use DB&MS Authentication"), "dbmsAuth")),
      m_kinds(new QButtonGroup(this)),
      m_authentications(new QButtonGroup(this)) {
    m_fileLabel = BuddyLabel(tr("&Database file name (*.xml)"), m_localFileEdit, "localFile");
    m_serverLabel = BuddyLabel(tr("&ADM Server computer name or IP"), m_serverEdit, "server");
    m_portLabel = BuddyLabel(tr("DBMS &TCP Port"), m_portEdit, "port");
    m_userLabel = BuddyLabel(tr("&User Name"), m_userEdit, "userName");
    m_passwordLabel = BuddyLabel(tr("&Password"), m_passwordEdit, "password");
    m_testConnection->setObjectName(QStringLiteral("testConnectionButton"));
    m_group->setObjectName(QStringLiteral("databaseOptions"));

    m_portEdit->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), m_portEdit));
    m_passwordEdit->setEchoMode(QLineEdit::Password);

    m_kinds->addButton(m_none, KIND_NONE);
    m_kinds->addButton(m_local, KIND_LOCAL);
    m_kinds->addButton(m_server, KIND_SERVER);
    m_authentications->addButton(m_windowsAuth, AUTH_WINDOWS);
    m_authentications->addButton(m_dbmsAuth, AUTH_DBMS);

    // Each level of indentation says which choice the controls belong to.
    auto* grid = new QGridLayout(m_group);
    grid->setColumnMinimumWidth(0, 20);
    grid->setColumnMinimumWidth(1, 20);
    grid->setColumnStretch(3, 1);
    int row = 0;
    grid->addWidget(m_none, row++, 0, 1, 4);
    grid->addWidget(m_local, row++, 0, 1, 4);
    grid->addWidget(m_fileLabel, row, 1, 1, 2);
    grid->addWidget(m_localFileEdit, row++, 3);
    grid->addWidget(m_server, row++, 0, 1, 4);
    grid->addWidget(m_serverLabel, row, 1, 1, 2);
    grid->addWidget(m_serverEdit, row++, 3);
    grid->addWidget(m_portLabel, row, 1, 1, 2);
    grid->addWidget(m_portEdit, row++, 3);
    grid->addWidget(m_windowsAuth, row++, 1, 1, 3);
    grid->addWidget(m_dbmsAuth, row++, 1, 1, 3);
    grid->addWidget(m_userLabel, row, 2);
    grid->addWidget(m_userEdit, row++, 3);
    grid->addWidget(m_passwordLabel, row, 2);
    grid->addWidget(m_passwordEdit, row++, 3);
    grid->addWidget(m_testConnection, row++, 0, 1, 3, Qt::AlignLeft);
    grid->setRowStretch(row, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_group);

    connect(m_none, &QRadioButton::clicked, this, &CCallerIDPropertyPage::OnNoneClicked);
    connect(m_local, &QRadioButton::clicked, this, &CCallerIDPropertyPage::OnLocalClicked);
    connect(m_server, &QRadioButton::clicked, this, &CCallerIDPropertyPage::OnServerClicked);
    connect(m_windowsAuth, &QRadioButton::clicked, this,
            &CCallerIDPropertyPage::OnWindowsAuthClicked);
    connect(m_dbmsAuth, &QRadioButton::clicked, this, &CCallerIDPropertyPage::OnDbmsAuthClicked);
    connect(m_testConnection, &QPushButton::clicked, this,
            &CCallerIDPropertyPage::OnTestConnection);
    // What the user types, not what the page itself puts in the edits, marks the page
    // modified: a page that has only been looked at leaves Apply disabled.
    for (QLineEdit* edit : {m_serverEdit, m_portEdit, m_localFileEdit, m_userEdit, m_passwordEdit})
        connect(edit, &QLineEdit::textEdited, this, &CCallerIDPropertyPage::OnSettingChanged);
}

bool CCallerIDPropertyPage::OnInitDialog() {
    switch (m_settings->GetCallerIdDatabaseType()) {
        case CallerIdDbNone:
            ShowNoDatabaseControls();
            break;
        case CallerIdDbLocal:
            ShowLocalDatabaseControls();
            break;
        case CallerIdDbServer:
            ShowServerDatabaseControls();
            break;
        default:
            LogValue(SYSERR_FILE, __LINE__, 4, m_settings->GetCallerIdDatabaseType(),
                     L"Don't know how to initialize the caller ID settings page for this caller "
                     L"ID databyse type");
            break;
    }
    CheckStoredAuthentication();

    m_localFileEdit->setText(FromRecord(m_settings->GetLocalFileName()));
    m_port = NormalisedPort(FromRecord(m_settings->GetDbmsTcpPort()).toStdWString());
    m_serverEdit->setText(FromRecord(m_settings->GetAdmServer()));
    m_userEdit->setText(FromRecord(m_settings->GetUserId()));
    m_passwordEdit->setText(FromRecord(m_settings->GetPassword()));
    m_userEdit->setMaxLength(static_cast<int>(MaxUserNameLength));
    m_passwordEdit->setMaxLength(static_cast<int>(MaxPasswordLength));
    m_portEdit->setText(QString::number(m_port));

    if (CConsoleCplApp::ReadOnly()) EnableChildWindows(false);
    return true;
}

bool CCallerIDPropertyPage::OnKillActive() { return ExchangePort(); }

bool CCallerIDPropertyPage::ExchangePort() {
    const std::optional<uint32_t> port = ParsePortText(TextOf(m_portEdit));
    if (!port || !PortInRange(*port)) {
        TalvexMessageBox(this, QString::fromWCharArray(kPortRangeMessage));
        m_portEdit->setFocus();
        m_portEdit->selectAll();
        return false;
    }
    m_port = *port;
    return true;
}

bool CCallerIDPropertyPage::OnApply() {
    if (!ExchangePort() || !ValidateSettings()) return false;

    const CallerIdDatabaseType kind = KindOf(GetCheckedDatabaseType());
    m_settings->SetCallerIdDatabaseType(kind);
    m_settings->SetLocalFileName(ToRecord(Trimmed(TextOf(m_localFileEdit))));
    m_settings->SetDbmsTcpPort(std::to_string(m_port));
    m_settings->SetAdmServer(ToRecord(Trimmed(TextOf(m_serverEdit))));
    m_settings->SetUserId(ToRecord(Trimmed(TextOf(m_userEdit))));
    m_settings->SetPassword(ToRecord(TextOf(m_passwordEdit)));
    const int authentication = m_authentications->checkedId();
    if (authentication == AUTH_WINDOWS || authentication == AUTH_DBMS)
        m_settings->SetAuthentication(authentication == AUTH_DBMS ? DbmsAuthentication
                                                                  : WindowsAuthentication);
    else
        LogValue(SYSERR_FILE, __LINE__, 4, authentication,
                 L"Cannot associate a caller ID authentication method to the current checked "
                 L"radio button");
    // The record keeps what was written even when the file cannot be made: the user
    // stays on the page and may choose another name.
    if (kind == CallerIdDbLocal && !CreateLocalDatabaseIfMissing()) return false;
    return ExCPropertyPage::OnApply();
}

int CCallerIDPropertyPage::GetCheckedDatabaseType() const { return m_kinds->checkedId(); }

bool CCallerIDPropertyPage::ValidateSettings() {
    CallerIdFields fields;
    const int checked = GetCheckedDatabaseType();
    if (checked != KIND_NONE && checked != KIND_LOCAL && checked != KIND_SERVER)
        LogValue(SYSERR_FILE, __LINE__, 4, checked,
                 L"Cannot associate a caller ID database type to the current checked radio "
                 L"button. It is assumed that no database is used.");
    fields.kind = KindOf(checked);
    fields.localFileName = TextOf(m_localFileEdit);
    fields.server = TextOf(m_serverEdit);
    fields.port = m_port;
    fields.dbmsAuthentication = m_dbmsAuth->isChecked();
    fields.userName = TextOf(m_userEdit);
    fields.password = TextOf(m_passwordEdit);

    std::wstring localFileName;
    const unsigned refusal = ValidateCallerIdFields(fields, localFileName);
    // The name gains ".xml" where the user can see it, also when it is then refused.
    if (fields.kind == CallerIdDbLocal && !localFileName.empty() &&
        localFileName != Trimmed(fields.localFileName))
        m_localFileEdit->setText(QString::fromStdWString(localFileName));
    if (refusal == 0) return true;
    TalvexMessageBox(this, QString::fromStdWString(LoadCachedString(refusal)));
    return false;
}

bool CCallerIDPropertyPage::CreateLocalDatabaseIfMissing() {
    if (CConsoleCplApp::ReadOnly()) return true;
    const std::wstring name = Trimmed(TextOf(m_localFileEdit));
    wchar_t root[winutils::MAX_PATH_UNITS + 1] = {};
    if (winutils::GetProgramDataPath(root, std::size(root)) == 0) {
        SYSERR_ASSERT_FAILED(L"winutils::GetProgramDataPath(root_path, ARRAY_SIZE(root_path)) > 0");
        return false;  // a path relative to the working folder would be no better
    }
    // Made at start-up; made again in case it went away while the sheet was open.
    if (SettingsFolder(true).empty()) return false;
    const std::wstring path = LocalDatabasePath(root, name);
    return !path.empty() && EnsureLocalDatabase(path);
}

void CCallerIDPropertyPage::EnableKindControls(bool local, bool server, bool credentials) {
    SetEnabled({m_fileLabel, m_localFileEdit}, local);
    SetEnabled({m_serverLabel, m_serverEdit, m_portLabel, m_portEdit, m_windowsAuth, m_dbmsAuth,
                m_testConnection},
               server);
    EnableCredentials(credentials);
}

void CCallerIDPropertyPage::EnableCredentials(bool enable) {
    SetEnabled({m_userLabel, m_userEdit, m_passwordLabel, m_passwordEdit}, enable);
}

void CCallerIDPropertyPage::NormalisePortEdit() {
    const std::wstring text = TextOf(m_portEdit);
    m_port = NormalisedPort(text);
    if (ParsePortText(text) != m_port) m_portEdit->setText(QString::number(m_port));
}

void CCallerIDPropertyPage::CheckStoredAuthentication() {
    (m_settings->GetAuthentication() == DbmsAuthentication ? m_dbmsAuth : m_windowsAuth)
        ->setChecked(true);
}

void CCallerIDPropertyPage::ShowNoDatabaseControls() {
    m_none->setChecked(true);
    NormalisePortEdit();
    EnableKindControls(false, false, false);
}

void CCallerIDPropertyPage::ShowLocalDatabaseControls() {
    m_local->setChecked(true);
    NormalisePortEdit();
    EnableKindControls(true, false, false);
}

void CCallerIDPropertyPage::ShowServerDatabaseControls() {
    m_server->setChecked(true);
    // The stored choice comes back, not the one last clicked before leaving Server.
    CheckStoredAuthentication();
    EnableKindControls(false, true, m_settings->GetAuthentication() == DbmsAuthentication);
}

void CCallerIDPropertyPage::OnNoneClicked() {
    ShowNoDatabaseControls();
    SetModified();
}

void CCallerIDPropertyPage::OnLocalClicked() {
    ShowLocalDatabaseControls();
    SetModified();
}

void CCallerIDPropertyPage::OnServerClicked() {
    ShowServerDatabaseControls();
    SetModified();
}

void CCallerIDPropertyPage::OnWindowsAuthClicked() {
    m_windowsAuth->setChecked(true);
    EnableCredentials(false);
    SetModified();
}

void CCallerIDPropertyPage::OnDbmsAuthClicked() {
    m_dbmsAuth->setChecked(true);
    EnableCredentials(true);
    SetModified();
}

void CCallerIDPropertyPage::OnTestConnection() {
    if (!ExchangePort() || !ValidateSettings()) return;
    // Window-modal and non-blocking: the sheet keeps painting while the test runs, and
    // the dialog goes with the page should the sheet end first.
    auto* dialog = new TestDbmsConnection(this, Trimmed(TextOf(m_serverEdit)),
                                          std::to_wstring(m_port), m_dbmsAuth->isChecked(),
                                          Trimmed(TextOf(m_userEdit)), TextOf(m_passwordEdit));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->open();
}

void CCallerIDPropertyPage::OnSettingChanged() { SetModified(); }
