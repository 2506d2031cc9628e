#include "code/filex.h"

#include <unistd.h>

#include <string>

#include "code/char2wchar.h"
#include "code/syserrx.h"

bool file_exists(const char* path) {
    if (!path) {
        SYSERR_VERIFY_FAILED(L"file_pathname");
        return false;
    }
    return access(path, F_OK) == 0;
}

bool file_exists_w(const wchar_t* path) {
    if (!path) {
        SYSERR_VERIFY_FAILED(L"file_pathname");
        return false;
    }
    std::string narrow;
    return wchar_to_mbchar(path, narrow) && access(narrow.c_str(), F_OK) == 0;
}
