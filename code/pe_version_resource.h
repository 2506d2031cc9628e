#pragma once
// Reads the version resource (VS_VERSIONINFO) of Windows PE files, 32- and 64-bit,
// without Windows: the language libraries are resource-only DLLs that the tool
// only inspects, never loads.
//
// The files are untrusted. Every offset and length is checked against the bytes
// actually present; a file that breaks a rule is refused as a whole (no partial
// guesses), never read past its end, and no walk can loop: the resource tree is
// walked exactly three levels deep and every node of the version block is at
// least 6 bytes long, so each step moves forward.
//
// Contract of the file functions:
//  - only regular files of at most kMaxImageBytes are read (a folder, FIFO or
//    device named like a DLL is refused without being read), and of those only
//    the ranges the walk uses: the headers, the resource directories it passes
//    and the version block, wherever the data entry puts it;
//  - the resource chosen is type 16 (RT_VERSION), name 1, language 0 if present,
//    else 0x0409, else the first one listed (the choice of an English Windows);
//  - 16-bit (NE) files are recognised and refused.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// Files larger than this are not language libraries; they are refused unread.
inline constexpr size_t kMaxImageBytes = 64u * 1024u * 1024u;

enum class PeVersionStatus {
    Ok,
    NotExecutable,      // no "MZ" header or too short for one
    SixteenBit,         // an NE (Windows 3.x) file
    UnsupportedFormat,  // neither PE32 nor PE32+ (LE/LX, unknown optional header)
    NoVersionResource,  // a sound PE file without RT_VERSION / 1
    Malformed,          // an offset, length or count points outside the data
};

// Finds the version block inside the bytes of a whole PE file. On Ok `block` views
// the bytes of `image` holding the VS_VERSIONINFO root, cut to the root's length.
PeVersionStatus FindVersionResource(std::span<const uint8_t> image,
                                    std::span<const uint8_t>& block);

// Looks up a value the way VerQueryValueW does: `subBlock` is a path such as
// u"\\StringFileInfo\\040c04e4\\ProductVersion", split on '\\' (empty parts
// skipped), each part matched case-insensitively (ASCII) against the children's
// keys. On success `value` views the value bytes, cut to the node's end, and
// `isText` tells a text node (wType 1) from a binary one. An empty path names the
// root, whose value is VS_FIXEDFILEINFO.
bool QueryVersionValue(std::span<const uint8_t> block, std::u16string_view subBlock,
                       std::span<const uint8_t>& value, bool& isText);

struct VersionTranslation {
    uint16_t language = 0;
    uint16_t codePage = 0;
};

// The pairs of "\VarFileInfo\Translation", in file order; empty when absent.
std::vector<VersionTranslation> VersionTranslations(std::span<const uint8_t> block);

// The text of a text value: UTF-16 units up to the first zero unit. Writers
// disagree on whether wValueLength counts characters or bytes, so the value is
// read up to the node's end and cut at the terminator instead.
std::u16string VersionText(std::span<const uint8_t> value);

// "\StringFileInfo\llllcccc\<property>" with language and code page as four
// lowercase hexadecimal digits each.
std::u16string VersionStringSubBlock(VersionTranslation translation, std::u16string_view property);

// The language of the first translation of the file's version resource; 0 when the
// file cannot be read, has no version resource or no translation list.
uint16_t GetFileLanguageId(const wchar_t* filePath);

// Copies the text of `property`, looked up under the first translation's language
// and code page, with its terminating zero into `buffer`, and returns the bytes
// that takes: sizeof(wchar_t) * (length + 1). When that is more than `bufferBytes`
// nothing is copied and the negative of the size needed is returned. 0 when the
// buffer is missing or empty, the file has no readable version resource, no
// translation list, or the property is not there. UTF-16 surrogate pairs become one
// wchar_t each; a lone surrogate becomes U+FFFD.
int32_t GetFileVersionPropertyInfo(const wchar_t* filePath, const wchar_t* property,
                                   wchar_t* buffer, size_t bufferBytes);
