#include "QmSecSsl/SslConnectionInputStream.h"

#include "SslConnectionInputStreamImpl.h"

namespace QmSecSsl {

SslConnectionInputStream::SslConnectionInputStream(SslConnectionInputStreamImpl* body)
    : InputStream_t(body) {}

SslConnectionInputStream::~SslConnectionInputStream() = default;

}  // namespace QmSecSsl
