// The PE version resource reader over real resource-only DLLs built by the MinGW-w64
// resource compiler and linker, and over hand-corrupted copies of them.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "code/pe_version_resource.h"
#include "tests/support/temp_dir.h"

namespace {

std::string fixture(const std::string& name) {
    return std::string(TALVEX_LANGUAGE_DLL_DIR) + "/" + name;
}

std::wstring wide(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

std::vector<uint8_t> fixture_bytes(const std::string& name) {
    const std::string bytes = read_file_bytes(fixture(name));
    return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

// Little-endian fields, as the host stores them.
template <class T>
T get(const std::vector<uint8_t>& b, size_t at) {
    T v;
    std::memcpy(&v, &b[at], sizeof v);
    return v;
}
template <class T>
void put(std::vector<uint8_t>& b, size_t at, T v) {
    std::memcpy(&b[at], &v, sizeof v);
}
uint32_t get32(const std::vector<uint8_t>& b, size_t at) { return get<uint32_t>(b, at); }

// Where the interesting fields of a sound single-section fixture are, found the
// plain way (the fixtures are trusted; only their corrupted copies are not).
struct Layout {
    size_t pe, optional, resources, sectionTable, root, typeDir, nameDir, leaf, block;
};

Layout layout_of(const std::vector<uint8_t>& b) {
    Layout l{};
    l.pe = get32(b, 0x3C);
    l.optional = l.pe + 24;
    l.resources = l.optional + (get<uint16_t>(b, l.optional) == 0x20B ? 128 : 112);
    l.sectionTable = l.optional + get<uint16_t>(b, l.pe + 20);
    const uint32_t va = get32(b, l.sectionTable + 12), raw = get32(b, l.sectionTable + 20);
    l.root = raw + (get32(b, l.resources) - va);
    l.typeDir = l.root + (get32(b, l.root + 20) & 0x7FFFFFFF);
    l.nameDir = l.root + (get32(b, l.typeDir + 20) & 0x7FFFFFFF);
    l.leaf = l.root + get32(b, l.nameDir + 20);
    l.block = raw + (get32(b, l.leaf) - va);
    return l;
}

PeVersionStatus status_of(const std::vector<uint8_t>& image) {
    std::span<const uint8_t> block;
    return FindVersionResource(image, block);
}

TEST(PeVersionResource, ReadsLanguagesAndPropertiesOfRealLibraries) {
    const std::tuple<const char*, uint16_t, const wchar_t*, const wchar_t*> cases[] = {
        // Property names match case-insensitively, as on Windows.
        {"french32.dll", 1036, L"productversion", L"2.700.401.16"},
        // Only the second translation (English) has a table; the first (Spanish) rules.
        {"second_translation64.dll", 0x0C0A, L"ProductVersion", nullptr},
        {"french64.dll", 1036, L"NoSuchProperty", nullptr},
        {"no_such_file.dll", 0, L"ProductVersion", nullptr}};
    for (const auto& [name, language, property, expected] : cases) {
        SCOPED_TRACE(name);
        const std::wstring path = wide(fixture(name));
        EXPECT_EQ(GetFileLanguageId(path.c_str()), language);
        wchar_t text[260] = L"";
        EXPECT_EQ(GetFileVersionPropertyInfo(path.c_str(), property, text, sizeof text),
                  expected ? static_cast<int32_t>(sizeof(wchar_t) * (wcslen(expected) + 1)) : 0);
        EXPECT_STREQ(text, expected ? expected : L"");
    }
    // A buffer one unit short gets nothing but the size it needs, negated.
    const std::wstring path = wide(fixture("french64.dll"));
    const int32_t needed = sizeof(wchar_t) * 13;
    wchar_t text[13];
    std::wmemset(text, L'#', 13);
    EXPECT_EQ(GetFileVersionPropertyInfo(path.c_str(), L"ProductVersion", text, needed - 1),
              -needed);
    EXPECT_EQ(std::wstring(text, 13), std::wstring(13, L'#'));
    EXPECT_EQ(GetFileVersionPropertyInfo(path.c_str(), L"ProductVersion", text, needed), needed);
    EXPECT_EQ(GetFileVersionPropertyInfo(path.c_str(), L"ProductVersion", text, 0), 0);
    EXPECT_EQ(GetFileVersionPropertyInfo(path.c_str(), L"ProductVersion", nullptr, 52), 0);
}

TEST(PeVersionResource, ResourcesAreReadWhereverTheyLieInFilesUpToTheSizeLimit) {
    // The resource tree 1.5 MiB into the file and the version block 2 MiB past it,
    // beyond the resource table though in the same section. The block's old place
    // is wiped, so only the far copy can answer.
    const auto image = fixture_bytes("french64.dll");
    const Layout l = layout_of(image);
    const uint32_t va = get32(image, l.sectionTable + 12), raw = get32(image, l.sectionTable + 20),
                   rawSize = get32(image, l.sectionTable + 16), dataSize = get32(image, l.leaf + 4);
    const uint32_t moved = 3u << 19, gap = 2u << 20;
    std::vector<uint8_t> far(image.begin(), image.begin() + raw);
    far.resize(moved);
    far.insert(far.end(), image.begin() + raw, image.begin() + raw + rawSize);
    std::fill_n(far.begin() + moved + (l.block - raw), dataSize, 0);
    far.resize(moved + gap);
    far.insert(far.end(), image.begin() + l.block, image.begin() + l.block + dataSize);
    put<uint32_t>(far, l.sectionTable + 20, moved);
    put<uint32_t>(far, l.sectionTable + 16, gap + dataSize);
    put<uint32_t>(far, moved + (l.leaf - raw), va + gap);
    TempDir dir;
    const std::string file = dir.file("TalvexFAR.DLL");
    write_file_bytes(file, std::string(far.begin(), far.end()));
    // Grown to the size limit (sparse, costing no space) it is read; one byte more, refused.
    for (const size_t size : {kMaxImageBytes, kMaxImageBytes + 1}) {
        ASSERT_EQ(truncate(file.c_str(), size), 0);
        wchar_t text[260] = L"";
        GetFileVersionPropertyInfo(wide(file).c_str(), L"ProductVersion", text, sizeof text);
        EXPECT_STREQ(text, size == kMaxImageBytes ? L"2.700.401.16" : L"") << size;
    }
}

TEST(PeVersionResource, EveryTruncationIsRefusedOrReadWithinTheData) {
    for (const char* name : {"french64.dll", "german32.dll"}) {
        const auto full = fixture_bytes(name);
        const Layout l = layout_of(full);
        const size_t blockEnd = l.block + get<uint16_t>(full, l.block);
        for (size_t size = 0; size < full.size(); ++size) {
            // A fresh allocation of exactly `size` bytes lets ASan see any overread.
            const std::vector<uint8_t> cut(full.begin(), full.begin() + size);
            EXPECT_EQ(status_of(cut) == PeVersionStatus::Ok, size >= blockEnd)
                << name << " cut at " << size;
        }
    }
}

// Each field is written as 32 bits; the 16-bit ones clobber only a field read later.
TEST(PeVersionResource, FilesThatBreakARuleAreRefusedForWhatTheyAre) {
    const auto good = fixture_bytes("french64.dll");
    const Layout l = layout_of(good);
    using S = PeVersionStatus;
    const uint32_t typeAt = static_cast<uint32_t>(l.typeDir - l.root);
    const std::tuple<const char*, size_t, uint32_t, S> cases[] = {
        {"e_lfanew past the end", 0x3C, 0xFFFFFFF0u, S::Malformed},
        {"section count past the end", l.pe + 6, 0xFFFF, S::Malformed},
        {"resource RVA in no section", l.resources, 0x7FFFF000u, S::Malformed},
        {"section raw data past the end", l.sectionTable + 20, 0xFFFFFE00u, S::Malformed},
        {"leaf RVA in no section", l.leaf, 0x10, S::Malformed},
        {"leaf size past the section", l.leaf + 4, 0xFFFFFFFFu, S::Malformed},
        {"type entry count past the data", l.root + 14, 0xFFFF, S::Malformed},
        {"type directory outside the data", l.root + 20, 0x80FFFFF0u, S::Malformed},
        {"type entry leads to a leaf", l.root + 20, typeAt, S::Malformed},
        {"type directory is the root itself", l.root + 20, 0x80000000u, S::Malformed},
        {"name directory is the type one", l.typeDir + 20, 0x80000000u | typeAt, S::Malformed},
        {"language entry leads to a directory", l.nameDir + 20, 0x80000000u, S::Malformed},
        {"root node length 0", l.block, 0, S::Malformed},
        {"optional header of unknown kind", l.optional, 0x0107, S::UnsupportedFormat},
        {"a 16-bit file", l.pe, 0x454E /* "NE" */, S::SixteenBit},
        {"an LX file", l.pe, 0x584C, S::UnsupportedFormat},
        {"no resource table", l.resources, 0, S::NoVersionResource},
        // Raw data past the end of the file is read up to the end, and no further.
        {"section raw size past the end", l.sectionTable + 16, 0xFFFFFFFFu, S::Ok},
    };
    for (const auto& [what, at, value, expected] : cases) {
        auto bad = good;
        put(bad, at, value);
        EXPECT_EQ(status_of(bad), expected) << what;
    }
    EXPECT_EQ(status_of({'M', 'Z'}), S::NotExecutable);
    EXPECT_EQ(status_of(std::vector<uint8_t>(64, 0)), S::NotExecutable);
}

std::string utf16z(const std::u16string& text) {
    std::string b;
    for (char16_t c : text + u'\0') b += static_cast<char>(c), b += static_cast<char>(c >> 8);
    return b;
}

// A VS_VERSIONINFO-style node: header, key, then the value and each child 4-aligned.
std::string node(const std::u16string& key, const std::string& value, uint16_t valueLength,
                 uint16_t type, std::vector<std::string> children = {}) {
    std::string b = std::string(6, '\0') + utf16z(key);
    children.insert(children.begin(), value);
    for (const std::string& part : children) b.resize((b.size() + 3) & ~size_t{3}, '\0'), b += part;
    const uint16_t header[3] = {static_cast<uint16_t>(b.size()), valueLength, type};
    std::memcpy(b.data(), header, sizeof header);
    return b;
}

std::u16string query_text(const std::string& blockBytes, std::u16string_view path) {
    const std::vector<uint8_t> block(blockBytes.begin(), blockBytes.end());
    std::span<const uint8_t> value;
    bool isText = false;
    return QueryVersionValue(block, path, value, isText) ? VersionText(value) : u"<absent>";
}

TEST(PeVersionResource, VersionBlockQuirksAreReadLikeWindowsReadsThem) {
    auto tree = [&](uint16_t stringValueLength, bool varFirst) {
        const std::string strings =
            node(u"StringFileInfo", "", 0, 1,
                 {node(u"040704e4", "", 0, 1,
                       {node(u"Comments", utf16z(u""), 0, 1),  // empty value, no value bytes
                        node(u"ProductVersion", utf16z(u"2.700.401.16"), stringValueLength, 1)})});
        const std::string vars =
            node(u"VarFileInfo", "", 0, 1, {node(u"Translation", "\x07\x04\xe4\x04", 4, 0)});
        return node(u"VS_VERSION_INFO", std::string(52, '\0'), 52, 0,
                    varFirst ? std::vector{vars, strings} : std::vector{strings, vars});
    };
    const std::u16string path = u"\\StringFileInfo\\040704e4\\ProductVersion";
    // Characters counted, or bytes as some writers count, with VarFileInfo first; a length
    // far past the node is cut at the node's end and at the terminator.
    for (const auto& [length, varFirst] : {std::pair{13, false}, {26, true}, {0xFFFF, false}})
        EXPECT_EQ(query_text(tree(length, varFirst), path), u"2.700.401.16") << length;
    const std::string block = tree(13, false);
    EXPECT_EQ(query_text(block, u"StringFileInfo\\\\040704E4\\Comments"), u"");
    EXPECT_EQ(query_text(block, u"\\StringFileInfo\\040904e4\\ProductVersion"), u"<absent>");
    EXPECT_EQ(query_text(block.substr(0, block.size() - 1), path), u"<absent>") << "cut short";
    // A key that runs past its node's length is refused, though the bytes after end it.
    std::string cut = node(u"VS_VERSION_INFO", "", 0, 0);
    cut[0] = 10;
    EXPECT_EQ(query_text(cut, u""), u"<absent>");
}

}  // namespace
