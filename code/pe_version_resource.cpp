#include "code/pe_version_resource.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "code/char2wchar.h"

namespace {

// Little-endian readers that refuse to read past the data. Offsets are size_t and
// every sum of 32-bit fields is formed in 64 bits, so nothing wraps.
bool read_u16(std::span<const uint8_t> b, size_t at, uint16_t& v) {
    if (at > b.size() || b.size() - at < 2) return false;
    v = static_cast<uint16_t>(b[at] | (b[at + 1] << 8));
    return true;
}

bool read_u32(std::span<const uint8_t> b, size_t at, uint32_t& v) {
    if (at > b.size() || b.size() - at < 4) return false;
    v = static_cast<uint32_t>(b[at]) | (static_cast<uint32_t>(b[at + 1]) << 8) |
        (static_cast<uint32_t>(b[at + 2]) << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
    return true;
}

constexpr size_t align4(size_t x) { return (x + 3) & ~static_cast<size_t>(3); }

constexpr uint16_t kResourceTypeVersion = 16;  // RT_VERSION
constexpr uint16_t kVersionResourceName = 1;   // VS_VERSION_INFO
constexpr uint32_t kHighBit = 0x80000000u;
constexpr size_t kSectionHeaderBytes = 40;

struct Section {
    uint32_t virtualSize, virtualAddress, rawSize, rawPointer;
};

class PeImage {
public:
    explicit PeImage(std::span<const uint8_t> image) : m_image(image) {}

    PeVersionStatus locate_resources(std::span<const uint8_t>& resources) {
        uint16_t magic = 0;
        uint32_t peOffset = 0;
        if (!read_u16(m_image, 0, magic) || magic != 0x5A4D || m_image.size() < 64)
            return PeVersionStatus::NotExecutable;
        read_u32(m_image, 0x3C, peOffset);
        uint16_t sig = 0, sigHigh = 0;
        if (!read_u16(m_image, peOffset, sig)) return PeVersionStatus::Malformed;
        if (sig == 0x454E) return PeVersionStatus::SixteenBit;  // "NE"
        if (sig != 0x4550 || !read_u16(m_image, size_t{peOffset} + 2, sigHigh) || sigHigh != 0)
            return PeVersionStatus::UnsupportedFormat;

        const size_t coff = size_t{peOffset} + 4;
        uint16_t sectionCount = 0, optionalSize = 0, optionalMagic = 0;
        if (!read_u16(m_image, coff + 2, sectionCount) ||
            !read_u16(m_image, coff + 16, optionalSize))
            return PeVersionStatus::Malformed;
        const size_t optional = coff + 20;
        if (!read_u16(m_image, optional, optionalMagic)) return PeVersionStatus::Malformed;
        size_t directories = 0, directoryCountAt = 0;
        if (optionalMagic == 0x10B) {
            directories = 96, directoryCountAt = 92;  // PE32
        } else if (optionalMagic == 0x20B) {
            directories = 112, directoryCountAt = 108;  // PE32+: 64-bit image base and sizes
        } else {
            return PeVersionStatus::UnsupportedFormat;
        }
        const size_t sectionTable = optional + optionalSize;
        if (sectionTable + kSectionHeaderBytes * sectionCount > m_image.size())
            return PeVersionStatus::Malformed;
        for (size_t i = 0; i < sectionCount; ++i) {
            const size_t at = sectionTable + kSectionHeaderBytes * i;
            Section s{};
            read_u32(m_image, at + 8, s.virtualSize);
            read_u32(m_image, at + 12, s.virtualAddress);
            read_u32(m_image, at + 16, s.rawSize);
            read_u32(m_image, at + 20, s.rawPointer);
            m_sections.push_back(s);
        }

        // The resource table is data directory #2; it must lie inside the optional
        // header the file declares, not merely inside the file.
        uint32_t directoryCount = 0, resourceRva = 0, resourceSize = 0;
        const size_t resourceEntry = directories + 2 * 8;
        if (optionalSize < resourceEntry + 8 ||
            !read_u32(m_image, optional + directoryCountAt, directoryCount) || directoryCount < 3)
            return PeVersionStatus::NoVersionResource;
        if (!read_u32(m_image, optional + resourceEntry, resourceRva) ||
            !read_u32(m_image, optional + resourceEntry + 4, resourceSize))
            return PeVersionStatus::Malformed;
        if (resourceRva == 0 || resourceSize == 0) return PeVersionStatus::NoVersionResource;
        std::span<const uint8_t> mapped;
        if (!map(resourceRva, mapped)) return PeVersionStatus::Malformed;
        resources = mapped.first(std::min<size_t>(mapped.size(), resourceSize));
        return PeVersionStatus::Ok;
    }

    // The file bytes behind an RVA, up to the end of its section's raw data or of
    // the file, whichever comes first. Bytes a loader would zero-fill are not
    // part of the file and are not offered.
    bool map(uint32_t rva, std::span<const uint8_t>& bytes) const {
        for (const Section& s : m_sections) {
            const uint64_t start = s.virtualAddress;
            const uint64_t end = start + std::max(s.virtualSize, s.rawSize);
            if (rva < start || rva >= end) continue;
            const uint64_t rel = rva - start;
            if (rel >= s.rawSize) return false;
            const uint64_t at = uint64_t{s.rawPointer} + rel;
            if (at >= m_image.size()) return false;
            const uint64_t length = std::min<uint64_t>(s.rawSize - rel, m_image.size() - at);
            bytes = m_image.subspan(static_cast<size_t>(at), static_cast<size_t>(length));
            return true;
        }
        return false;
    }

private:
    std::span<const uint8_t> m_image;
    std::vector<Section> m_sections;
};

enum class Lookup { Found, Absent, Malformed };

// One level of the resource tree: the entry with numeric ID `id` (or, with
// `anyLanguage`, the language the loader of an English Windows would pick).
// `wantDirectory` says whether the entry must lead to a sub-directory or a leaf.
Lookup find_entry(std::span<const uint8_t> rsrc, size_t directory, uint16_t id, bool anyLanguage,
                  bool wantDirectory, size_t& target) {
    uint16_t named = 0, ids = 0;
    if (!read_u16(rsrc, directory + 12, named) || !read_u16(rsrc, directory + 14, ids))
        return Lookup::Malformed;
    const size_t first = directory + 16 + 8 * size_t{named};
    if (first + 8 * size_t{ids} > rsrc.size()) return Lookup::Malformed;

    size_t chosen = SIZE_MAX;
    int chosenRank = 3;
    for (size_t i = 0; i < ids; ++i) {
        uint32_t name = 0;
        read_u32(rsrc, first + 8 * i, name);
        if (name & kHighBit) continue;
        int rank = 3;
        if (!anyLanguage) {
            rank = (name & 0xFFFFu) == id ? 0 : 3;
        } else {
            rank = (name & 0xFFFFu) == 0 ? 0 : (name & 0xFFFFu) == 0x0409 ? 1 : 2;
        }
        if (rank < chosenRank) chosen = first + 8 * i, chosenRank = rank;
        if (rank == 0) break;
    }
    if (chosen == SIZE_MAX) return Lookup::Absent;
    uint32_t data = 0;
    read_u32(rsrc, chosen + 4, data);
    if (((data & kHighBit) != 0) != wantDirectory) return Lookup::Malformed;
    target = data & ~kHighBit;
    if (target + 16 > rsrc.size()) return Lookup::Malformed;
    return Lookup::Found;
}

// One node of the version block: {wLength, wValueLength, wType, szKey, pad,
// value, pad, children}. Offsets are relative to the block, whose start is where
// the 32-bit alignment of every part is counted from.
struct VersionNode {
    size_t start = 0, end = 0;
    size_t keyStart = 0, keyUnits = 0;
    size_t valueStart = 0, valueBytes = 0;
    size_t childrenStart = 0;
    bool isText = false;
};

bool parse_node(std::span<const uint8_t> block, size_t at, size_t limit, VersionNode& node) {
    uint16_t length = 0, valueLength = 0, type = 0;
    if (at + 6 > limit || !read_u16(block, at, length) || !read_u16(block, at + 2, valueLength) ||
        !read_u16(block, at + 4, type))
        return false;
    // A length below the header's own size would make no progress: refuse it.
    if (length < 6 || at + length > limit) return false;
    node.start = at;
    node.end = at + length;
    node.keyStart = at + 6;
    size_t k = node.keyStart;
    for (;; k += 2) {
        uint16_t unit = 0;
        if (k + 2 > node.end || !read_u16(block, k, unit)) return false;
        if (unit == 0) break;
    }
    node.keyUnits = (k - node.keyStart) / 2;
    node.isText = type == 1;
    node.valueStart = std::min(align4(k + 2), node.end);
    const size_t declared = node.isText ? 2 * size_t{valueLength} : size_t{valueLength};
    node.valueBytes = std::min(declared, node.end - node.valueStart);
    node.childrenStart = align4(node.valueStart + declared);
    return true;
}

bool key_equals(std::span<const uint8_t> block, const VersionNode& node, std::u16string_view key) {
    if (node.keyUnits != key.size()) return false;
    for (size_t i = 0; i < key.size(); ++i) {
        uint16_t unit = 0;
        read_u16(block, node.keyStart + 2 * i, unit);
        auto fold = [](char16_t c) -> char16_t { return c >= u'a' && c <= u'z' ? c - 32 : c; };
        if (fold(static_cast<char16_t>(unit)) != fold(key[i])) return false;
    }
    return true;
}

bool find_child(std::span<const uint8_t> block, const VersionNode& parent, std::u16string_view key,
                VersionNode& child) {
    for (size_t at = parent.childrenStart; at + 6 <= parent.end; at = align4(child.end)) {
        if (!parse_node(block, at, parent.end, child)) return false;
        if (key_equals(block, child, key)) return true;
    }
    return false;
}

std::u16string to_utf16(const wchar_t* text) {
    std::u16string out;
    for (; *text; ++text) {
        const auto c = static_cast<uint32_t>(*text);
        if (c >= 0x10000 && c <= 0x10FFFF) {
            out.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
        } else {
            out.push_back(c > 0x10FFFF ? u'\uFFFD' : static_cast<char16_t>(c));
        }
    }
    return out;
}

std::wstring to_wide(std::u16string_view text) {
    std::wstring out;
    for (size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            out.push_back(
                static_cast<wchar_t>(0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00)));
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            out.push_back(L'\uFFFD');
        } else {
            out.push_back(static_cast<wchar_t>(c));
        }
    }
    return out;
}

