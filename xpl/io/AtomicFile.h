// Whole-file replacement that a crash cannot tear.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

namespace QmXplIo::detail {

// A temporary file beside the target that becomes the target on Commit(): the data is written
// to "<dir>/.<name>.tmp-XXXXXX", fsync'ed, renamed over the target, and the directory is
// fsync'ed, so a reader (or a crash) sees either the old or the new file, never a torn one.
// Destroying an uncommitted file removes the temporary. Permissions are set with fchmod, so the
// umask cannot widen or narrow them. Failures throw IOException_t with the errno text.
class AtomicFile {
  public:
    AtomicFile(const std::string& path, mode_t mode);
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
    std::string path_;
    std::string temp_;
    int fd_ = -1;
};

// Replaces the file at path with data in one step (see AtomicFile).
void WriteFileAtomically(const std::string& path, std::string_view data, mode_t mode);

// fsync of the directory that holds path, so that a rename or create in it is durable.
void SyncParentDirectory(const std::string& path);

}  // namespace QmXplIo::detail
