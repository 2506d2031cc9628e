// Stands in for the C library's gethostname in one test program: the real call
// cannot be made to fail, and the log's answer to a failing lookup (a nested
// report, then "Unknown computer", with no endless recursion) must be seen.
#include <unistd.h>

#include <cerrno>

extern "C" int gethostname(char*, size_t) noexcept {
    errno = EPERM;
    return -1;
}
