// A path on the file system and what can be asked or done with it.
#pragma once

#include <cstdint>

#include "QmXpl/CharArray_t.h"
#include "QmXpl/Export.h"
#include "QmXpl/String_t.h"

namespace QmXplIo {

// A path, held as text (UTF-8 on the file system). The path is kept as given, except that
// repeated slashes collapse into one and a trailing slash is dropped ("/a//b/" is "/a/b"; "/"
// stays). Queries follow symbolic links; nothing touches the file system until a member does.
class QMXPL_API File_t {
  public:
    // What stat(2) reports about a path; exists is false (and every other field 0) when the path
    // cannot be reached. Two results that compare equal describe the same version of a file as
    // far as the file system can tell (same inode on the same device, size and modification
    // time to the nanosecond).
    struct Stat_t {
        bool exists = false;
        int64_t size = 0;
        int64_t mtimeNs = 0;  // modification time, nanoseconds since 1970-01-01 UTC
        uint64_t inode = 0;
        uint64_t device = 0;
        int mode = 0;  // st_mode: file type bits and permission bits (mode & 07777)
        bool operator==(const Stat_t&) const = default;
    };

    // The empty path (which names nothing).
    File_t() = default;
    explicit File_t(const QmXplStr::String_t& path);

    // The path as described above.
    const QmXplStr::String_t& GetPath() const noexcept { return path_; }
    // The last part of the path ("c" for "/a/b/c"; the path itself when it has no slash).
    QmXplStr::String_t GetName() const;
    // The path without its last part ("/a/b" for "/a/b/c", "/" for "/a"), or the null string when
    // there is none ("c", "/").
    QmXplStr::String_t GetParent() const;
    // The path from the root: the path itself when it starts with '/', else the current working
    // directory joined with it ("." and ".." are kept as they are). IOException_t when the
    // working directory cannot be determined.
    QmXplStr::String_t GetAbsolutePath() const;

    bool Exists() const;
    bool IsDirectory() const;
    // A regular file.
    bool IsFile() const;
    // Size in bytes, 0 when missing.
    int64_t Length() const;
    // Modification time in nanoseconds since the epoch, 0 when missing.
    int64_t LastModified() const;
    Stat_t Stat() const;

    // Removes the file, or the directory when it is empty. True when it was removed; false when
    // it is missing or cannot be removed (the reason is traced).
    bool Delete() const;
    // Creates the directory and every missing parent as Dir_t::Create does (the directory itself
    // mode, a parent 0755, exactly), without throwing. True when the path is a directory
    // afterwards (also when it was one before); false when it could not be created (the reason
    // is traced).
    bool Mkdirs(int mode = 0755) const;
    // Whether others than the owner may add, remove or rename entries of this directory: its
    // group or others may write it, and no sticky bit keeps them to their own entries. Such a
    // directory cannot protect what it holds. False when it cannot be examined.
    bool IsWritableByOthers() const;
    // Sets the permission bits (0..07777) exactly, whatever the umask. IOException_t with the
    // system's error text when that fails; IllegalArgumentError_t for a mode outside the range.
    void SetPermissions(int mode) const;

    // Replaces the file at path with data in one step: a temporary beside it, fsync, rename, so
    // that readers and a crash see the old file or the new one, never a mix. The new file has
    // exactly mode. IOException_t when that fails (the old file is then unchanged).
    static void WriteAtomically(const QmXplStr::String_t& path, const QmXplArray::CharArray_t& data,
                                int mode = 0600);
    // The whole content of a file. FileNotFoundException_t when it cannot be opened (or is a
    // directory); IOException_t when reading fails or it exceeds what a CharArray_t holds.
    static QmXplArray::CharArray_t ReadAll(const QmXplStr::String_t& path);

  private:
    QmXplStr::String_t path_{""};
};

}  // namespace QmXplIo
