#pragma once
// The settings sheet: pages on tabs, a notice line above them, and OK, Cancel and
// Apply. OK and Apply apply every page that has been shown, in page order; a page
// that refuses keeps the sheet open on it. Cancel, Escape and the close box discard.

#include <QDialog>
#include <QString>
#include <vector>

class QDialogButtonBox;
class QLabel;
class QPushButton;
class QTabWidget;
class ExCPropertyPage;

class ExCPropertySheet : public QDialog {
    Q_OBJECT
public:
    // What DoModal answers.
    static constexpr int IDOK = 1;
    static constexpr int IDCANCEL = 2;

    ExCPropertySheet(const QString& caption, QWidget* parent, int selectPage);
    ~ExCPropertySheet() override;

    // The sheet shows the page; its owner keeps it, and destroys it before the sheet.
    void AddPage(ExCPropertyPage* page);
    int GetPageCount() const { return static_cast<int>(m_pages.size()); }
    ExCPropertyPage* GetPage(int index) const { return m_pages.at(index); }
    int GetActiveIndex() const;
    // Moves to another page the way the user would: the page being left may refuse.
    bool SetActivePage(int index);

    // A line above the pages saying something the user should know; hidden when empty.
    void SetNotice(const QString& text);
    QString Notice() const;

    // Initialises the sheet and its first page, shows it modally, answers IDOK or IDCANCEL.
    int DoModal();
    // Initialises and shows it without waiting (what DoModal does before it waits).
    void Open();

    QPushButton* OkButton() const;
    QPushButton* ApplyButton() const;
    QPushButton* CancelButton() const;

protected:
    // Runs once before the sheet first shows; activates the page chosen at construction.
    virtual bool OnInitDialog();
    // Asked after OK has applied every page; false keeps the sheet open.
    virtual bool ConfirmClose() { return true; }

private:
    void InitializeOnce();
    bool ApplyPages();
    void OnCurrentChanged(int index);
    // Shows the page at `index` without asking the page being left (it refused already,
    // or another page refused to apply).
    void ShowWithoutExchange(int index);
    void UpdateApplyButton();
    void Step(int delta);

    QLabel* m_notice;
    QTabWidget* m_tabs;
    QDialogButtonBox* m_buttons;
    std::vector<ExCPropertyPage*> m_pages;
    int m_selectPage;
    int m_activeIndex = -1;
    bool m_initialized = false;
    bool m_reverting = false;
};
