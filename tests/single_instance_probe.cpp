// The tool's single-instance check as a program of its own, for the tests that start
// several copies at once:  single_instance_probe <ASCII name> [nofile]
//
// Registers once a byte (or the end) came on stdin, so that many copies can start at one
// moment; prints IsOnlyApplicationInstance ("true" or "false") and holds the registration
// until stdin ends. Exit code 0 for true, 1 for false, 2 when the registration was
// refused. nofile: no further file descriptor may be opened, so no name can be taken.
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "code/single_application_instance.h"

int main(int argc, char** argv) {
    const std::string ascii = argc > 1 ? argv[1] : "";
    const std::wstring name(ascii.begin(), ascii.end());
    char byte;
    (void)!read(STDIN_FILENO, &byte, 1);
    // Only the soft limit drops, so that it can be restored for a sanitizer's exit checks.
    rlimit files{};
    const bool starve = argc > 2 && std::string(argv[2]) == "nofile";
    if (getrlimit(RLIMIT_NOFILE, &files) != 0) return 2;
    const rlimit only_standard_streams{3, files.rlim_max};
    if (starve && setrlimit(RLIMIT_NOFILE, &only_standard_streams) != 0) return 2;
    const bool registered =
        SingleApplicationInstance::RegisterApplicationInstance(name.c_str(), false);
    if (starve) setrlimit(RLIMIT_NOFILE, &files);
    if (!registered) return 2;
    const bool only = SingleApplicationInstance::IsOnlyApplicationInstance();
    std::printf("%s\n", only ? "true" : "false");
    std::fflush(stdout);
    while (read(STDIN_FILENO, &byte, 1) == 1) {
    }
    SingleApplicationInstance::ReleaseApplicationInstance();
    return only ? 0 : 1;
}
