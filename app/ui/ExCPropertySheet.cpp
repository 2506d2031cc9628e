#include "app/ui/ExCPropertySheet.h"

#include <QDialogButtonBox>
#include <QKeySequence>
#include <QLabel>
#include <QPushButton>
#include <QShortcut>
#include <QTabWidget>
#include <QVBoxLayout>

#include "app/ui/ExCPropertyPage.h"

ExCPropertySheet::ExCPropertySheet(const QString& caption, QWidget* parent, int selectPage)
    : QDialog(parent),
      m_notice(new QLabel(this)),
      m_tabs(new QTabWidget(this)),
      m_buttons(new QDialogButtonBox(
          QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Apply, this)),
      m_selectPage(selectPage) {
    setWindowTitle(caption);
    setAccessibleName(caption);

    m_notice->setWordWrap(true);
    m_notice->setFrameShape(QFrame::StyledPanel);
    m_notice->setMargin(6);
    m_notice->setAccessibleName(tr("Notice"));
    m_notice->hide();
    m_tabs->setAccessibleName(tr("Pages"));

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_notice);
    layout->addWidget(m_tabs, 1);
    layout->addWidget(m_buttons);

    OkButton()->setDefault(true);
    ApplyButton()->setEnabled(false);
    connect(OkButton(), &QPushButton::clicked, this, [this] {
        if (ApplyPages() && ConfirmClose()) done(IDOK);
    });
    connect(ApplyButton(), &QPushButton::clicked, this, [this] { ApplyPages(); });
    connect(CancelButton(), &QPushButton::clicked, this, &QDialog::reject);
    connect(m_tabs, &QTabWidget::currentChanged, this, &ExCPropertySheet::OnCurrentChanged);

    // Switching pages from anywhere in the sheet, not only from the tab bar.
    const auto next = [this] { Step(+1); };
    const auto previous = [this] { Step(-1); };
    new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Tab), this, next);
    new QShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Tab), this, previous);
    new QShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Backtab), this, previous);
}

ExCPropertySheet::~ExCPropertySheet() = default;

QPushButton* ExCPropertySheet::OkButton() const { return m_buttons->button(QDialogButtonBox::Ok); }
QPushButton* ExCPropertySheet::ApplyButton() const {
    return m_buttons->button(QDialogButtonBox::Apply);
}
QPushButton* ExCPropertySheet::CancelButton() const {
    return m_buttons->button(QDialogButtonBox::Cancel);
}

void ExCPropertySheet::AddPage(ExCPropertyPage* page) {
    m_pages.push_back(page);
    connect(page, &ExCPropertyPage::modifiedChanged, this, &ExCPropertySheet::UpdateApplyButton);
    connect(page, &QObject::destroyed, this, [this, page] { std::erase(m_pages, page); });
    const QSignalBlocker quiet(m_tabs);  // pages are activated by OnInitDialog, not by adding
    m_tabs->addTab(page, page->Caption());
}

int ExCPropertySheet::GetActiveIndex() const { return m_tabs->currentIndex(); }

bool ExCPropertySheet::SetActivePage(int index) {
    if (index < 0 || index >= GetPageCount()) return false;
    m_tabs->setCurrentIndex(index);
    return m_tabs->currentIndex() == index;
}

void ExCPropertySheet::SetNotice(const QString& text) {
    m_notice->setText(text);
    m_notice->setVisible(!text.isEmpty());
}

QString ExCPropertySheet::Notice() const { return m_notice->text(); }

bool ExCPropertySheet::OnInitDialog() {
    if (m_pages.empty()) return true;
    const int first = (m_selectPage >= 0 && m_selectPage < GetPageCount()) ? m_selectPage : 0;
    {
        const QSignalBlocker quiet(m_tabs);
        m_tabs->setCurrentIndex(first);
    }
    m_activeIndex = first;
    m_pages[first]->EnsureInitialized();
    return true;
}

void ExCPropertySheet::InitializeOnce() {
    if (m_initialized) return;
    m_initialized = true;
    OnInitDialog();
}

void ExCPropertySheet::Open() {
    InitializeOnce();
    show();
}

int ExCPropertySheet::DoModal() {
    InitializeOnce();
    return exec() == IDOK ? IDOK : IDCANCEL;
}

void ExCPropertySheet::OnCurrentChanged(int index) {
    if (m_reverting) return;
    if (m_activeIndex >= 0 && m_activeIndex < GetPageCount() && m_activeIndex != index &&
        !m_pages[m_activeIndex]->OnKillActive()) {
        // The page said why and took the focus; the user stays on it.
        ShowWithoutExchange(m_activeIndex);
        return;
    }
    m_activeIndex = index;
    if (index >= 0 && index < GetPageCount()) m_pages[index]->EnsureInitialized();
}

void ExCPropertySheet::ShowWithoutExchange(int index) {
    m_reverting = true;
    m_tabs->setCurrentIndex(index);
    m_activeIndex = index;
    m_reverting = false;
}

void ExCPropertySheet::Step(int delta) {
    const int count = GetPageCount();
    if (count < 2) return;
    SetActivePage((GetActiveIndex() + delta + count) % count);
}

bool ExCPropertySheet::ApplyPages() {
    const int active = GetActiveIndex();
    if (active >= 0 && !m_pages[active]->OnKillActive()) return false;
    for (int i = 0; i < GetPageCount(); ++i) {
        ExCPropertyPage* page = m_pages[i];
        if (!page->IsInitialized()) continue;
        if (!page->OnApply()) {
            if (i != active) ShowWithoutExchange(i);  // the refusing page takes over
            return false;
        }
        page->SetModified(false);
    }
    UpdateApplyButton();
    return true;
}

void ExCPropertySheet::UpdateApplyButton() {
    bool modified = false;
    for (const ExCPropertyPage* page : m_pages) modified = modified || page->IsModified();
    ApplyButton()->setEnabled(modified);
}