// Reads at most the first `limit` bytes of a regular file of at most kMaxImageBytes;
// `fileSize` gets its whole size.
bool read_image(const std::string& path, size_t limit, std::vector<uint8_t>& image,
                uint64_t& fileSize);

// What a library's version resource is looked for in first. A resource-only library
// keeps it near its start; reading all of a large one (up to kMaxImageBytes) for
// every lookup would hold up the language list.
constexpr size_t kVersionProbeBytes = 1024 * 1024;

// The version block of a file, copied out of the image; false when there is none.
bool load_version_block(const wchar_t* filePath, std::vector<uint8_t>& block) {
    std::string path;
    std::vector<uint8_t> image;
    uint64_t fileSize = 0;
    if (!filePath || !wchar_to_mbchar(filePath, path) ||
        !read_image(path, kVersionProbeBytes, image, fileSize))
        return false;
    // FindVersionResource answers Ok only when every byte it used was present, and
    // those are the file's own bytes, so Ok on the first bytes is the whole file's
    // answer. Any other answer may come from the cut: then the whole file decides.
    std::span<const uint8_t> found;
    PeVersionStatus status = FindVersionResource(image, found);
    if (status != PeVersionStatus::Ok && fileSize > image.size()) {
        if (!ReadImageFile(path, image)) return false;
        status = FindVersionResource(image, found);
    }
    if (status != PeVersionStatus::Ok) return false;
    block.assign(found.begin(), found.end());
    return true;
}

}  // namespace

