// Column bytes from a database server are untrusted: decoding them must stay in
// bounds and give text with no trailing white space, never longer than its bytes,
// made only of Unicode scalar values.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "app/CallerIdDbConnection.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string bytes(reinterpret_cast<const char*>(data), size);
    std::wstring text = L"left from the previous row";
    caller_id_text::WidenTrimmed(bytes, text);
    if (text.size() > bytes.size()) std::abort();
    if (!text.empty()) {
        wchar_t last = text.back();
        if (last == L' ' || last == L'\t' || last == L'\n' || last == L'\v' || last == L'\f' ||
            last == L'\r')
            std::abort();
    }
    for (wchar_t c : text) {
        auto code = static_cast<uint32_t>(c);
        if (code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) std::abort();
    }
    // Narrowing a decoded ASCII-only text gives back the trimmed bytes.
    bool ascii = true;
    for (unsigned char b : bytes) ascii = ascii && b < 0x80;
    if (ascii && bytes.compare(0, text.size(), caller_id_text::CopyToNarrow(text)) != 0)
        std::abort();
    return 0;
}
