// The body of a secret (symmetric) Key.
#pragma once

#include "KeyImpl.h"

namespace QmSecCore {

// Raw symmetric key bytes, wiped when the key is destroyed.
class SecretKey : public KeyImpl {
  public:
    SecretKey(const char* data, int length);
    ~SecretKey() override;
    QMSEC_DESTROY_THIS(QmSecCoreTrc::kCoreArea.proc, "SecretKey::DestroyThis()")

    QmXplStr::String_t GetAlgorithm() const override;
    Key::Type GetType() const override { return Key::eSecretKey; }
    QmXplArray::CharArray_t& GetEncoded(QmXplArray::CharArray_t& out) const override;

    const QmXplArray::CharArray_t& GetBytes() const noexcept { return bytes_; }

  private:
    QmXplArray::CharArray_t bytes_;
};

}  // namespace QmSecCore
