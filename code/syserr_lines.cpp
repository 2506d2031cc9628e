#include "code/syserr_lines.h"

#include <climits>
#include <cstring>
#include <cwchar>

#include "code/char2wchar.h"

namespace syserr {

namespace {

// The formats reports use, made without vswprintf, which costs more than the rest of
// a record: text, "%ls", "%%", and "%s" of ASCII (other bytes need the locale).
// False for anything else; `out` is then to be made again by vswprintf.
bool format_plainly(wchar_t* out, const wchar_t* format, va_list args) {
    size_t used = 0;
    const auto put = [&](wchar_t c) {
        if (used < kMessageSize - 1) out[used++] = c;
    };
    for (const wchar_t* f = format; *f; ++f) {
        if (*f != L'%') {
            put(*f);
        } else if (f[1] == L'%') {
            put(*++f);
        } else if (f[1] == L'l' && f[2] == L's') {
            const wchar_t* text = va_arg(args, const wchar_t*);
            if (!text) return false;
            while (*text) put(*text++);
            f += 2;
        } else if (f[1] == L's') {
            const char* text = va_arg(args, const char*);
            if (!text) return false;
            for (; *text; ++text) {
                if (static_cast<unsigned char>(*text) >= 0x80u) return false;
                put(static_cast<wchar_t>(*text));
            }
            ++f;
        } else {
            return false;
        }
    }
    out[used] = L'\0';
    return true;
}

}  // namespace

void format_message(wchar_t* out, const wchar_t* format, va_list args) {
    out[0] = L'\0';
    if (!format) return;
    va_list copy;
    va_copy(copy, args);
    const bool made = format_plainly(out, format, copy);
    va_end(copy);
    if (made) return;
    // glibc leaves a cut result unterminated and stops early at a narrow argument
    // the locale cannot read; either way the text so far stands.
    std::vswprintf(out, kMessageSize, format, args);
    out[kMessageSize - 1] = L'\0';
}

void copy_tail(wchar_t* destination, size_t capacity, const wchar_t* text) {
    size_t length = std::wcslen(text);
    if (length >= capacity) {
        text += length - (capacity - 1);
        length = capacity - 1;
    }
    std::wmemcpy(destination, text, length);
    destination[length] = L'\0';
}

// Made once per second: records come in bursts.
void timestamp_text(time_t time, wchar_t* out) {
    static time_t cached_time = 0;
    static wchar_t cached[kTimeSize] = {};
    if (time != cached_time || cached[0] == L'\0') {
        cached[0] = L'\0';
        std::tm utc{};
        char narrow[kTimeSize];
        if (!gmtime_r(&time, &utc)) {
            out[0] = L'\0';
            return;
        }
        const size_t length = std::strftime(narrow, sizeof narrow, "%Y/%m/%d-%H:%M:%S UTC", &utc);
        for (size_t i = 0; i < length; ++i) cached[i] = static_cast<unsigned char>(narrow[i]);
        cached[length] = L'\0';
        cached_time = time;
    }
    std::wmemcpy(out, cached, kTimeSize);
}

void error_text(uint32_t flags, uint32_t error, wchar_t* out) {
    out[0] = L'\0';
    const uint32_t kind = (flags >> 3) & 7u;
    if (kind != kErrorKindPlatform && kind != 4) return;
    char buffer[kErrorTextSize];
    std::wstring wide;
    if (!mbchar_to_wchar(strerror_r(static_cast<int>(error), buffer, sizeof buffer), wide)) return;
    const size_t length = wide.size() < kErrorTextSize ? wide.size() : kErrorTextSize - 1;
    std::wmemcpy(out, wide.c_str(), length);
    out[length] = L'\0';
}

LineBuilder& LineBuilder::text(const wchar_t* s) {
    while (*s && m_length < kLineSize - 2) m_buffer[m_length++] = *s++;
    return *this;
}

LineBuilder& LineBuilder::ch(wchar_t c) {
    const wchar_t s[2] = {c, L'\0'};
    return text(s);
}

LineBuilder& LineBuilder::dec(uint32_t value) {
    wchar_t digits[11];
    size_t n = sizeof digits / sizeof digits[0];
    digits[--n] = L'\0';
    do {
        digits[--n] = static_cast<wchar_t>(L'0' + value % 10);
        value /= 10;
    } while (value);
    return text(digits + n);
}

LineBuilder& LineBuilder::hex(uint32_t value, int min_digits) {
    static const wchar_t kDigits[] = L"0123456789abcdef";
    wchar_t digits[9];
    size_t n = 8;
    digits[n] = L'\0';
    do {
        digits[--n] = kDigits[value & 15u];
        value >>= 4;
        --min_digits;
    } while (value || min_digits > 0);
    return text(digits + n);
}

const wchar_t* LineBuilder::finish() {
    m_buffer[m_length++] = L'\n';
    m_buffer[m_length] = L'\0';
    return m_buffer;
}

const wchar_t* console_line(const Record& r, LineBuilder& line) {
    line.text(L"PID:").dec(r.pid).text(L" TID:").dec(r.tid).ch(L' ').text(r.file).ch(L'@');
    line.dec(r.line).text(L": ").text(r.message);
    return line.finish();
}

const wchar_t* file_line(const Record& r, LineBuilder& line) {
    line.hex(r.sequence, 8).text(L"\tPID:").dec(r.pid).text(L"\tTID:").dec(r.tid).ch(L'\t');
    line.text(r.module).ch(L'\t').text(r.file).ch(L'\t').dec(r.line).text(L"\t0x");
    line.hex(r.flags, 1).ch(L'\t').dec(r.error).ch(L'\t').text(r.message).ch(L'\t');
    line.text(r.error_text).ch(L'\t').text(r.timestamp);
    return line.finish();
}

const wchar_t* syslog_line(const Record& r, LineBuilder& line) {
    line.hex(r.sequence, 8).ch(L'\t').text(r.computer).text(L"\tPID:").dec(r.pid);
    line.text(L"\tTID:").dec(r.tid).ch(L'\t').text(r.module).text(L"::").text(r.file);
    line.ch(L'@').dec(r.line).text(L"\t(0x").hex(r.flags, 1).text(L", ").dec(r.error);
    line.text(L"):\t").text(r.message).ch(L'\t').text(r.error_text);
    if (r.sequence == 0) line.ch(L'\t').text(r.timestamp);
    return line.finish();
}

NarrowLine::NarrowLine(const wchar_t* line) {
    // ASCII has the same bytes in every locale glibc offers: copy it without the
    // conversion machinery, which costs as much as a system call here.
    size_t used = 0;
    for (; used < sizeof m_stack - 1 && line[used] && static_cast<uint32_t>(line[used]) < 0x80u;
         ++used) {
        m_stack[used] = static_cast<char>(line[used]);
    }
    std::mbstate_t state{};
    char bytes[MB_LEN_MAX];
    for (const wchar_t* p = line + used; *p; ++p) {
        size_t n = std::wcrtomb(bytes, *p, &state);
        if (n == static_cast<size_t>(-1)) {
            state = std::mbstate_t{};
            bytes[0] = '?';
            n = 1;
        }
        if (m_data == m_stack && used + n >= sizeof m_stack) {
            m_heap.assign(m_stack, used);
            m_data = nullptr;
        }
        if (m_data == m_stack) {
            std::memcpy(m_stack + used, bytes, n);
        } else {
            m_heap.append(bytes, n);
        }
        used += n;
    }
    if (!m_data) {
        m_heap.push_back('\0');
        m_data = m_heap.data();
    }
    m_data[used] = '\0';
    m_size = used;
}

void NarrowLine::fit(size_t limit) {
    if (m_size <= limit) return;
    size_t end = limit - 1;
    while (end > 0 && (static_cast<unsigned char>(m_data[end]) & 0xC0u) == 0x80u) --end;
    m_data[end] = '\n';
    m_data[end + 1] = '\0';
    m_size = end + 1;
}

}  // namespace syserr
