// The one way the library wipes secrets: key material, passwords and plaintext are overwritten
// with OPENSSL_cleanse, which the compiler cannot drop as a dead store, before their memory is
// given back or reused.
#pragma once

#include <openssl/crypto.h>

#include <cstddef>
#include <string>
#include <vector>

#include "QmXpl/CharArray_t.h"

namespace QmSecCore::detail {

// Overwrites the bytes where they lie; sizes and capacities stay as they are.
inline void WipeSecret(void* data, std::size_t size) noexcept {
    if (data && size > 0) OPENSSL_cleanse(data, size);
}
inline void WipeSecret(std::string& text) noexcept { WipeSecret(text.data(), text.size()); }
template <class T>
inline void WipeSecret(std::vector<T>& bytes) noexcept {
    WipeSecret(bytes.data(), bytes.size() * sizeof(T));
}
inline void WipeSecret(QmXplArray::CharArray_t& bytes) noexcept {
    WipeSecret(bytes.GetData(), static_cast<std::size_t>(bytes.GetSize()));
}
template <class T, std::size_t N>
inline void WipeSecret(T (&bytes)[N]) noexcept {
    WipeSecret(bytes, sizeof bytes);
}

// Wipes a buffer when the scope ends, however it ends: a secret is gone on the paths that throw
// as well as on the one that returns. The buffer must outlive the wiper.
//     unsigned char derived[32];
//     detail::SecretWiper wipeDerived{derived};
template <class Buffer>
class SecretWiper {
  public:
    explicit SecretWiper(Buffer& buffer) noexcept : buffer_(buffer) {}
    ~SecretWiper() { WipeSecret(buffer_); }
    SecretWiper(const SecretWiper&) = delete;
    SecretWiper& operator=(const SecretWiper&) = delete;

  private:
    Buffer& buffer_;
};

}  // namespace QmSecCore::detail
