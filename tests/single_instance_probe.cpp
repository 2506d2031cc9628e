// A copy of the tool reduced to its single-instance check, for the tests that start
// several copies at once.
//
//   single_instance_probe <name> [global] [go] [hold] [nofile]
//
// global: register with make global set; go: wait for one byte on stdin before
// registering, so that many copies can be released at the same moment; hold: keep
// the registration until stdin closes; nofile: no further file descriptors may be
// opened, so that the name cannot be taken at all.
// Prints "true" or "false" (IsOnlyApplicationInstance) on one line. Exit code 0 for
// true, 1 for false, 2 when the registration itself was refused or the usage is wrong.
#include <sys/resource.h>
#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "code/single_application_instance.h"

namespace {

bool has_flag(int argc, char** argv, const char* flag) {
    for (int i = 2; i < argc; ++i) {
        if (std::strcmp(argv[i], flag) == 0) return true;
    }
    return false;
}

void wait_for_stdin(bool until_closed) {
    char byte;
    while (read(STDIN_FILENO, &byte, 1) == 1 && until_closed) {
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    std::setlocale(LC_ALL, "C.UTF-8");
    std::wstring name(std::strlen(argv[1]) + 1, L'\0');
    const size_t length = std::mbstowcs(name.data(), argv[1], name.size());
    if (length == static_cast<size_t>(-1)) return 2;
    name.resize(length);

    if (has_flag(argc, argv, "go")) wait_for_stdin(false);
    // Only the soft limit drops, so that it can be restored for a sanitizer's exit checks.
    rlimit files{};
    const bool starve = has_flag(argc, argv, "nofile");
    if (getrlimit(RLIMIT_NOFILE, &files) != 0) return 2;
    const rlimit only_standard_streams{3, files.rlim_max};
    if (starve && setrlimit(RLIMIT_NOFILE, &only_standard_streams) != 0) return 2;
    const bool registered = SingleApplicationInstance::RegisterApplicationInstance(
        name.c_str(), has_flag(argc, argv, "global"));
    if (starve) setrlimit(RLIMIT_NOFILE, &files);
    if (!registered) return 2;
    const bool only = SingleApplicationInstance::IsOnlyApplicationInstance();
    std::printf("%s\n", only ? "true" : "false");
    std::fflush(stdout);
    if (has_flag(argc, argv, "hold")) wait_for_stdin(true);
    SingleApplicationInstance::ReleaseApplicationInstance();
    return only ? 0 : 1;
}
