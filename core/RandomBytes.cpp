#include "RandomBytes.h"

#include <openssl/rand.h>

#include <string>

#include "OpenSsl.h"
#include "QmXpl/String_t.h"

namespace QmSecCore::detail {

bool RandomBytes(void* bytes, int length) noexcept {
    return RAND_bytes(static_cast<unsigned char*>(bytes), length) == 1;
}

bool RandomSecretBytes(void* bytes, int length) noexcept {
    if (!RandomBytes(bytes, length)) return false;
    auto* secret = static_cast<unsigned char*>(bytes);
    for (int i = 0; i < length; ++i) {
        if (secret[i] == 0) secret[i] = 0x23;
    }
    return true;
}

QmXplMsg::Message_t RandomFailure() {
    return QmXplMsg::CreateWarn_t(
        QmXplStr::String_t("The random generator failed (" + ossl::ErrorText() + ")."));
}

}  // namespace QmSecCore::detail
