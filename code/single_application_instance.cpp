#include "code/single_application_instance.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <cwchar>
#include <string>

#include "code/char2wchar.h"
#include "code/syserrx.h"

namespace {

SingleApplicationInstance* g_registered = nullptr;

const wchar_t GLOBAL_PREFIX[] = L"Global\\";
constexpr size_t GLOBAL_PREFIX_LENGTH = sizeof GLOBAL_PREFIX / sizeof GLOBAL_PREFIX[0] - 1;

// An abstract name takes sun_path after its leading zero byte.
constexpr size_t ABSTRACT_NAME_LIMIT = sizeof(sockaddr_un::sun_path) - 1;
constexpr size_t HASH_HEX_DIGITS = 32;

// 128-bit FNV-1a: enough that two different long names practically never share an address.
std::string hash_hex(const std::string& bytes) {
    __extension__ using u128 = unsigned __int128;
    const u128 prime = (u128{1} << 88) | 0x13B;
    u128 hash = (u128{0x6C62272E07BB0142ULL} << 64) | 0x62B821756295C58DULL;
    for (unsigned char byte : bytes) {
        hash ^= byte;
        hash *= prime;
    }
    static const char digits[] = "0123456789abcdef";
    std::string hex(HASH_HEX_DIGITS, '0');
    for (size_t i = HASH_HEX_DIGITS; i-- > 0; hash >>= 4) hex[i] = digits[hash & 0xF];
    return hex;
}

// The name itself when it fits the address; a longer one keeps as much of its start as
// fits beside a hash of the whole name, so names differing only past the cut stay apart.
std::string abstract_name_of(const wchar_t* full_name) {
    // UTF-8 whatever the process locale, so that copies started under different locales
    // agree on the bytes of one name.
    std::string name = wide_to_utf8(full_name);
    if (name.size() <= ABSTRACT_NAME_LIMIT) return name;
    const std::string hash = hash_hex(name);
    name.resize(ABSTRACT_NAME_LIMIT - HASH_HEX_DIGITS - 1);
    return name + '#' + hash;
}

// 0 when the name was taken now, otherwise the errno of the failing step. A stream
// socket that never listens: nobody can connect to it or queue data at it. The kernel
// keeps abstract names apart by socket type, so every copy must use this one.
uint32_t bind_instance_socket(const std::string& name, int& fd) {
    fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return static_cast<uint32_t>(errno);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path + 1, name.data(), name.size());
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
    if (bind(fd, reinterpret_cast<const sockaddr*>(&address), length) == 0) return 0;
    const auto error = static_cast<uint32_t>(errno);
    close(fd);
    fd = -1;
    return error;
}

}  // namespace

SingleApplicationInstance::SingleApplicationInstance(const wchar_t* full_name) {
    m_creationResult = bind_instance_socket(abstract_name_of(full_name), m_socket);
    // Anything but another holder leaves this copy unguarded; worth a line in the log.
    if (m_creationResult != 0 && m_creationResult != EADDRINUSE)
        SYSERR_CHECK_FAILED_ERRNO(m_creationResult, L"instance socket bound");
}

SingleApplicationInstance::~SingleApplicationInstance() = default;

bool SingleApplicationInstance::RegisterApplicationInstance(const wchar_t* name, bool make_global) {
    if (g_registered || !name || !*name) return false;
    std::wstring full_name;
    if (make_global && std::wcsncmp(name, GLOBAL_PREFIX, GLOBAL_PREFIX_LENGTH) != 0)
        full_name = GLOBAL_PREFIX;
    full_name += name;
    g_registered = new SingleApplicationInstance(full_name.c_str());
    return true;
}

bool SingleApplicationInstance::IsOnlyApplicationInstance() {
    return g_registered && g_registered->m_creationResult != EADDRINUSE;
}

void SingleApplicationInstance::ReleaseApplicationInstance() {
    if (!g_registered) return;
    if (g_registered->m_socket >= 0 && close(g_registered->m_socket) != 0)
        SYSERR_ASSERT_FAILED(L"closed");
    g_registered->m_socket = -1;
    delete g_registered;
    g_registered = nullptr;
}
