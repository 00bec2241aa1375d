// Decrypts arbitrary bytes with each algorithm, fed in pieces of arbitrary sizes. The first input
// byte picks the algorithm (Blowfish, DES, Triple-DES, RSA with a private key, RSA with a public
// key), the second seeds the split; the rest is the ciphertext. Every failure must be one of the
// library's exceptions, and the same cipher must treat the same ciphertext the same way again
// (it starts over after DoFinal, and after a failure).
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>

#include "QmSecCore/Cipher.h"
#include "QmSecCore/Key.h"
#include "QmXpl/Message_t.h"
#include "support/Keys.h"

namespace {

using QmSecCore::Cipher;
using QmSecCore::Key;
using QmXplArray::CharArray_t;

// The secret key of the seed corpus: its first 16, 8 or 24 bytes serve each algorithm.
const char kSecret[] = "fuzzing key for ciphers!";

// One RSA key pair for the whole run, made at start-up.
struct RsaKeys {
    Key privateKey, publicKey;
    RsaKeys() {
        const qmsec_test::RsaKeyPair& pair = qmsec_test::TestRsaKey(1024);
        privateKey = Key(Key::eRSAPrivateKey, pair.privatePem.data(),
                         static_cast<int>(pair.privatePem.size()));
        publicKey =
            Key(Key::eRSAPublicKey, pair.publicPem.data(), static_cast<int>(pair.publicPem.size()));
    }
};

enum class Outcome { kFailed, kDecrypted };

Outcome Decrypt(const Cipher& cipher, const std::string& in, unsigned seed, std::string& plain) {
    std::minstd_rand rng(seed);
    CharArray_t out;
    int at = 0;
    try {
        size_t pos = 0;
        while (pos < in.size()) {
            size_t n = std::min<size_t>(rng() % 300, in.size() - pos);
            int produced = cipher.Update(in.data() + pos, static_cast<int>(n), out, at);
            if (produced < 0 || produced > out.GetSize() - at) abort();
            at += produced;
            pos += n;
        }
        at += cipher.DoFinal(out, at);
    } catch (const QmXplMsg::Exception_t&) {
        return Outcome::kFailed;
    }
    if (at > out.GetSize() || at > static_cast<int>(in.size()))
        abort();  // decryption never yields more than it was given
    plain.assign(out.GetData(), static_cast<size_t>(at));
    return Outcome::kDecrypted;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static RsaKeys rsa;
    static const Key secret(Key::eSecretKey, kSecret, 24);
    if (size < 2) return 0;
    std::string in(reinterpret_cast<const char*>(data) + 2, size - 2);
    Cipher cipher;
    switch (data[0] % 5) {
        case 0:
            cipher = Cipher(Cipher::eDecrypt, secret, Key::eBlowfish);
            break;
        case 1:
            cipher = Cipher(Cipher::eDecrypt, secret, Key::eDES);
            break;
        case 2:
            cipher = Cipher(Cipher::eDecrypt, secret, Key::eDES3);
            break;
        case 3:
            cipher = Cipher(Cipher::eDecrypt, rsa.privateKey, Key::eRSA);
            break;
        default:
            cipher = Cipher(Cipher::eDecrypt, rsa.publicKey, Key::eRSA);
            break;
    }
    std::string first, second;
    Outcome a = Decrypt(cipher, in, data[1], first);
    Outcome b = Decrypt(cipher, in, data[1] * 7919u + 1, second);
    if (a != b || first != second) abort();
    return 0;
}
