// The main of every GoogleTest suite: the diagnostic log of the test process
// writes its file lines into a folder of its own (see log_capture.h).
#include <gtest/gtest.h>
#include <stdlib.h>

#include <clocale>

#include "tests/support/temp_dir.h"

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "C.UTF-8");
    const TempDir log_dir("talvex-log");
    setenv("DIR_TMP", log_dir.path().c_str(), 1);
    setenv("SYSERRLOG", "2", 1);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
