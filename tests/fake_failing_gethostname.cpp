// Stands in for gethostname in one test program: the real call cannot be made to fail.
#include <unistd.h>

#include <cerrno>

extern "C" int gethostname(char*, size_t) noexcept {
    errno = EPERM;
    return -1;
}
