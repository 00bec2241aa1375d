// An input stream that reads a file.
#pragma once

#include "QmXpl/Export.h"
#include "QmXpl/InputStream_t.h"
#include "QmXpl/String_t.h"

namespace QmXplIo {

class FileInputStreamImpl_t;

// Reads a file through its own descriptor (opened close-on-exec, so child processes do not
// inherit it; released by Close or when the body goes). Reads resume after signals. I/O errors
// throw IOException_t with the path and the system's error text; reading a closed stream throws
// IOException_t; a second Close does nothing.
class QMXPL_API FileInputStream_t : public InputStream_t {
  public:
    // No body: every operation throws IllegalStateError_t.
    FileInputStream_t() = default;
    // Opens path (UTF-8 on the file system). FileNotFoundException_t, with the path and the
    // system's error text, when it cannot be opened for reading or is a directory.
    explicit FileInputStream_t(const QmXplStr::String_t& path);
    ~FileInputStream_t() override;
};

}  // namespace QmXplIo
