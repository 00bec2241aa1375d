// An output stream that writes a file.
#pragma once

#include "QmXpl/Export.h"
#include "QmXpl/OutputStream_t.h"
#include "QmXpl/String_t.h"

namespace QmXplIo {

class FileOutputStreamImpl_t;

// Writes a file through its own descriptor (opened close-on-exec; released by Close or when the
// body goes). Writes are unbuffered and complete: a short write or a signal continues where it
// stopped. Errors throw IOException_t with the path and the system's error text, including a
// failing close, which may be the first report of a lost write. Writing a closed stream throws
// IOException_t; a second Close does nothing; Flush does nothing, as no bytes are held here.
// The file is replaced in place: a reader may see it half written. For files that must never be
// seen torn, use AtomicFileOutputStream_t.
class QMXPL_API FileOutputStream_t : public OutputStream_t {
  public:
    // No body: every operation throws IllegalStateError_t.
    FileOutputStream_t() = default;
    // Opens path for writing, creating it (mode 0666 less the umask) when missing; an existing
    // file is emptied, or written at its end when append is true. FileNotFoundException_t with
    // the system's error text when it cannot be opened.
    explicit FileOutputStream_t(const QmXplStr::String_t& path, bool append = false);
    // As above, but a file created by this call gets exactly mode (0..07777), whatever the
    // umask: it is created no wider than mode and then set with fchmod. An existing file keeps
    // its permissions. IllegalArgumentError_t for a mode outside 0..07777.
    FileOutputStream_t(const QmXplStr::String_t& path, bool append, int mode);
    ~FileOutputStream_t() override;
};

}  // namespace QmXplIo
