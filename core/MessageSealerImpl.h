// Body of MessageSealer, and the layout both sealing sides share.
#pragma once

#include <cstdint>

#include "QmSecCore/Cipher.h"
#include "QmSecCore/MessageSealer.h"
#include "QmSecCore/ObjectImpl.h"
#include "Trace.h"

namespace QmSecCore {

namespace seal {

// The key block: the secret, then the algorithm as a 32-bit integer.
inline constexpr int kSecretLength = 24;
inline constexpr int kAlgorithmLength = 4;
inline constexpr int kKeyBlockLength = kSecretLength + kAlgorithmLength;
// The header length that sealed data may announce: other components read this layout too.
inline constexpr int kMaxHeaderLength = 10000;
inline constexpr int kLengthFieldLength = 4;

// A 32-bit integer as DataOutputStream_t::WriteInt32 writes it (big-endian) and back.
inline void PutInt32(char* at, int32_t value) noexcept {
    auto v = static_cast<uint32_t>(value);
    for (int i = 3; i >= 0; --i, v >>= 8) at[i] = static_cast<char>(v & 0xFF);
}
inline int32_t GetInt32(const char* at) noexcept {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v = (v << 8) | static_cast<unsigned char>(at[i]);
    return static_cast<int32_t>(v);
}

}  // namespace seal

class MessageSealerImpl : public ObjectImpl {
  public:
    // maxHeaderLength is the format's 10000 for every sealer of the library; a smaller value lets
    // a test reach the refusal of a header that is too long with keys OpenSSL can make.
    MessageSealerImpl(const X509Certificate& recipient, Key::Algorithm algorithm,
                      int maxHeaderLength = seal::kMaxHeaderLength);
    ~MessageSealerImpl() override;
    QMSEC_DESTROY_THIS(QmSecCoreTrc::kCoreArea.proc, "MessageSealerImpl::DestroyThis()")

    // The two primitives of the Update/DoFinal family.
    int Update(const char* in, int length, QmXplArray::CharArray_t& out, int outOffset);
    int DoFinal(QmXplArray::CharArray_t& out, int outOffset);

  private:
    // Writes L and the header at outOffset unless an earlier call has written them; returns the
    // bytes written. The caller marks them written once its whole call has succeeded.
    int WriteHeader(QmXplArray::CharArray_t& out, int outOffset);

    Cipher cipher_;                   // the symmetric cipher, encrypting
    QmXplArray::CharArray_t header_;  // L and the encrypted key block, as written
    bool headerWritten_ = false;
};

}  // namespace QmSecCore
