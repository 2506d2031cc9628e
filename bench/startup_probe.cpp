// Started by bench_startup: runs either the tool's own start-up path or a bare Qt
// program showing a tabbed dialog with the same widgets, and writes one byte to
// file descriptor 3 when the dialog is painted for the first time.
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QVBoxLayout>
#include <cstring>

#include "app/ui/applet_start.h"

namespace {

class FirstPaint : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && qobject_cast<QDialog*>(watched)) {
            const char painted = 'p';
            (void)!::write(3, &painted, 1);
            ::_exit(0);
        }
        return false;
    }
};

// The bare peer: the same controls, laid out the same way, and nothing else.
int run_peer(int argc, char** argv) {
    QApplication application(argc, argv);
    FirstPaint filter;
    application.installEventFilter(&filter);
    QDialog dialog;
    dialog.setWindowTitle("Talvex Console Configuration");
    auto* tabs = new QTabWidget;

    auto* console = new QWidget;
    auto* general = new QGroupBox("General Options");
    auto* grid = new QGridLayout(general);
    const char* switches[] = {"&Update PC date && time BIOS", "S&ave Page History to file",
                              "&Save Activity log to file", "&Console Log enabled"};
    for (int i = 0; i < 4; ++i) grid->addWidget(new QCheckBox(switches[i]), i / 2, i % 2);
    auto* language = new QFormLayout;
    language->addRow("Language L&ocale:", new QComboBox);
    auto* consoleLayout = new QVBoxLayout(console);
    consoleLayout->addWidget(general);
    consoleLayout->addLayout(language);
    consoleLayout->addStretch();
    tabs->addTab(console, "Console Options");

    auto* callerId = new QWidget;
    auto* options = new QGroupBox("Caller ID Database Options");
    auto* form = new QFormLayout(options);
    form->addRow(new QRadioButton("&None"));
    form->addRow(new QRadioButton("&Local"));
    form->addRow("&Database file name (*.xml)", new QLineEdit);
    form->addRow(new QRadioButton("&Server"));
    form->addRow("&ADM Server computer name or IP", new QLineEdit);
    form->addRow("DBMS &TCP Port", new QLineEdit);
    form->addRow(new QRadioButton("Use &Windows Authentication"));
    form->addRow(new QRadioButton("Use DB&MS Authentication"));
    form->addRow("&User Name", new QLineEdit);
    form->addRow("&Password", new QLineEdit);
    form->addRow(new QPushButton("Test Connection"));
    (new QVBoxLayout(callerId))->addWidget(options);
    tabs->addTab(callerId, "Caller ID Settings");

    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(tabs);
    layout->addWidget(new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel |
                                           QDialogButtonBox::Apply));
    return dialog.exec();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "peer") == 0) return run_peer(argc, argv);
    // The tool's own path from main(): application object, read-only decision, applet.
    CConsoleCplApp application(argc, argv);
    FirstPaint filter;
    QApplication::instance()->installEventFilter(&filter);
    application.InitInstance();
    return application.Run();
}
