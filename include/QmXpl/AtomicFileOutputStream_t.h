// An output stream that replaces a file in one step.
#pragma once

#include "QmXpl/Export.h"
#include "QmXpl/OutputStream_t.h"
#include "QmXpl/String_t.h"

namespace QmXplIo {

class AtomicFileOutputStreamImpl_t;

// Writes to a temporary file beside the target; Close makes the temporary durable (fsync) and
// renames it over the target, so readers and a crash see either the old file or the complete new
// one, never a mix.
//   - Only a regular file, or a name that does not exist yet, is replaced that way. A device,
//     FIFO or socket under the name is opened and written directly (so "/dev/null" stays the
//     system's device); a symbolic link is followed and the file it leads to replaced, so the link
//     stays a link.
//   - A body that goes without Close leaves the target untouched and removes the temporary.
//   - After a failed Write the stream is broken: the temporary is removed, and every later Write
//     and Close throws IOException_t instead of committing a file that lacks bytes.
//   - A second Close after a successful one does nothing; Flush does nothing.
// Errors throw IOException_t with the path and the system's error text.
class QMXPL_API AtomicFileOutputStream_t : public OutputStream_t {
  public:
    // How the permissions of the written file come about.
    enum ModeRule : int {
        // Exactly the given mode, for a new file and a replaced one, whatever the umask: for
        // files whose mode is part of their protection (keys, the key store's index).
        eExactMode = 0,
        // As a plain open with O_CREAT gives them: a new file gets the mode less the process's
        // umask, a replaced file keeps its permission bits (set-id bits go with the old content)
        // and its owner and group, where the process may set them. For output that a user
        // names, such as a command's -o FILE.
        eCreateMode = 1,
    };

    // No body: every operation throws IllegalStateError_t.
    AtomicFileOutputStream_t() = default;
    // Creates the temporary beside path (UTF-8). IOException_t when it cannot be created;
    // IllegalArgumentError_t for a mode outside 0..07777.
    explicit AtomicFileOutputStream_t(const QmXplStr::String_t& path, int mode = 0600,
                                      ModeRule rule = eExactMode);
    ~AtomicFileOutputStream_t() override;
};

}  // namespace QmXplIo
