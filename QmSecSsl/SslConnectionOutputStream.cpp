#include "QmSecSsl/SslConnectionOutputStream.h"

#include "SslConnectionOutputStreamImpl.h"

namespace QmSecSsl {

SslConnectionOutputStream::SslConnectionOutputStream(SslConnectionOutputStreamImpl* body)
    : OutputStream_t(body) {}

SslConnectionOutputStream::~SslConnectionOutputStream() = default;

}  // namespace QmSecSsl
