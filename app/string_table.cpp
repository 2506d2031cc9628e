#include "app/string_table.h"

#include <map>

namespace {

struct Entry {
    unsigned id;
    const wchar_t* text;
};

const Entry STRING_TABLE[] = {
    {IDS_TITLE, L"Talvex Console Configuration"},
    {IDS_CONNECT_TRYING,
     L"Trying to authenticate and connect to the DBMS engine running on the ADM server..."},
    {IDS_CONNECT_FAILED, L"Unable to authenticate or connect."},
    {IDS_CONNECT_OK, L"Successfully authenticated and connected."},
    {IDS_LIBRARY_TRYING, L"Trying to find the DBMS client library file..."},
    {IDS_LIBRARY_NOT_FOUND, L"This file could NOT be found: %ls"},
    {IDS_LIBRARY_FOUND, L"Successfully found the file."},
    {IDS_ALL_PASSED, L"All tests completed successfully."},
    {IDS_TEST_FAILED, L"Error: Test failed."},
    {IDS_READ_TRYING, L"Trying to read the Caller ID database..."},
    {IDS_READ_OK, L"Successfully read the database."},
    {IDS_READ_FAILED, L"Unable to read."},
    {IDS_FILL_ALL_FIELDS, L"Please enter data in all fields."},
    {IDS_FILE_NAME_TOO_LONG,
     L"The length of the local database filename exceeds the operating system limit. Use a "
     L"shorter filename."},
    {IDS_FILE_NAME_BAD_CHARACTERS,
     L"The local database filename contains characters not accepted by the operating system. "
     L"Don't use the characters <, >, :, \", /, \\, |, ? and * in the filename."},
    {IDS_FILE_NAME_INVALID, L"The local database filename is invalid. Try using another filename."},
    {IDS_WARNING, L"Warning"},
    {IDS_PASSWORD_LEADING_BLANKS,
     L"The password cannot start with a blank: the settings file does not keep blanks at the "
     L"start of a value."},
};

}  // namespace

std::wstring LoadCachedString(unsigned id) {
    static const std::map<unsigned, std::wstring> cache = [] {
        std::map<unsigned, std::wstring> built;
        for (const Entry& entry : STRING_TABLE) built.emplace(entry.id, entry.text);
        return built;
    }();
    const auto found = cache.find(id);
    return found == cache.end() ? std::wstring() : found->second;
}
