// The local caller-ID database file: its path, its XML as a real parser reads it, and
// its exclusive, atomic creation.
#include <gtest/gtest.h>
#include <libxml/parser.h>
#include <libxml/xpathInternals.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/local_callerid_database.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

std::wstring wide(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

std::vector<std::string> entries(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(LocalDatabasePath, JoinsTheFoldersAndRefusesWhatWouldLeaveThem) {
    const std::wstring sub = L"/Orvane/talvex/config/dispatch_console/";
    EXPECT_EQ(LocalDatabasePath(L"/var/lib", L" \tcallerIdLocal.xml  "),
              L"/var/lib" + sub + L"callerIdLocal.xml");
    EXPECT_EQ(LocalDatabasePath(L"/srv/data/", L"calls.XML.xml"),
              L"/srv/data" + sub + L"calls.XML.xml");
    // A failed folder query leaves an empty text; never fall back to the working folder.
    for (const wchar_t* folder : {L"", L"relative/dir"})
        EXPECT_EQ(LocalDatabasePath(folder, L"callerIdLocal.xml"), L"");
    for (const std::wstring& name :
         {std::wstring(L"a\0b.xml", 7), std::wstring(L"   "), std::wstring(L""), std::wstring(L"."),
          std::wstring(L" .. "), std::wstring(L"sub/calls.xml"), std::wstring(L"/etc/x.xml")})
        EXPECT_EQ(LocalDatabasePath(L"/var/lib", name), L"") << testing::PrintToString(name);
    EXPECT_EQ(AppendPathPiece(L"", L"x"), L"x");
    EXPECT_EQ(AppendPathPiece(L"/a", L"/x"), L"/a/x");
}

// The texts XPath `expressions` give over `doc` ("" for an absent attribute), joined by
// blanks.
std::string values(xmlDoc* doc, const std::vector<std::string>& expressions) {
    const std::unique_ptr<xmlXPathContext, decltype(&xmlXPathFreeContext)> context(
        xmlXPathNewContext(doc), xmlXPathFreeContext);
    xmlXPathRegisterNs(context.get(), BAD_CAST "s",
                       BAD_CAST "uuid:BDC6E3F0-6DA3-11d1-A2A3-00AA00C14882");
    xmlXPathRegisterNs(context.get(), BAD_CAST "dt",
                       BAD_CAST "uuid:C2F41010-65B3-11d1-A29F-00AA00C14882");
    xmlXPathRegisterNs(context.get(), BAD_CAST "rs", BAD_CAST "urn:schemas-microsoft-com:rowset");
    std::string out;
    for (const std::string& expression : expressions) {
        xmlXPathObject* result = xmlXPathEvalExpression(BAD_CAST expression.c_str(), context.get());
        xmlChar* text = result ? xmlXPathCastToString(result) : nullptr;
        out += (out.empty() ? "" : " ") +
               (text ? std::string(reinterpret_cast<const char*>(text)) : "<invalid>");
        xmlFree(text);
        xmlXPathFreeObject(result);
    }
    return out;
}

TEST(LocalDatabaseFile, IsTheEmptyFiveColumnRecordsetAsAnXmlParserReadsIt) {
    TempDir dir;
    const std::string path = dir.file("callerIdLocal.xml");
    ASSERT_TRUE(CreateLocalDatabase(wide(path)));
    const std::string bytes = read_file_bytes(path);
    EXPECT_EQ(bytes, LocalDatabaseXml());
    EXPECT_EQ(bytes.rfind("<xml xmlns:s='", 0), 0u) << "no declaration, no BOM";
    EXPECT_EQ(entries(dir.path()), std::vector<std::string>{"callerIdLocal.xml"})
        << "no temporary file left";

    const std::unique_ptr<xmlDoc, decltype(&xmlFreeDoc)> doc(
        xmlReadMemory(bytes.data(), static_cast<int>(bytes.size()), path.c_str(), nullptr,
                      XML_PARSE_NONET | XML_PARSE_NOERROR),
        xmlFreeDoc);
    ASSERT_NE(doc, nullptr) << "not well-formed";
    const std::string row = "/xml/s:Schema[@id='RowsetSchema']/s:ElementType";
    EXPECT_EQ(
        values(doc.get(), {"local-name(/*)", "namespace-uri(/*)", "count(/xml/*)", row + "/@name",
                           row + "/@content", row + "/@rs:updatable", "count(" + row + "/*)",
                           "name(" + row + "/*[6])", row + "/*[6]/@type", "count(/xml/rs:data)",
                           "count(/xml/rs:data/*)", "string(/xml/namespace::z)"}),
        "xml  2 row eltOnly true 6 s:extends rs:rowbase 1 0 #RowsetSchema")
        << "no rows; the rows' namespace points at the schema by its id";

    // Name, number, write, children; the datatype's type, maxLength, precision,
    // fixedlength, maybenull; and no nullable, keycolumn or dbtype (a dbtype would
    // turn the Unicode adWChar columns into 8-bit text).
    const char* const columns[] = {"s:AttributeType RecordId 1 true 1 i8 8 0 true false 0",
                                   "s:AttributeType Alias 2 true 1 string 16 0 true false 0",
                                   "s:AttributeType Type 3 true 1 string 16 0 true false 0",
                                   "s:AttributeType ID 4 true 1 string 25 0 true false 0",
                                   "s:AttributeType Channel 5 true 1 int 4 0 true false 0"};
    for (int i = 0; i < 5; ++i) {
        const std::string c = row + "/*[" + std::to_string(i + 1) + "]", t = c + "/s:datatype";
        EXPECT_EQ(
            values(doc.get(),
                   {"name(" + c + ")", c + "/@name", c + "/@rs:number", c + "/@rs:write",
                    "count(" + c + "/*)", t + "/@dt:type", t + "/@dt:maxLength",
                    t + "/@rs:precision", t + "/@rs:fixedlength", t + "/@rs:maybenull",
                    "count(" + c + "/@rs:nullable|" + c + "/@rs:keycolumn|" + t + "/@rs:dbtype)"}),
            columns[i]);
    }
}

TEST(LocalDatabaseFile, ExistingEntriesAreNeverTouchedMissingOnesAreCreated) {
    TempDir dir;
    const std::string file = dir.file("file.xml"), folder = dir.file("folder.xml"),
                      link = dir.file("link.xml"), dangling = dir.file("dangling.xml"),
                      target = dir.file("target.txt");
    write_file_bytes(file, "keep me");
    write_file_bytes(target, "target");
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
    ASSERT_EQ(symlink(dir.file("nowhere.txt").c_str(), dangling.c_str()), 0);

    for (const std::string& path : {file, folder, link, dangling, dir.file("")}) {
        EXPECT_FALSE(CreateLocalDatabase(wide(path))) << path;
        EXPECT_TRUE(EnsureLocalDatabase(wide(path))) << path << " counts as present";
    }
    EXPECT_EQ(read_file_bytes(file), "keep me");
    EXPECT_EQ(read_file_bytes(target), "target");
    EXPECT_TRUE(fs::is_empty(folder));
    EXPECT_TRUE(fs::is_symlink(link) && fs::is_symlink(dangling));

    // What is missing is created, where a folder exists to hold it.
    EXPECT_TRUE(EnsureLocalDatabase(wide(dir.file("new.xml"))));
    for (const std::string& bad : {dir.file("missing/new.xml"), std::string()}) {
        EXPECT_FALSE(CreateLocalDatabase(wide(bad))) << bad;
        EXPECT_FALSE(EnsureLocalDatabase(wide(bad))) << bad;
    }
    // No "nowhere.txt": a dangling symlink is never followed.
    EXPECT_EQ(entries(dir.path()),
              (std::vector<std::string>{"dangling.xml", "file.xml", "folder.xml", "link.xml",
                                        "new.xml", "target.txt"}));
}

TEST(LocalDatabaseFile, AFailedWriteLeavesNothingBehind) {
    TempDir dir;
    const int status = run_in_child([&] {
        // The file size limit cuts the write short (EFBIG instead of SIGXFSZ).
        signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{100, 100};
        setrlimit(RLIMIT_FSIZE, &limit);
        return CreateLocalDatabase(wide(dir.file("callerIdLocal.xml"))) ? 0 : 1;
    });
    EXPECT_EQ(status, 1) << "the cut write must fail";
    EXPECT_TRUE(fs::is_empty(dir.path())) << testing::PrintToString(entries(dir.path()));
}

}  // namespace
