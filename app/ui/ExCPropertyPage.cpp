#include "app/ui/ExCPropertyPage.h"

#include "code/syserrx.h"

ExCPropertyPage::ExCPropertyPage(const QString& caption, QWidget* parent)
    : QWidget(parent), m_caption(caption) {
    setAccessibleName(caption);
}

bool ExCPropertyPage::OnApply() {
    SetModified(false);
    return true;
}

void ExCPropertyPage::SetModified(bool modified) {
    if (m_modified == modified) return;
    m_modified = modified;
    emit modifiedChanged(modified);
}

void ExCPropertyPage::EnsureInitialized() {
    if (m_initialized) return;
    m_initialized = true;
    OnInitDialog();
}

void ExCPropertyPage::ForEachChildWindow(ChildCallback callback, void* argument) {
    if (!callback) return;
    for (QWidget* child : findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
        if (!callback(child, argument)) return;
}

bool ExCPropertyPage::EnableChildWindow(QWidget* window, void* flag) {
    if (!window) {
        SYSERR_VERIFY_FAILED(L"hwnd && ::IsWindow(hwnd)");
        return false;
    }
    window->setEnabled(flag && *static_cast<int*>(flag) != 0);
    return true;
}

void ExCPropertyPage::EnableChildWindows(bool enable) {
    int flag = enable ? 1 : 0;
    ForEachChildWindow(&ExCPropertyPage::EnableChildWindow, &flag);
}
