#include "app/local_callerid_database.h"

#include <sys/stat.h>

#include <cerrno>
#include <cwctype>

#include "code/atomic_file.h"
#include "code/char2wchar.h"

namespace {

struct Column {
    const char* name;
    const char* xmlType;  // adBigInt -> i8, adWChar -> string, adInteger -> int
    int maxLength;        // bytes of the integers, characters of the text
};

// Order, names, types and sizes are what the console's table expects. Every
// column is appended with adFldUpdatable only, which ADO writes as rs:write on
// the column and, for these fixed-size types, rs:fixedlength plus
// rs:maybenull='false' (adFldMayBeNull absent) on its datatype.
constexpr Column kColumns[] = {
    {"RecordId", "i8", 8}, {"Alias", "string", 16}, {"Type", "string", 16},
    {"ID", "string", 25},  {"Channel", "int", 4},
};

std::string build_xml() {
    std::string xml =
        "<xml xmlns:s='uuid:BDC6E3F0-6DA3-11d1-A2A3-00AA00C14882'\n"
        "\txmlns:dt='uuid:C2F41010-65B3-11d1-A29F-00AA00C14882'\n"
        "\txmlns:rs='urn:schemas-microsoft-com:rowset'\n"
        "\txmlns:z='#RowsetSchema'>\n"
        "<s:Schema id='RowsetSchema'>\n"
        "\t<s:ElementType name='row' content='eltOnly' rs:updatable='true'>\n";
    int number = 1;
    for (const Column& c : kColumns) {
        xml += "\t\t<s:AttributeType name='" + std::string(c.name) + "' rs:number='" +
               std::to_string(number++) + "' rs:write='true'>\n";
        xml += "\t\t\t<s:datatype dt:type='" + std::string(c.xmlType) + "' dt:maxLength='" +
               std::to_string(c.maxLength) +
               "' rs:precision='0' rs:fixedlength='true' rs:maybenull='false'/>\n";
        xml += "\t\t</s:AttributeType>\n";
    }
    xml +=
        "\t\t<s:extends type='rs:rowbase'/>\n"
        "\t</s:ElementType>\n"
        "</s:Schema>\n"
        "<rs:data>\n"
        "</rs:data>\n"
        "</xml>\n";
    return xml;
}

enum class CreateResult { Created, AlreadyPresent, Failed };

CreateResult create_exclusively(const std::wstring& widePath) {
    std::string path;
    if (widePath.empty() || !wchar_to_mbchar(widePath.c_str(), path)) return CreateResult::Failed;
    AtomicFileWriter out;
    if (out.open(path, AtomicFileWriter::Commit::NeverReplace) && out.append(LocalDatabaseXml()) &&
        out.commit())
        return CreateResult::Created;
    return out.error() == EEXIST ? CreateResult::AlreadyPresent : CreateResult::Failed;
}

}  // namespace

std::wstring AppendPathPiece(std::wstring path, std::wstring_view piece) {
    if (!path.empty() && path.back() != L'/' && !(piece.starts_with(L'/'))) path += L'/';
    path += piece;
    return path;
}

std::wstring LocalDatabasePath(const std::wstring& dataFolder, const std::wstring& fileName) {
    size_t first = 0, last = fileName.size();
    while (first < last && std::iswspace(fileName[first])) ++first;
    while (last > first && std::iswspace(fileName[last - 1])) --last;
    const std::wstring_view name = std::wstring_view(fileName).substr(first, last - first);
    if (name.empty() || name == L"." || name == L".." || name.find_first_of(L'/') != name.npos ||
        name.find(L'\0') != name.npos)
        return {};
    if (!dataFolder.starts_with(L'/')) return {};
    return AppendPathPiece(AppendPathPiece(dataFolder, kSettingsSubFolder), name);
}

std::string_view LocalDatabaseXml() {
    static const std::string xml = build_xml();
    return xml;
}

bool CreateLocalDatabase(const std::wstring& path) {
    return create_exclusively(path) == CreateResult::Created;
}

bool EnsureLocalDatabase(const std::wstring& path) {
    std::string narrow;
    struct stat st {};
    if (wchar_to_mbchar(path.c_str(), narrow) && ::lstat(narrow.c_str(), &st) == 0) return true;
    return create_exclusively(path) != CreateResult::Failed;
}
