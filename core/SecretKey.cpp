#include "SecretKey.h"

#include "SecretWiper.h"

namespace QmSecCore {

using QmSecCoreTrc::kCoreArea;

SecretKey::SecretKey(const char* data, int length) : bytes_(data, length) {
    QMSEC_BLOCK(kCoreArea.proc, "SecretKey Constructor");
}

SecretKey::~SecretKey() {
    QMSEC_BLOCK(kCoreArea.proc, "SecretKey Destructor");
    detail::WipeSecret(bytes_);
}

QmXplStr::String_t SecretKey::GetAlgorithm() const {
    return QmXplStr::String_t("Symmetric key algorithm");
}

QmXplArray::CharArray_t& SecretKey::GetEncoded(QmXplArray::CharArray_t& out) const {
    out = bytes_;
    return out;
}

}  // namespace QmSecCore
