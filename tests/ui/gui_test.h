#pragma once
// What the GUI suites share: a sheet showing one page, controls found by name, the
// tool's texts, a private settings folder, and the applet run as the tool runs it.
#include <QApplication>
#include <QPushButton>
#include <QTimer>
#include <QtTest>
#include <functional>
#include <memory>
#include <string>

#include "app/string_table.h"
#include "app/ui/ExCPropertySheet.h"
#include "app/ui/applet_start.h"
#include "app/ui/message_box.h"
#include "tests/support/temp_dir.h"

inline QString Text(unsigned id) { return QString::fromStdWString(LoadCachedString(id)); }

// The control under `root` with that object name or accessible name; the suite stops
// when there is none, as no later check could make sense.
template <class T = QWidget>
T* Control(const QObject* root, const QString& name) {
    for (T* control : root->findChildren<T*>())
        if (control->objectName() == name || control->accessibleName() == name) return control;
    qFatal("no control %s", qPrintable(name));
}

// A sheet showing one page, opened without waiting; the page goes before the sheet.
template <class Page>
struct PageSheet {
    template <class... Args>
    explicit PageSheet(Args&&... args) : page(std::make_unique<Page>(std::forward<Args>(args)...)) {
        sheet.AddPage(page.get());
        sheet.Open();
    }
    template <class T = QWidget>
    T* Find(const QString& name) const {
        return Control<T>(page.get(), name);
    }
    ExCPropertySheet sheet{QStringLiteral("Talvex"), nullptr, 0};
    std::unique_ptr<Page> page;
};

// A data-driven test keeps its cases in an array of structs named by their first field:
// its _data function calls AddCases, the test takes its case with CurrentCase.
template <class Case, size_t N>
void AddCases(const Case (&cases)[N]) {
    QTest::addColumn<int>("row");
    for (size_t i = 0; i < N; ++i) QTest::newRow(cases[i].name) << static_cast<int>(i);
}
template <class Case, size_t N>
const Case& CurrentCase(const Case (&cases)[N]) {
    QFETCH(int, row);
    return cases[row];
}

// PROGRAMDATA pointed at a fresh folder, until the next one (not put back: a suite
// replacing its folder would otherwise get the old value back from the old one).
struct ProgramData {
    ProgramData() { qputenv("PROGRAMDATA", QByteArray::fromStdString(dir.path().string())); }
    TempDir dir{"talvex-gui"};
    std::string folder() const { return dir.file("Orvane/talvex/config/dispatch_console") + "/"; }
};

// Runs the applet as the tool does; `act` gets the sheet once it shows and must close it.
inline int RunApplet(const std::function<void(ExCPropertySheet&)>& act) {
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (auto* sheet = qobject_cast<ExCPropertySheet*>(QApplication::activeModalWidget())) {
            poll.stop();
            act(*sheet);
        }
    });
    poll.start(5);
    CplApplet applet;
    return applet.Run();
}
