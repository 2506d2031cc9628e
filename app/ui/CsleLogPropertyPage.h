#pragma once
// The "Console Options" page: the console's four switches and its language.

#include "app/ui/ExCPropertyPage.h"

class ConsoleSettings;

class CCsleLogPropertyPage : public ExCPropertyPage {
    Q_OBJECT
public:
    explicit CCsleLogPropertyPage(ConsoleSettings* settings, QWidget* parent = nullptr);

private:
    ConsoleSettings* m_settings;
};
