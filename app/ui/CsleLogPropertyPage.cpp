#include "app/ui/CsleLogPropertyPage.h"

CCsleLogPropertyPage::CCsleLogPropertyPage(ConsoleSettings* settings, QWidget* parent)
    : ExCPropertyPage(tr("Console Options"), parent), m_settings(settings) {}
