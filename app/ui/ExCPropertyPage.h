#pragma once
// A page of the settings sheet. The sheet initialises a page the first time it is
// shown, runs its data exchange when the user leaves it (or confirms while it is
// showing) and applies every page that was shown on OK and Apply.

#include <QString>
#include <QWidget>

class ExCPropertyPage : public QWidget {
    Q_OBJECT
public:
    explicit ExCPropertyPage(const QString& caption, QWidget* parent = nullptr);

    const QString& Caption() const { return m_caption; }

    // Copies the record into the controls; called once, before the page first shows.
    virtual bool OnInitDialog() { return true; }
    // Takes what the controls hold and checks it as far as the controls can tell; false
    // keeps the user on the page (the page has said why and moved the focus).
    virtual bool OnKillActive() { return true; }
    // Validates and writes the controls into the record; false keeps the sheet open on
    // this page. The base marks the page unmodified.
    virtual bool OnApply();

    // A modified page enables the sheet's Apply button.
    void SetModified(bool modified = true);
    bool IsModified() const { return m_modified; }
    bool IsInitialized() const { return m_initialized; }
    // Runs OnInitDialog once; later calls do nothing.
    void EnsureInitialized();

    // Calls `callback` with each direct child widget, in creation order, until it
    // answers false. Widgets nested inside a child follow that child's state.
    using ChildCallback = bool (*)(QWidget* window, void* argument);
    void ForEachChildWindow(ChildCallback callback, void* argument);
    // Enables `window` when *flag is non-zero; a missing window is reported and ends the walk.
    static bool EnableChildWindow(QWidget* window, void* flag);
    void EnableChildWindows(bool enable);

signals:
    void modifiedChanged(bool modified);

private:
    QString m_caption;
    bool m_modified = false;
    bool m_initialized = false;
};
