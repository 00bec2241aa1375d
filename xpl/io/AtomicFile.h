// Whole-file replacement that a crash cannot tear.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

namespace QmXplIo::detail {

// A temporary file beside the target that becomes the target on Commit(): the data is written
// to "<dir>/.<name>.tmp-XXXXXX", fsync'ed, renamed over the target, and the directory is
// fsync'ed, so a reader (or a crash) sees either the old or the new file, never a torn one.
// Destroying an uncommitted file removes the temporary. Failures throw IOException_t with the
// errno text.
//
// Only a regular file, or a name that does not exist yet, is replaced that way. A device, FIFO
// or socket that exists under the name is opened and written directly: renaming over it would
// put a plain file where the system expects /dev/null or a pipe. A symbolic link is followed
// and the file it leads to is replaced, so the link stays a link; a link that the system would
// not follow for an open (a stranger's link in a sticky, world-writable directory such as /tmp)
// is refused.
class AtomicFile {
  public:
    // How the permissions of the file come about.
    enum class Mode {
        // Exactly the mode given, for a new file and a replaced one, whatever the umask (fchmod):
        // for files whose mode is part of their protection.
        kExact,
        // As an open(2) with O_CREAT would give them: a new file gets the mode less the umask, a
        // replaced file keeps its permission bits (not set-id bits, which belonged to the old
        // content) and its owner and group, where the process may set them.
        kCreate,
    };

    AtomicFile(const std::string& path, mode_t mode, Mode rule = Mode::kExact);
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    void Write(const char* data, size_t size);
    void Commit();
    // Removes the temporary; the target is left as it was. Safe to call twice.
    void Abandon() noexcept;
    bool IsOpen() const noexcept { return fd_ >= 0; }
    const std::string& GetPath() const noexcept { return path_; }

  private:
    void OpenTemporary(mode_t mode, Mode rule);

    std::string path_;
    std::string target_;  // path_ with its symbolic links followed
    std::string temp_;
    int fd_ = -1;
    bool direct_ = false;  // fd_ is the target itself (a device or FIFO)
};

// Replaces the file at path with data in one step (see AtomicFile).
void WriteFileAtomically(const std::string& path, std::string_view data, mode_t mode);

// The directory part of path: "." for a bare name, "/" for a name in the root.
std::string DirectoryOf(const std::string& path);

// fsync of the directory that holds path, so that a rename or create in it is durable.
void SyncParentDirectory(const std::string& path);

}  // namespace QmXplIo::detail
