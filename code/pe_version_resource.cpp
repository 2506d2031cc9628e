#include "code/pe_version_resource.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>

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

// A run of file bytes: where it starts and how many there are.
struct Range {
    uint64_t at = 0, size = 0;
};

// Fills `out` from the file at offset `at` and returns how many bytes it got:
// fewer only when the file ended early (it shrank) or a read failed.
using ReadAt = std::function<size_t(uint64_t at, std::span<uint8_t> out)>;

// Serves byte ranges of a file of known size, so that only the parts the walk
// uses are read: the headers, the resource directories and the version block.
// No range is longer than the largest table a header can declare (65535 section
// headers of 40 bytes, 2.5 MiB), whatever the file's size.
class RangeReader {
public:
    RangeReader(uint64_t size, size_t readAhead, ReadAt read)
        : m_size(size), m_readAhead(readAhead), m_read(std::move(read)) {}

    uint64_t size() const { return m_size; }

    // The bytes [at, at + length), cut at the end of the file and shorter still
    // when the file ended early. Valid until the next call.
    std::span<const uint8_t> bytes(uint64_t at, size_t length) {
        if (at >= m_size) return {};
        length = static_cast<size_t>(std::min<uint64_t>(length, m_size - at));
        const bool held = at >= m_windowAt && at - m_windowAt <= m_window.size() &&
                          m_window.size() - (at - m_windowAt) >= length;
        if (!held) {
            m_window.resize(static_cast<size_t>(
                std::min<uint64_t>(std::max(length, m_readAhead), m_size - at)));
            m_window.resize(m_read(at, m_window));
            m_windowAt = at;
        }
        const size_t offset = static_cast<size_t>(at - m_windowAt);
        return std::span<const uint8_t>(m_window).subspan(
            offset, std::min(length, m_window.size() - offset));
    }

private:
    uint64_t m_size;
    size_t m_readAhead;
    ReadAt m_read;
    std::vector<uint8_t> m_window;
    uint64_t m_windowAt = 0;
};

// A field at offset `at` of `r`: false unless it lies wholly inside `r` and the
// file still held it.
bool field_u16(RangeReader& file, Range r, uint64_t at, uint16_t& v) {
    return at <= r.size && r.size - at >= 2 && read_u16(file.bytes(r.at + at, 2), 0, v);
}

bool field_u32(RangeReader& file, Range r, uint64_t at, uint32_t& v) {
    return at <= r.size && r.size - at >= 4 && read_u32(file.bytes(r.at + at, 4), 0, v);
}

struct Section {
    uint32_t virtualSize, virtualAddress, rawSize, rawPointer;
};

class PeImage {
public:
    explicit PeImage(RangeReader& file) : m_file(file), m_whole{0, file.size()} {}

    PeVersionStatus locate_resources(Range& resources) {
        uint16_t magic = 0;
        uint32_t peOffset = 0;
        if (!field_u16(m_file, m_whole, 0, magic) || magic != 0x5A4D || m_whole.size < 64)
            return PeVersionStatus::NotExecutable;
        field_u32(m_file, m_whole, 0x3C, peOffset);
        uint16_t sig = 0, sigHigh = 0;
        if (!field_u16(m_file, m_whole, peOffset, sig)) return PeVersionStatus::Malformed;
        if (sig == 0x454E) return PeVersionStatus::SixteenBit;  // "NE"
        if (sig != 0x4550 || !field_u16(m_file, m_whole, uint64_t{peOffset} + 2, sigHigh) ||
            sigHigh != 0)
            return PeVersionStatus::UnsupportedFormat;

        const uint64_t coff = uint64_t{peOffset} + 4;
        uint16_t sectionCount = 0, optionalSize = 0, optionalMagic = 0;
        if (!field_u16(m_file, m_whole, coff + 2, sectionCount) ||
            !field_u16(m_file, m_whole, coff + 16, optionalSize))
            return PeVersionStatus::Malformed;
        const uint64_t optional = coff + 20;
        if (!field_u16(m_file, m_whole, optional, optionalMagic)) return PeVersionStatus::Malformed;
        size_t directories = 0, directoryCountAt = 0;
        if (optionalMagic == 0x10B) {
            directories = 96, directoryCountAt = 92;  // PE32
        } else if (optionalMagic == 0x20B) {
            directories = 112, directoryCountAt = 108;  // PE32+: 64-bit image base and sizes
        } else {
            return PeVersionStatus::UnsupportedFormat;
        }
        const uint64_t sectionTable = optional + optionalSize;
        const size_t tableBytes = kSectionHeaderBytes * sectionCount;
        if (sectionTable + tableBytes > m_whole.size) return PeVersionStatus::Malformed;
        const std::span<const uint8_t> table = m_file.bytes(sectionTable, tableBytes);
        if (table.size() < tableBytes) return PeVersionStatus::Malformed;
        for (size_t at = 0; at < tableBytes; at += kSectionHeaderBytes) {
            Section s{};
            read_u32(table, at + 8, s.virtualSize);
            read_u32(table, at + 12, s.virtualAddress);
            read_u32(table, at + 16, s.rawSize);
            read_u32(table, at + 20, s.rawPointer);
            m_sections.push_back(s);
        }

        // The resource table is data directory #2; it must lie inside the optional
        // header the file declares, not merely inside the file.
        uint32_t directoryCount = 0, resourceRva = 0, resourceSize = 0;
        const size_t resourceEntry = directories + 2 * 8;
        if (optionalSize < resourceEntry + 8 ||
            !field_u32(m_file, m_whole, optional + directoryCountAt, directoryCount) ||
            directoryCount < 3)
            return PeVersionStatus::NoVersionResource;
        if (!field_u32(m_file, m_whole, optional + resourceEntry, resourceRva) ||
            !field_u32(m_file, m_whole, optional + resourceEntry + 4, resourceSize))
            return PeVersionStatus::Malformed;
        if (resourceRva == 0 || resourceSize == 0) return PeVersionStatus::NoVersionResource;
        Range mapped;
        if (!map(resourceRva, mapped)) return PeVersionStatus::Malformed;
        resources = {mapped.at, std::min<uint64_t>(mapped.size, resourceSize)};
        return PeVersionStatus::Ok;
    }

