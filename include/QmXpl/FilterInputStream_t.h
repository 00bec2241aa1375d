// Input streams that wrap another input stream.
#pragma once

#include "QmXpl/Export.h"
#include "QmXpl/InputStream_t.h"

namespace QmXplIo {

// Body of a filter: Read(char*, int), Available and Close go to the wrapped stream unless a
// derived body overrides them. Read() and Skip() are built on this body's own Read(char*, int),
// so a derived body that transforms bytes needs to override only the block read. Closing the
// filter closes the wrapped stream.
class QMXPL_API FilterInputStreamImpl_t : public InputStreamImpl_t {
  public:
    explicit FilterInputStreamImpl_t(const InputStream_t& in);
    ~FilterInputStreamImpl_t() override;
    int Read(char* buf, int len) override;
    int Read() override;
    int Available() override;
    long long Skip(long long n) override;
    void Close() override;

  protected:
    InputStream_t in_;
};

class QMXPL_API FilterInputStream_t : public InputStream_t {
  public:
    FilterInputStream_t() = default;
    // A pass-through filter over in.
    explicit FilterInputStream_t(const InputStream_t& in);
    ~FilterInputStream_t() override;

  protected:
    // For derived handles that bring their own body.
    explicit FilterInputStream_t(FilterInputStreamImpl_t* body) : InputStream_t(body) {}
};

}  // namespace QmXplIo
