// The cipher input stream on arbitrary ciphertext, read with request sizes taken from the input.
// It must give exactly what the same cipher gives when fed the whole ciphertext at once, or fail
// where that fails; and plaintext encrypted through one stream must come back through another.
//
// Input: [flags] [number of read sizes k] [k sizes] [data]
// flags bits 0-2: algorithm (0 to 4, RSA included); bit 3: round trip of data instead of
// decrypting it.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>

#include "QmSecCore/Cipher.h"
#include "QmSecCore/Key.h"
#include "QmSecIo/CipherInputStream.h"
#include "QmXpl/CharArrayInputStream_t.h"
#include "QmXpl/Message_t.h"
#include "support/Keys.h"

namespace {

using QmSecCore::Cipher;
using QmSecCore::Key;
using QmXplArray::CharArray_t;

struct Input {
    const uint8_t* p;
    const uint8_t* end;
    int Byte() { return p < end ? *p++ : 0; }
};

// A 1024-bit RSA key pair made once per process.
struct RsaPair {
    Key priv, pub;
};
const RsaPair& Rsa() {
    static const RsaPair pair = [] {
        const qmsec_test::RsaKeyPair& pem = qmsec_test::TestRsaKey(1024);
        const std::string &priv = pem.privatePem, &pub = pem.publicPem;
        return RsaPair{Key(Key::eRSAPrivateKey, priv.data(), static_cast<int>(priv.size())),
                       Key(Key::eRSAPublicKey, pub.data(), static_cast<int>(pub.size()))};
    }();
    return pair;
}

Key KeyFor(Key::Algorithm a, bool encrypt) {
    static const std::string secret = "fuzzing key, 24 bytes!!!";
    if (a == Key::eRSA) return encrypt ? Rsa().pub : Rsa().priv;
    return Key(Key::eSecretKey, secret.data(), static_cast<int>(secret.size()));
}

// Everything the stream gives, or false when it threw one of the library's exceptions.
bool ReadAll(const QmXplIo::InputStream_t& in, const std::vector<int>& sizes, std::string& out) {
    std::vector<char> buf(65536);
    try {
        for (size_t i = 0;; ++i) {
            int want = sizes[i % sizes.size()];
            int n = in.Read(buf.data(), want);
            if (n < 0) return true;
            if (n == 0 || n > want) __builtin_trap();
            out.append(buf.data(), static_cast<size_t>(n));
        }
    } catch (const QmXplMsg::Exception_t&) {
        return false;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in{data, data + size};
    int flags = in.Byte();
    auto algorithm = static_cast<Key::Algorithm>((flags & 7) % 5);
    bool roundTrip = flags & 8;
    std::vector<int> sizes(static_cast<size_t>(in.Byte() % 16 + 1));
    for (int& s : sizes) {
        int b = in.Byte();
        s = b == 255 ? 65536 : b + 1;
    }
    CharArray_t bytes(reinterpret_cast<const char*>(in.p), static_cast<int>(in.end - in.p));
    if (algorithm == Key::eRSA && bytes.GetSize() > 4096) return 0;  // keep RSA runs short

    if (roundTrip) {
        QmSecIo::CipherInputStream encrypted(
            QmXplIo::CharArrayInputStream_t(bytes),
            Cipher(Cipher::eEncrypt, KeyFor(algorithm, true), algorithm));
        QmSecIo::CipherInputStream decrypted(
            encrypted, Cipher(Cipher::eDecrypt, KeyFor(algorithm, false), algorithm));
        std::string out;
        if (!ReadAll(decrypted, sizes, out)) __builtin_trap();
        if (out != std::string(bytes.GetData(), static_cast<size_t>(bytes.GetSize())))
            __builtin_trap();
        return 0;
    }

    std::string streamed;
    bool streamOk = ReadAll(
        QmSecIo::CipherInputStream(QmXplIo::CharArrayInputStream_t(bytes),
                                   Cipher(Cipher::eDecrypt, KeyFor(algorithm, false), algorithm)),
        sizes, streamed);
    CharArray_t whole;
    int length = 0;  // the array may be longer: output arrays grow and never shrink
    bool directOk = true;
    try {
        length =
            Cipher(Cipher::eDecrypt, KeyFor(algorithm, false), algorithm).DoFinal(bytes, whole);
    } catch (const QmXplMsg::Exception_t&) {
        directOk = false;
    }
    if (streamOk != directOk) __builtin_trap();
    if (streamOk && streamed != std::string(whole.GetData(), static_cast<size_t>(length)))
        __builtin_trap();
    return 0;
}