    // The file bytes behind an RVA, up to the end of its section's raw data or of
    // the file, whichever comes first. Bytes a loader would zero-fill are not
    // part of the file and are not offered.
    bool map(uint32_t rva, Range& bytes) const {
        for (const Section& s : m_sections) {
            const uint64_t start = s.virtualAddress;
            const uint64_t end = start + std::max(s.virtualSize, s.rawSize);
            if (rva < start || rva >= end) continue;
            const uint64_t rel = rva - start;
            if (rel >= s.rawSize) return false;
            const uint64_t at = uint64_t{s.rawPointer} + rel;
            if (at >= m_whole.size) return false;
            bytes = {at, std::min<uint64_t>(s.rawSize - rel, m_whole.size - at)};
            return true;
        }
        return false;
    }

private:
    RangeReader& m_file;
    Range m_whole;
    std::vector<Section> m_sections;
};

enum class Lookup { Found, Absent, Malformed };

// One level of the resource tree: the entry with numeric ID `id` (or, with
// `anyLanguage`, the language the loader of an English Windows would pick).
// `wantDirectory` says whether the entry must lead to a sub-directory or a leaf.
Lookup find_entry(RangeReader& file, Range rsrc, uint64_t directory, uint16_t id, bool anyLanguage,
                  bool wantDirectory, uint64_t& target) {
    uint16_t named = 0, ids = 0;
    if (!field_u16(file, rsrc, directory + 12, named) ||
        !field_u16(file, rsrc, directory + 14, ids))
        return Lookup::Malformed;
    const uint64_t first = directory + 16 + 8 * uint64_t{named};
    const size_t idBytes = 8 * size_t{ids};
    if (first + idBytes > rsrc.size) return Lookup::Malformed;
    // Named entries are skipped unread; the numbered ones take one read.
    const std::span<const uint8_t> entries = file.bytes(rsrc.at + first, idBytes);
    if (entries.size() < idBytes) return Lookup::Malformed;

    size_t chosen = SIZE_MAX;
    int chosenRank = 3;
    for (size_t at = 0; at < idBytes; at += 8) {
        uint32_t name = 0;
        read_u32(entries, at, name);
        if (name & kHighBit) continue;
        int rank = 3;
        if (!anyLanguage) {
            rank = (name & 0xFFFFu) == id ? 0 : 3;
        } else {
            rank = (name & 0xFFFFu) == 0 ? 0 : (name & 0xFFFFu) == 0x0409 ? 1 : 2;
        }
        if (rank < chosenRank) chosen = at, chosenRank = rank;
        if (rank == 0) break;
    }
    if (chosen == SIZE_MAX) return Lookup::Absent;
    uint32_t data = 0;
    read_u32(entries, chosen + 4, data);
    if (((data & kHighBit) != 0) != wantDirectory) return Lookup::Malformed;
    target = data & ~kHighBit;
    if (target + 16 > rsrc.size) return Lookup::Malformed;
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

// The version block of the file behind `file`: where it lies, and its bytes,
// valid until `file` is read again.
PeVersionStatus find_version_block(RangeReader& file, Range& where,
                                   std::span<const uint8_t>& bytes) {
    PeImage pe(file);
    Range rsrc;
    if (PeVersionStatus s = pe.locate_resources(rsrc); s != PeVersionStatus::Ok) return s;
    if (rsrc.size < 16) return PeVersionStatus::Malformed;

    // Three fixed levels (type, name, language), so the walk cannot recurse; a
    // directory that points back at one already visited is still refused, since
    // no sound file does that.
    uint64_t typeDir = 0, nameDir = 0, leaf = 0;
    Lookup l = find_entry(file, rsrc, 0, kResourceTypeVersion, false, true, typeDir);
    if (l == Lookup::Found) {
        if (typeDir == 0) return PeVersionStatus::Malformed;
        l = find_entry(file, rsrc, typeDir, kVersionResourceName, false, true, nameDir);
    }
    if (l == Lookup::Found) {
        if (nameDir == 0 || nameDir == typeDir) return PeVersionStatus::Malformed;
        l = find_entry(file, rsrc, nameDir, 0, true, false, leaf);
    }
    if (l == Lookup::Absent) return PeVersionStatus::NoVersionResource;
    if (l == Lookup::Malformed) return PeVersionStatus::Malformed;

    // The data entry may point anywhere in the file's sections, not only into the
    // resource table.
    uint32_t dataRva = 0, dataSize = 0;
    Range data;
    if (!field_u32(file, rsrc, leaf, dataRva) || !field_u32(file, rsrc, leaf + 4, dataSize) ||
        !pe.map(dataRva, data) || dataSize > data.size)
        return PeVersionStatus::Malformed;
    data.size = dataSize;

    // The root's own length (under 64 KiB) bounds the block that is read.
    uint16_t rootLength = 0;
    if (!field_u16(file, data, 0, rootLength)) return PeVersionStatus::Malformed;
    where = {data.at, std::min<uint64_t>(data.size, rootLength)};
    bytes = file.bytes(where.at, static_cast<size_t>(where.size));
    VersionNode root;
    if (bytes.size() < where.size || !parse_node(bytes, 0, bytes.size(), root) ||
        !key_equals(bytes, root, u"VS_VERSION_INFO"))
        return PeVersionStatus::Malformed;
    return PeVersionStatus::Ok;
}

// Bytes read ahead of each range a file is asked for: a resource-only library's
// headers, resource tree and version block then mostly take one or two reads.
constexpr size_t kFileReadAhead = 16 * 1024;

// The version block of a file, copied out; false when there is none. Only regular
// files of at most kMaxImageBytes are read, and of those only the ranges the walk
// uses, so neither a large file nor a broken one costs more than a few reads.
bool load_version_block(const wchar_t* filePath, std::vector<uint8_t>& block) {
    std::string path;
    if (!filePath || !wchar_to_mbchar(filePath, path)) return false;
    // O_NONBLOCK: a FIFO named like a library must not hang the open.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return false;
    struct stat st {};
    bool found = false;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
        static_cast<uint64_t>(st.st_size) <= kMaxImageBytes) {
        // No mmap: a file cut short while mapped would raise SIGBUS.
        RangeReader file(static_cast<uint64_t>(st.st_size), kFileReadAhead,
                         [fd](uint64_t at, std::span<uint8_t> out) {
                             size_t done = 0;
                             while (done < out.size()) {
                                 const ssize_t n = ::pread(fd, out.data() + done, out.size() - done,
                                                           static_cast<off_t>(at + done));
                                 if (n < 0 && errno == EINTR) continue;
                                 if (n <= 0) break;  // a read error, or the file shrank
                                 done += static_cast<size_t>(n);
                             }
                             return done;
                         });
        Range where;
        std::span<const uint8_t> bytes;
        found = find_version_block(file, where, bytes) == PeVersionStatus::Ok;
        if (found) block.assign(bytes.begin(), bytes.end());
    }
    ::close(fd);
    return found;
}

}  // namespace

PeVersionStatus FindVersionResource(std::span<const uint8_t> image,
                                    std::span<const uint8_t>& block) {
    // Served range by range exactly as asked, through the same reader as a file:
    // in memory, reading ahead would save nothing.
    RangeReader file(image.size(), 0, [image](uint64_t at, std::span<uint8_t> out) {
        std::copy_n(image.begin() + static_cast<ptrdiff_t>(at), out.size(), out.begin());
        return out.size();
    });
    Range where;
    std::span<const uint8_t> bytes;
    const PeVersionStatus status = find_version_block(file, where, bytes);
    if (status == PeVersionStatus::Ok)
        block = image.subspan(static_cast<size_t>(where.at), static_cast<size_t>(where.size));
    return status;
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
    if (!QueryVersionValue(block, VersionStringSubBlock(pairs.front(), wide_to_utf16(property)),
                           value, isText))
        return 0;
    const std::wstring text = utf16_to_wide(VersionText(value));
    // A version block is under 64 KiB, so the count always fits.
    const size_t needed = sizeof(wchar_t) * (text.size() + 1);
    if (needed > bufferBytes) return -static_cast<int32_t>(needed);
    std::memcpy(buffer, text.c_str(), needed);
    return static_cast<int32_t>(needed);
}
