#pragma once
// The "Caller ID Settings" page: which caller-ID database the console uses and how it
// reaches it. The rules it applies to the fields live in app/caller_id_rules.h.

#include <cstdint>

#include "app/ui/ExCPropertyPage.h"

class ConsoleSettings;
class QButtonGroup;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

class CCallerIDPropertyPage : public ExCPropertyPage {
    Q_OBJECT
public:
    explicit CCallerIDPropertyPage(ConsoleSettings* settings, QWidget* parent = nullptr);

    bool OnInitDialog() override;
    // The port's range check; false after the message, with the focus on the port.
    bool OnKillActive() override;
    bool OnApply() override;

    // 0 none, 1 local, 2 server; -1 when no kind is checked.
    int GetCheckedDatabaseType() const;
    // True when the fields may be applied or tested; otherwise the user has been told why.
    bool ValidateSettings();
    // Makes sure the local file of the name in the file name edit exists in the settings
    // folder; true when it does afterwards. Read-only mode creates nothing.
    bool CreateLocalDatabaseIfMissing();

private:
    void ShowNoDatabaseControls();
    void ShowLocalDatabaseControls();
    void ShowServerDatabaseControls();
    void EnableKindControls(bool local, bool server, bool credentials);
    void EnableCredentials(bool enable);
    // A port edit about to be disabled keeps a value the range check accepts.
    void NormalisePortEdit();
    void CheckStoredAuthentication();
    bool ExchangePort();

    void OnNoneClicked();
    void OnLocalClicked();
    void OnServerClicked();
    void OnWindowsAuthClicked();
    void OnDbmsAuthClicked();
    void OnTestConnection();
    void OnSettingChanged();

    QPushButton* m_testConnection;
    QLabel* m_portLabel;
    QLabel* m_serverLabel;
    QLabel* m_fileLabel;
    QLabel* m_userLabel;
    QLabel* m_passwordLabel;
    QLineEdit* m_localFileEdit;
    QLineEdit* m_serverEdit;
    QLineEdit* m_userEdit;
    QLineEdit* m_passwordEdit;
    uint32_t m_port;
    ConsoleSettings* m_settings;

    QGroupBox* m_group;
    QLineEdit* m_portEdit;
    QRadioButton* m_none;
    QRadioButton* m_local;
    QRadioButton* m_server;
    QRadioButton* m_windowsAuth;
    QRadioButton* m_dbmsAuth;
    QButtonGroup* m_kinds;
    QButtonGroup* m_authentications;
};
