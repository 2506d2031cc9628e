#pragma once
// Writes a whole file so that, whatever happens (a crash, a full disk, a write
// error), the name holds either the whole old content or the whole new one.
//
// The new content goes to a file of its own in the target's folder (unnamed
// where the file system allows it, so a crash while writing leaves nothing
// behind), is synced, and is then put in place under the target's name; then the
// folder is synced so the new name itself survives a power cut. Named leftovers
// (".<name>.<pid>.<random>.tmp") of a process that died between naming and
// placing are removed by the next commit in that folder.
//
// Whatever is at the target is never followed: a symbolic link there is replaced
// (Replace) or refused (NeverReplace), never written through, so a link planted in
// a folder that others may write cannot turn a save into a write of its target.

#include <string>
#include <string_view>

class AtomicFileWriter {
public:
    enum class Commit {
        // Renames the new file over a regular file or a symbolic link at the target;
        // a folder (EISDIR) or a device, FIFO or socket (EEXIST) is refused untouched.
        // The new file takes the old regular file's permission bits, ACL entries, and
        // owner and group where this process may set them; otherwise it gets what any
        // new file in that folder gets (0666 through the umask, or the folder's
        // default ACL). Failures are logged with errno.
        //
        // When the folder refuses new files but the old regular file (not a link,
        // one link only) is writable, the file is rewritten in place instead:
        // truncated, written and synced at commit. The content is then at risk only
        // if that write fails, which is better than losing the user's changes.
        Replace,
        // Puts the new file in place only when nothing at all is at the target: any
        // entry there (even a dangling link) makes commit false with error() EEXIST,
        // and that entry is never opened, followed or replaced. Nothing is logged.
        NeverReplace,
    };

    AtomicFileWriter() = default;
    // Discards the new content unless commit() succeeded.
    ~AtomicFileWriter();
    AtomicFileWriter(const AtomicFileWriter&) = delete;
    AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

    // Prepares the new file for `path`. False, with nothing created, when the folder
    // is missing or refuses a new file (and no in-place write is possible), or `path`
    // names a folder, a device, a FIFO or a socket, or ends in '/'.
    bool open(const std::string& path, Commit mode = Commit::Replace);
    // Buffers the bytes; false once any write has failed.
    bool append(std::string_view bytes);
    // Writes what is buffered, syncs, puts the file in place and syncs the folder.
    // False, with the target untouched, on any failure before the file is placed;
    // false too when the folder cannot be synced after it (the new content is then
    // in place but might not survive a power cut).
    bool commit();

    // The errno of the first failure, 0 when none.
    int error() const { return m_error; }

private:
    bool flush();
    bool fail(int error);
    bool open_in_place(const struct stat& old_info);
    void copy_attributes(const struct stat& old_info);
    bool link_unnamed(const std::string& name);
    bool place_never_replacing();
    bool commit_in_place();
    void discard();
    void log(const wchar_t* what) const;

    Commit m_mode = Commit::Replace;
    std::string m_target;
    std::string m_folder;
    std::string m_temp_prefix;  // ".<name>." of every temporary name, without the folder
    std::string m_temp_name;    // full path; empty while the new file has no name
    std::string m_buffer;
    int m_fd = -1;
    int m_error = 0;
    bool m_in_place = false;
    bool m_committed = false;
};
