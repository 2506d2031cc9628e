// The main of every GoogleTest suite: the diagnostic log of the test process
// writes its file lines into a folder of its own (see log_capture.h).
#include <gtest/gtest.h>
#include <stdlib.h>

#include <clocale>
#include <filesystem>
#include <string>

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "C.UTF-8");
    std::string dir = "/tmp/talvex-log-XXXXXX";
    const bool private_log = mkdtemp(dir.data()) != nullptr;
    if (private_log) {
        setenv("DIR_TMP", dir.c_str(), 1);
        setenv("SYSERRLOG", "2", 1);
    }
    testing::InitGoogleTest(&argc, argv);
    const int status = RUN_ALL_TESTS();
    if (private_log) {
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    }
    return status;
}