PeVersionStatus FindVersionResource(std::span<const uint8_t> image,
                                    std::span<const uint8_t>& block) {
    PeImage pe(image);
    std::span<const uint8_t> rsrc;
    if (PeVersionStatus s = pe.locate_resources(rsrc); s != PeVersionStatus::Ok) return s;
    if (rsrc.size() < 16) return PeVersionStatus::Malformed;

    // Three fixed levels (type, name, language), so the walk cannot recurse; a
    // directory that points back at one already visited is still refused, since
    // no sound file does that.
    size_t typeDir = 0, nameDir = 0, leaf = 0;
    Lookup l = find_entry(rsrc, 0, kResourceTypeVersion, false, true, typeDir);
    if (l == Lookup::Found) {
        if (typeDir == 0) return PeVersionStatus::Malformed;
        l = find_entry(rsrc, typeDir, kVersionResourceName, false, true, nameDir);
    }
    if (l == Lookup::Found) {
        if (nameDir == 0 || nameDir == typeDir) return PeVersionStatus::Malformed;
        l = find_entry(rsrc, nameDir, 0, true, false, leaf);
    }
    if (l == Lookup::Absent) return PeVersionStatus::NoVersionResource;
    if (l == Lookup::Malformed) return PeVersionStatus::Malformed;

    uint32_t dataRva = 0, dataSize = 0;
    read_u32(rsrc, leaf, dataRva);
    read_u32(rsrc, leaf + 4, dataSize);
    std::span<const uint8_t> data;
    if (!pe.map(dataRva, data) || dataSize > data.size()) return PeVersionStatus::Malformed;
    data = data.first(dataSize);

    VersionNode root;
    uint16_t rootLength = 0;
    if (!read_u16(data, 0, rootLength)) return PeVersionStatus::Malformed;
    data = data.first(std::min<size_t>(data.size(), rootLength));
    if (!parse_node(data, 0, data.size(), root) || !key_equals(data, root, u"VS_VERSION_INFO"))
        return PeVersionStatus::Malformed;
    block = data;
    return PeVersionStatus::Ok;
}

