// A copy of the tool reduced to its single-instance check, for the tests that start
// several copies at once.
//
//   single_instance_probe <name> [go] [hold] [nofile]
//
// go: wait for one byte on stdin before registering, so that many copies start at the
// same moment; hold: keep the registration until stdin closes; nofile: no further file
// descriptor may be opened, so that the name cannot be taken at all.
// Prints "true" or "false" (IsOnlyApplicationInstance) on one line. Exit code 0 for
// true, 1 for false, 2 when the registration itself was refused or the usage is wrong.
#include <sys/resource.h>
#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "code/single_application_instance.h"

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    std::setlocale(LC_ALL, "C.UTF-8");
    std::wstring name(std::string(argv[1]).size() + 1, L'\0');
    const size_t length = std::mbstowcs(name.data(), argv[1], name.size());
    if (length == static_cast<size_t>(-1)) return 2;
    name.resize(length);
    const std::string flags = [&] {
        std::string all;
        for (int i = 2; i < argc; ++i) all += std::string(argv[i]) + " ";
        return all;
    }();
    char byte;
    if (flags.find("go ") != std::string::npos && read(STDIN_FILENO, &byte, 1) != 1) return 2;
    // Only the soft limit drops, so that it can be restored for a sanitizer's exit checks.
    rlimit files{};
    const bool starve = flags.find("nofile ") != std::string::npos;
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
    if (flags.find("hold ") != std::string::npos)
        while (read(STDIN_FILENO, &byte, 1) == 1) {
        }
    SingleApplicationInstance::ReleaseApplicationInstance();
    return only ? 0 : 1;
}
