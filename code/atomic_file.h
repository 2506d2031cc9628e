#pragma once
// Replaces a file so that, whatever happens (a crash, a full disk, a write
// error), the name holds either the whole old content or the whole new one.
//
// The new content goes to a file of its own in the target's folder (unnamed
// where the file system allows it, so a crash while writing leaves nothing
// behind), is synced, given a name and renamed over the target; then the folder
// is synced so the rename itself survives a power cut. Named leftovers of a
// process that died between naming and renaming are removed by the next commit
// in that folder.
//
// The new file takes the old file's permission bits, and its owner and group
// where this process may set them; a file that did not exist gets what any new
// file in that folder gets (0666 through the umask, or the folder's default ACL).

#include <string>
#include <string_view>

class AtomicFileWriter {
public:
    AtomicFileWriter() = default;
    // Discards the new content unless commit() succeeded.
    ~AtomicFileWriter();
    AtomicFileWriter(const AtomicFileWriter&) = delete;
    AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

    // Prepares the new file beside `path` (a symbolic link is followed, so the
    // file it points at is replaced). False, with nothing created, when the
    // folder is missing or refuses a new file or `path` names a folder.
    bool open(const std::string& path);
    // Buffers the bytes; false once any write has failed.
    bool append(std::string_view bytes);
    // Writes what is buffered, syncs, renames over the target and syncs the
    // folder. False, with the target untouched, on any failure before the rename;
    // false too when the folder cannot be synced after it (the new content is then
    // in place but might not survive a power cut). Failures are logged with errno.
    bool commit();

    // The errno of the first failure, 0 when none.
    int error() const { return m_error; }

private:
    bool flush();
    bool fail(int error);
    bool link_unnamed();
    void discard();

    std::string m_target;
    std::string m_folder;
    std::string m_temp_prefix;  // "<folder>/.<name>." of every temporary name
    std::string m_temp_name;    // empty while the new file has no name
    std::string m_buffer;
    int m_fd = -1;
    int m_error = 0;
    bool m_committed = false;
};
