#pragma once
// Keeps the tool from running twice on one machine, across all users and sessions.
//
// The first copy binds an abstract Unix socket named after the instance; a later copy
// finds the name taken. The kernel drops the name with the socket, so a copy that ends in
// any way, SIGKILL included, leaves nothing behind. The socket is not inherited across
// exec, so programs the tool starts do not keep the name taken.
//
// The name is used in UTF-8; one longer than the 107 bytes an abstract address holds is
// represented by its first 74 bytes, '#' and a 128-bit hash of the whole name. Abstract
// names are shared by every process of one network namespace: copies in different
// network namespaces (containers, sandboxes) do not see each other.
//
// The operations are meant for the main thread only; the registration has no lock.

#include <cstdint>

class SingleApplicationInstance {
public:
    // Makes this process's registration under `name` ("Global\" is put in front when
    // `make_global` is set and the name does not start with it). True when a registration
    // was made now; false when one exists already or the name is null or empty. Whether
    // another copy holds the name is asked with IsOnlyApplicationInstance.
    static bool RegisterApplicationInstance(const wchar_t* name, bool make_global);

    // True when this process is registered and no other process held the name. A name
    // that could not be taken for any reason other than another holder (no sockets left,
    // ...) also gives true: the process then runs unguarded.
    static bool IsOnlyApplicationInstance();

    // Gives the name up and removes the registration; does nothing when none exists.
    static void ReleaseApplicationInstance();

    SingleApplicationInstance(const SingleApplicationInstance&) = delete;
    SingleApplicationInstance& operator=(const SingleApplicationInstance&) = delete;

private:
    explicit SingleApplicationInstance(const wchar_t* full_name);
    ~SingleApplicationInstance();

    // errno of the socket's creation and binding; 0 when the name was taken now,
    // EADDRINUSE when another process held it.
    uint32_t m_creationResult = 0;
    // -1 when creation failed or after release.
    int m_socket = -1;
};
