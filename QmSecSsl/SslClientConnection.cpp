#include "QmSecSsl/SslClientConnection.h"

#include "OptionsImpl.h"
#include "SslConnectionImpl.h"

namespace QmSecSsl {

using Options = SslClientConnection::Options;

QMSEC_SSL_OPTIONS_MEMBERS(Options)

SslClientConnection::SslClientConnection(QmXplIo::Connection_t& transport,
                                         const QmXplArray::CharArray_t& sessionKey,
                                         const Options& options)
    : SslConnection(new SslConnectionImpl(transport, options.GetImpl(), false, &sessionKey)) {}

SslClientConnection::SslClientConnection(QmXplIo::Connection_t& transport,
                                         const QmXplArray::CharArray_t& sessionKey)
    : SslClientConnection(transport, sessionKey, Options()) {}

SslClientConnection::~SslClientConnection() = default;

}  // namespace QmSecSsl
