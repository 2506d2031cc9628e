// talvex-config: options that answer at once, commands that work without a display,
// otherwise the settings sheet.
#include <clocale>
#include <cstdio>

#include "app/admin_commands.h"
#include "app/command_line.h"
#include "app/ui/applet_start.h"

int main(int argc, char** argv) {
    const Command command = ParseCommandLine(argc, argv);
    switch (command.kind) {
        case CommandKind::Help:
            std::fputs(UsageText().c_str(), stdout);
            return 0;
        case CommandKind::Version:
            std::fputs(VersionText().c_str(), stdout);
            return 0;
        case CommandKind::UsageError:
            std::fprintf(stderr, "talvex-config: %s\n%s", command.error.c_str(),
                         UsageText().c_str());
            return 2;
        case CommandKind::RunSheet:
            break;
        default:
            // Paths and texts convert by the user's locale, as under the sheet (where Qt
            // sets it); no QApplication, so no display is needed.
            std::setlocale(LC_ALL, "");
            return RunAdminCommand(command);
    }
    CConsoleCplApp application(argc, argv);
    application.InitInstance();
    return application.Run();
}
