// Output streams that wrap another output stream.
#pragma once

#include "QmXpl/Export.h"
#include "QmXpl/OutputStream_t.h"

namespace QmXplIo {

// Body of a filter: Write(const char*, int) and Flush go to the wrapped stream unless a derived
// body overrides them; Write(int) is built on this body's own block write, so a derived body that
// transforms bytes needs to override only that. Closing the filter flushes and closes the
// wrapped stream; a second Close does nothing.
class QMXPL_API FilterOutputStreamImpl_t : public OutputStreamImpl_t {
  public:
    explicit FilterOutputStreamImpl_t(const OutputStream_t& out);
    ~FilterOutputStreamImpl_t() override;
    void Write(const char* buf, int len) override;
    void Write(int byte) override;
    void Flush() override;
    void Close() override;

  protected:
    OutputStream_t out_;

  private:
    bool filterClosed_ = false;
};

class QMXPL_API FilterOutputStream_t : public OutputStream_t {
  public:
    FilterOutputStream_t() = default;
    explicit FilterOutputStream_t(const OutputStream_t& out);
    ~FilterOutputStream_t() override;

  protected:
    explicit FilterOutputStream_t(FilterOutputStreamImpl_t* body) : OutputStream_t(body) {}
};

}  // namespace QmXplIo
