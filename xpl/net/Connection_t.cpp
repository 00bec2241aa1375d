#include "QmXpl/Connection_t.h"

#include "QmXpl/Message_t.h"

namespace QmXplIo {

ConnectionImpl_t::~ConnectionImpl_t() = default;

Connection_t::~Connection_t() = default;

ConnectionImpl_t* Connection_t::Body(const char* className) const {
    if (!body_)
        throw QmXplMsg::IllegalStateError_t(QmXplMsg::CreateWarn_t(QmXplStr::String_t(className)));
    return body_.Get();
}

InputStream_t Connection_t::GetInputStream() const { return Body()->GetInputStream(); }

OutputStream_t Connection_t::GetOutputStream() const { return Body()->GetOutputStream(); }

void Connection_t::Close() const { Body()->Close(); }

}  // namespace QmXplIo
