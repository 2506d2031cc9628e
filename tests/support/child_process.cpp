#include "tests/support/child_process.h"

#include <grp.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#ifdef TALVEX_COVERAGE_BUILD
// What a child ran counts too, though _exit skips the exit handlers that would write it.
extern "C" void __gcov_dump();
#endif

int run_in_child(const std::function<int()>& body) {
    const pid_t child = fork();
    if (child == 0) {
        const int code = body();
#ifdef TALVEX_COVERAGE_BUILD
        __gcov_dump();
#endif
        _exit(code);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

bool become_nobody() {
    return setgroups(0, nullptr) == 0 && setgid(65534) == 0 && setuid(65534) == 0;
}

bool private_mounts(const std::string& group_file) {
    return unshare(CLONE_NEWNS) == 0 &&
           mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
           mount(group_file.c_str(), "/etc/group", nullptr, MS_BIND, nullptr) == 0;
}
