// An output stream that replaces a file in one step.
#pragma once

#include "QmXpl/Export.h"
#include "QmXpl/OutputStream_t.h"
#include "QmXpl/String_t.h"

namespace QmXplIo {

class AtomicFileOutputStreamImpl_t;

// Writes to a temporary file beside the target; Close makes the temporary durable (fsync) and
// renames it over the target, so readers and a crash see either the old file or the complete new
// one, never a mix. The new file has exactly the given mode, whatever the umask.
//   - A body that goes without Close leaves the target untouched and removes the temporary.
//   - After a failed Write the stream is broken: the temporary is removed, and every later Write
//     and Close throws IOException_t instead of committing a file that lacks bytes.
//   - A second Close after a successful one does nothing; Flush does nothing.
// Errors throw IOException_t with the path and the system's error text.
class QMXPL_API AtomicFileOutputStream_t : public OutputStream_t {
  public:
    // No body: every operation throws IllegalStateError_t.
    AtomicFileOutputStream_t() = default;
    // Creates the temporary beside path (UTF-8). IOException_t when it cannot be created;
    // IllegalArgumentError_t for a mode outside 0..07777.
    explicit AtomicFileOutputStream_t(const QmXplStr::String_t& path, int mode = 0600);
    ~AtomicFileOutputStream_t() override;
};

}  // namespace QmXplIo
