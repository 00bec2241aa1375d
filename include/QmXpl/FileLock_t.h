// An exclusive lock on a file, held for the life of a scope.
#pragma once

#include "QmXpl/Export.h"
#include "QmXpl/String_t.h"

namespace QmXplIo {

// Holds an exclusive advisory lock (flock(2)) on a lock file from construction to destruction:
// writers of the same files in this and other processes take turns through it. The object owns
// one open descriptor of the lock file, and the lock belongs to that descriptor alone, so two
// objects on one file exclude each other also within one process, whatever their threads; the
// system drops the lock when the object goes or its process dies, so a crashed holder never
// blocks the others. The lock file itself stays: removing it would race with the next holder.
//   - The file is created when missing, never through a symbolic link in its last part (a link
//     planted there would let a stranger choose the file that is created or changed).
//   - Construction waits until the lock is free, through interrupted system calls.
// Throws IOException_t with the path and the system's error text when the file cannot be opened
// or created, its permissions cannot be set, or the lock cannot be taken (nothing is held then);
// IllegalArgumentError_t for a mode outside 0..07777.
class QMXPL_API FileLock_t {
  public:
    // How the permissions of the lock file come about.
    enum ModeRule : int {
        // Exactly mode, for a new file and one that exists, whatever the umask: for a lock file
        // among files whose modes are part of their protection (the key store's).
        eExactMode = 0,
        // As a plain open with O_CREAT gives them: mode less the umask for a new file; a file
        // that exists keeps its permissions.
        eCreateMode = 1,
    };

    // Opens (or creates) the lock file at path (UTF-8) and waits for its lock.
    explicit FileLock_t(const QmXplStr::String_t& path, int mode = 0600,
                        ModeRule rule = eExactMode);
    // Releases the lock (closing the descriptor).
    ~FileLock_t();
    FileLock_t(const FileLock_t&) = delete;
    FileLock_t& operator=(const FileLock_t&) = delete;

  private:
    int fd_ = -1;
};

}  // namespace QmXplIo
