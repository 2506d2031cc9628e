#include "app/ui/CallerIDPropertyPage.h"

CCallerIDPropertyPage::CCallerIDPropertyPage(ConsoleSettings* settings, QWidget* parent)
    : ExCPropertyPage(tr("Caller ID Settings"), parent), m_settings(settings) {}
