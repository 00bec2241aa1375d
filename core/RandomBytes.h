// Bytes from OpenSSL's random generator, drawn the one way the library draws them.
#pragma once

#include "QmXpl/Message_t.h"

namespace QmSecCore::detail {

// Fills length bytes from the generator; false when it fails, with OpenSSL's error queued.
[[nodiscard]] bool RandomBytes(void* bytes, int length) noexcept;

// The same for a secret: every zero byte is then replaced by 0x23 ('#'), so that the secret
// passes unchanged through any code that takes a password as a C string. Readers of stored
// secrets rely on that.
[[nodiscard]] bool RandomSecretBytes(void* bytes, int length) noexcept;

// What a failed draw reports: the warning "The random generator failed (<OpenSSL error>).",
// which takes OpenSSL's error from the queue. For the caller's exception, as its message or as
// a detail of it.
QmXplMsg::Message_t RandomFailure();

}  // namespace QmSecCore::detail