namespace {

bool read_image(const std::string& path, size_t limit, std::vector<uint8_t>& image,
                uint64_t& fileSize) {
    // O_NONBLOCK: a FIFO named like a library must not hang the open.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return false;
    struct stat st {};
    int error = 0;
    if (::fstat(fd, &st) != 0) {
        error = errno;
    } else if (!S_ISREG(st.st_mode)) {
        error = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    } else if (static_cast<uint64_t>(st.st_size) > kMaxImageBytes) {
        error = EFBIG;
    }
    if (error == 0) {
        fileSize = static_cast<uint64_t>(st.st_size);
        image.resize(static_cast<size_t>(std::min<uint64_t>(fileSize, limit)));
        size_t done = 0;
        while (done < image.size()) {
            const ssize_t n = ::read(fd, image.data() + done, image.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                error = errno;
                break;
            }
            if (n == 0) break;  // the file shrank while being read
            done += static_cast<size_t>(n);
        }
        image.resize(done);
    }
    ::close(fd);
    if (error != 0) {
        image.clear();
        errno = error;
        return false;
    }
    return true;
}

}  // namespace

bool ReadImageFile(const std::string& path, std::vector<uint8_t>& image) {
    uint64_t fileSize = 0;
    return read_image(path, kMaxImageBytes, image, fileSize);
}

bool QueryVersionValue(std::span<const uint8_t> block, std::u16string_view subBlock,
                       std::span<const uint8_t>& value, bool& isText) {
    VersionNode node;
    if (!parse_node(block, 0, block.size(), node)) return false;
    while (!subBlock.empty()) {
        const size_t cut = subBlock.find(u'\\');
        const std::u16string_view part = subBlock.substr(0, cut);
        subBlock =
            cut == std::u16string_view::npos ? std::u16string_view{} : subBlock.substr(cut + 1);
        if (part.empty()) continue;
        VersionNode child;
        if (!find_child(block, node, part, child)) return false;
        node = child;
    }
    value = block.subspan(node.valueStart, node.valueBytes);
    isText = node.isText;
    return true;
}

std::vector<VersionTranslation> VersionTranslations(std::span<const uint8_t> block) {
    std::vector<VersionTranslation> pairs;
    std::span<const uint8_t> value;
    bool isText = false;
    if (!QueryVersionValue(block, u"\\VarFileInfo\\Translation", value, isText)) return pairs;
    for (size_t at = 0; at + 4 <= value.size(); at += 4) {
        VersionTranslation t;
        read_u16(value, at, t.language);
        read_u16(value, at + 2, t.codePage);
        pairs.push_back(t);
    }
    return pairs;
}

std::u16string VersionText(std::span<const uint8_t> value) {
    std::u16string text;
    for (size_t at = 0; at + 2 <= value.size(); at += 2) {
        uint16_t unit = 0;
        read_u16(value, at, unit);
        if (unit == 0) break;
        text.push_back(static_cast<char16_t>(unit));
    }
    return text;
}

std::u16string VersionStringSubBlock(VersionTranslation translation, std::u16string_view property) {
    static constexpr char16_t kHex[] = u"0123456789abcdef";
    std::u16string path = u"\\StringFileInfo\\";
    for (uint16_t v : {translation.language, translation.codePage})
        for (int shift = 12; shift >= 0; shift -= 4) path.push_back(kHex[(v >> shift) & 0xF]);
    path.push_back(u'\\');
    path.append(property);
    return path;
}

uint16_t GetFileLanguageId(const wchar_t* filePath) {
    std::vector<uint8_t> block;
    if (!load_version_block(filePath, block)) return 0;
    const std::vector<VersionTranslation> pairs = VersionTranslations(block);
    return pairs.empty() ? 0 : pairs.front().language;
}

int32_t GetFileVersionPropertyInfo(const wchar_t* filePath, const wchar_t* property,
                                   wchar_t* buffer, size_t bufferBytes) {
    if (!buffer || bufferBytes == 0 || !property) return 0;
    std::vector<uint8_t> block;
    if (!load_version_block(filePath, block)) return 0;
    const std::vector<VersionTranslation> pairs = VersionTranslations(block);
    if (pairs.empty()) return 0;
    std::span<const uint8_t> value;
    bool isText = false;
    if (!QueryVersionValue(block, VersionStringSubBlock(pairs.front(), to_utf16(property)), value,
                           isText))
        return 0;
    const std::wstring text = to_wide(VersionText(value));
    // A version block is under 64 KiB, so the count always fits.
    const size_t needed = sizeof(wchar_t) * (text.size() + 1);
    if (needed > bufferBytes) return -static_cast<int32_t>(needed);
    std::memcpy(buffer, text.c_str(), needed);
    return static_cast<int32_t>(needed);
}
