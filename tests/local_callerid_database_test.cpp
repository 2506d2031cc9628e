// The local caller-ID database file: its path, its XML as a real parser reads it, and
// its exclusive, atomic creation.
#include <gtest/gtest.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/local_callerid_database.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* kSchemaNs = "uuid:BDC6E3F0-6DA3-11d1-A2A3-00AA00C14882";
constexpr const char* kTypesNs = "uuid:C2F41010-65B3-11d1-A29F-00AA00C14882";
constexpr const char* kRowsetNs = "urn:schemas-microsoft-com:rowset";

std::wstring wide(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

std::vector<std::string> entries(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(LocalDatabasePath, JoinsDataFolderSettingsFolderAndTrimmedName) {
    EXPECT_EQ(LocalDatabasePath(L"/var/lib", L" \tcallerIdLocal.xml  "),
              L"/var/lib/Orvane/talvex/config/dispatch_console/callerIdLocal.xml");
    EXPECT_EQ(LocalDatabasePath(L"/srv/data/", L"calls.XML.xml"),
              L"/srv/data/Orvane/talvex/config/dispatch_console/calls.XML.xml");
    EXPECT_EQ(AppendPathPiece(L"", L"x"), L"x");
    EXPECT_EQ(AppendPathPiece(L"/a/", L"x"), L"/a/x");
    EXPECT_EQ(AppendPathPiece(L"/a", L"/x"), L"/a/x");
    EXPECT_EQ(AppendPathPiece(L"/a", L"x"), L"/a/x");
}

TEST(LocalDatabasePath, RefusesWhatWouldLeaveTheFolder) {
    // A failed folder query leaves an empty text; never fall back to the working folder.
    EXPECT_EQ(LocalDatabasePath(L"", L"callerIdLocal.xml"), L"");
    EXPECT_EQ(LocalDatabasePath(L"relative/dir", L"callerIdLocal.xml"), L"");
    for (const wchar_t* name : {L"", L"   ", L".", L" .. ", L"sub/calls.xml", L"/etc/x.xml"})
        EXPECT_EQ(LocalDatabasePath(L"/var/lib", name), L"") << name;
    EXPECT_EQ(LocalDatabasePath(L"/var/lib", std::wstring(L"a\0b.xml", 7)), L"");
}

const xmlNode* element_child(const xmlNode* parent, const char* name, int index = 0) {
    for (const xmlNode* n = parent->children; n; n = n->next)
        if (n->type == XML_ELEMENT_NODE && xmlStrcmp(n->name, BAD_CAST name) == 0 && index-- == 0)
            return n;
    return nullptr;
}

std::vector<const xmlNode*> element_children(const xmlNode* parent) {
    std::vector<const xmlNode*> out;
    for (const xmlNode* n = parent->children; n; n = n->next)
        if (n->type == XML_ELEMENT_NODE) out.push_back(n);
    return out;
}

std::string attribute(const xmlNode* node, const char* name, const char* ns) {
    xmlChar* v =
        ns ? xmlGetNsProp(node, BAD_CAST name, BAD_CAST ns) : xmlGetNoNsProp(node, BAD_CAST name);
    std::string text = v ? reinterpret_cast<const char*>(v) : "<absent>";
    xmlFree(v);
    return text;
}

std::string ns_of(const xmlNode* node) {
    return node->ns ? reinterpret_cast<const char*>(node->ns->href) : "";
}

TEST(LocalDatabaseFile, IsTheEmptyFiveColumnRecordsetAsAnXmlParserReadsIt) {
    TempDir dir;
    const std::string path = dir.file("callerIdLocal.xml");
    ASSERT_TRUE(CreateLocalDatabase(wide(path)));
    const std::string bytes = read_file_bytes(path);
    EXPECT_EQ(bytes, LocalDatabaseXml());
    EXPECT_EQ(bytes.rfind("<xml xmlns:s='", 0), 0u) << "no declaration, no BOM";

    xmlDocPtr doc = xmlReadMemory(bytes.data(), static_cast<int>(bytes.size()), path.c_str(),
                                  nullptr, XML_PARSE_NONET | XML_PARSE_NOERROR);
    ASSERT_NE(doc, nullptr) << "not well-formed";
    const xmlNode* root = xmlDocGetRootElement(doc);
    EXPECT_STREQ(reinterpret_cast<const char*>(root->name), "xml");
    EXPECT_EQ(root->ns, nullptr);

    const xmlNode* schema = element_child(root, "Schema");
    ASSERT_NE(schema, nullptr);
    EXPECT_EQ(ns_of(schema), kSchemaNs);
    EXPECT_EQ(attribute(schema, "id", nullptr), "RowsetSchema");
    const xmlNode* row = element_child(schema, "ElementType");
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(attribute(row, "name", nullptr), "row");
    EXPECT_EQ(attribute(row, "content", nullptr), "eltOnly");
    EXPECT_EQ(attribute(row, "updatable", kRowsetNs), "true");

    struct Expected {
        const char *name, *type, *maxLength;
    };
    const Expected columns[] = {{"RecordId", "i8", "8"},
                                {"Alias", "string", "16"},
                                {"Type", "string", "16"},
                                {"ID", "string", "25"},
                                {"Channel", "int", "4"}};
    const auto kids = element_children(row);
    ASSERT_EQ(kids.size(), 6u);
    for (size_t i = 0; i < 5; ++i) {
        const xmlNode* column = kids[i];
        SCOPED_TRACE(columns[i].name);
        EXPECT_STREQ(reinterpret_cast<const char*>(column->name), "AttributeType");
        EXPECT_EQ(ns_of(column), kSchemaNs);
        EXPECT_EQ(attribute(column, "name", nullptr), columns[i].name);
        EXPECT_EQ(attribute(column, "number", kRowsetNs), std::to_string(i + 1));
        EXPECT_EQ(attribute(column, "write", kRowsetNs), "true");
        EXPECT_EQ(attribute(column, "nullable", kRowsetNs), "<absent>");
        EXPECT_EQ(attribute(column, "keycolumn", kRowsetNs), "<absent>");
        const auto datatypes = element_children(column);
        ASSERT_EQ(datatypes.size(), 1u);
        const xmlNode* type = datatypes[0];
        EXPECT_STREQ(reinterpret_cast<const char*>(type->name), "datatype");
        EXPECT_EQ(attribute(type, "type", kTypesNs), columns[i].type);
        EXPECT_EQ(attribute(type, "maxLength", kTypesNs), columns[i].maxLength);
        EXPECT_EQ(attribute(type, "precision", kRowsetNs), "0");
        EXPECT_EQ(attribute(type, "fixedlength", kRowsetNs), "true");
        EXPECT_EQ(attribute(type, "maybenull", kRowsetNs), "false");
        // A dbtype would turn the Unicode adWChar columns into 8-bit text.
        EXPECT_EQ(attribute(type, "dbtype", kRowsetNs), "<absent>");
    }
    EXPECT_STREQ(reinterpret_cast<const char*>(kids[5]->name), "extends");
    EXPECT_EQ(attribute(kids[5], "type", nullptr), "rs:rowbase");

    const xmlNode* data = element_child(root, "data");
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(ns_of(data), kRowsetNs);
    EXPECT_TRUE(element_children(data).empty()) << "no rows";
    EXPECT_EQ(element_children(root).size(), 2u);
    // The rows' namespace must point at the schema by its id.
    const xmlNs* z = xmlSearchNs(doc, const_cast<xmlNode*>(root), BAD_CAST "z");
    ASSERT_NE(z, nullptr);
    EXPECT_STREQ(reinterpret_cast<const char*>(z->href), "#RowsetSchema");
    xmlFreeDoc(doc);

    EXPECT_EQ(entries(dir.path()), std::vector<std::string>{"callerIdLocal.xml"})
        << "no temporary file left";
}

TEST(LocalDatabaseFile, ExistingEntriesAreNeverTouched) {
    TempDir dir;
    const std::string file = dir.file("file.xml"), folder = dir.file("folder.xml"),
                      link = dir.file("link.xml"), dangling = dir.file("dangling.xml"),
                      target = dir.file("target.txt"), nowhere = dir.file("nowhere.txt");
    write_file_bytes(file, "keep me");
    write_file_bytes(target, "target");
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
    ASSERT_EQ(symlink(nowhere.c_str(), dangling.c_str()), 0);
    struct stat before {};
    ASSERT_EQ(stat(file.c_str(), &before), 0);

    for (const std::string& path : {file, folder, link, dangling}) {
        EXPECT_FALSE(CreateLocalDatabase(wide(path))) << path;
        EXPECT_TRUE(EnsureLocalDatabase(wide(path))) << path << " counts as present";
    }
    EXPECT_EQ(read_file_bytes(file), "keep me");
    struct stat after {};
    ASSERT_EQ(stat(file.c_str(), &after), 0);
    EXPECT_EQ(before.st_ino, after.st_ino);
    EXPECT_EQ(before.st_mtim.tv_nsec, after.st_mtim.tv_nsec);
    EXPECT_TRUE(fs::is_empty(folder));
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(read_file_bytes(target), "target");
    EXPECT_TRUE(fs::is_symlink(dangling));
    EXPECT_FALSE(fs::exists(nowhere)) << "a dangling symlink is never followed";
    EXPECT_EQ(entries(dir.path()),
              (std::vector<std::string>{"dangling.xml", "file.xml", "folder.xml", "link.xml",
                                        "target.txt"}));
}

TEST(LocalDatabaseFile, EnsureCreatesOnlyWhatIsMissing) {
    TempDir dir;
    EXPECT_TRUE(EnsureLocalDatabase(wide(dir.file("callerIdLocal.xml"))));
    EXPECT_EQ(read_file_bytes(dir.file("callerIdLocal.xml")), LocalDatabaseXml());
    EXPECT_FALSE(CreateLocalDatabase(wide(dir.file("missing/callerIdLocal.xml"))));
    EXPECT_FALSE(EnsureLocalDatabase(wide(dir.file("missing/callerIdLocal.xml"))));
    EXPECT_FALSE(CreateLocalDatabase(L""));
    EXPECT_FALSE(EnsureLocalDatabase(L""));
    EXPECT_FALSE(CreateLocalDatabase(wide(dir.path().string() + "/")));
    EXPECT_EQ(entries(dir.path()), std::vector<std::string>{"callerIdLocal.xml"});
}

TEST(LocalDatabaseFile, AFailedWriteLeavesNothingBehind) {
    TempDir dir;
    const std::string path = dir.file("callerIdLocal.xml");
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // The file size limit cuts the write short (EFBIG instead of SIGXFSZ).
        signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{100, 100};
        setrlimit(RLIMIT_FSIZE, &limit);
        _exit(CreateLocalDatabase(wide(path)) ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1) << "the cut write must be a failure";
    EXPECT_TRUE(fs::is_empty(dir.path())) << testing::PrintToString(entries(dir.path()));
}

}  // namespace
