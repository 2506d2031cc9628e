#pragma once
// The "Caller ID Settings" page: which caller-ID database the console uses and how it
// reaches it.

#include "app/ui/ExCPropertyPage.h"

class ConsoleSettings;

class CCallerIDPropertyPage : public ExCPropertyPage {
    Q_OBJECT
public:
    explicit CCallerIDPropertyPage(ConsoleSettings* settings, QWidget* parent = nullptr);

private:
    ConsoleSettings* m_settings;
};
