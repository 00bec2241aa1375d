// The Update/DoFinal family of every transforming class, through the shared typed test.
#include "support/UpdateDoFinal.h"
#include "QmSecCore/Base64.h"
#include "QmSecCore/Cipher.h"
#include "QmSecCore/Key.h"
#include "QmSecCore/MessageSealer.h"
#include "QmSecCore/MessageUnsealer.h"
#include "QmSecCore/X509Certificate.h"
#include "support/Certificates.h"

namespace {

using QmSecCore::Base64;
using QmSecCore::Cipher;
using QmSecCore::Key;
using QmSecCore::MessageSealer;
using QmSecCore::MessageUnsealer;
using QmXplArray::CharArray_t;
using namespace qmsec_test;

const Key& PublicKey() {
    static const Key key(Key::eRSAPublicKey, Arr(TestRsaKey(1024).publicPem));
    return key;
}
const Key& PrivateKey() {
    static const Key key(Key::eRSAPrivateKey, Arr(TestRsaKey(1024).privatePem));
    return key;
}
const Key& SecretKey() {
    static const Key key(Key::eSecretKey, Arr("0123456789abcdefghijklmn"));
    return key;
}

template <class T>
std::string Whole(const T& t, const std::string& in) {
    CharArray_t out;
    return Str(out, 0, t.DoFinal(Arr(in), out));
}

// A text message in pieces, an empty one among them; longer than one RSA chunk of a 1024-bit key
// (116 bytes).
struct TextMessage {
    static constexpr int kFinalOffsetNumber = 9;
    static std::vector<std::string> Pieces() {
        return {"the quick brown fox ", "", std::string(100, '.'), "jumps over the lazy dog"};
    }
    static std::string Plain() {
        std::string all;
        for (const auto& p : Pieces()) all += p;
        return all;
    }
};

// Encryption with the algorithm and the first key, decoded with the second.
template <Key::Algorithm kAlgorithm, const Key& (*EncryptKey)(), const Key& (*DecryptKey)(),
          int kFinalOffset, int kEmpty>
struct Encryption : TextMessage {
    using Type = Cipher;
    static constexpr const char* kName = "Cipher";
    static constexpr int kFinalOffsetNumber = kFinalOffset;
    static constexpr int kEmptyOutcome = kEmpty;
    static Type Make() { return Cipher(Cipher::eEncrypt, EncryptKey(), kAlgorithm); }
    static std::string Decode(const std::string& s) {
        return Whole(Cipher(Cipher::eDecrypt, DecryptKey(), kAlgorithm), s);
    }
};
// An empty message is the vector and one padding block.
using SymmetricCipher = Encryption<Key::eDES3, SecretKey, SecretKey, 9, 16>;
// DoFinal's output offset outside out is IllegalArgumentError_t 73; no input, no block.
using RsaCipher = Encryption<Key::eRSA, PublicKey, PrivateKey, 73, 0>;

struct Base64Encoder : TextMessage {
    using Type = Base64;
    static constexpr const char* kName = "Base64";
    static constexpr int kEmptyOutcome = 0;
    static Type Make() { return Base64(Base64::eEncode); }
    static std::string Decode(const std::string& s) { return Whole(Base64(Base64::eDecode), s); }
};

struct Recipient {
    TestCertificate test = CertificateBuilder().SubjectKey(TestRsaKey(2048).privatePem).Build();
    QmSecCore::X509Certificate certificate{Arr(test.pem)};
    Key privateKey{Key::eRSAPrivateKey, Arr(TestRsaKey(2048).privatePem)};
};
const Recipient& TheRecipient() {
    static const Recipient r;
    return r;
}

struct Sealer : TextMessage {
    using Type = MessageSealer;
    static constexpr const char* kName = "MessageSealer";
    static constexpr int kEmptyOutcome = 4 + 256 + 16;  // length, header, vector, one block
    static Type Make() { return MessageSealer(TheRecipient().certificate, Key::eDES); }
    static std::string Decode(const std::string& s) {
        return Whole(MessageUnsealer(TheRecipient().privateKey), s);
    }
};

struct Unsealer : TextMessage {
    using Type = MessageUnsealer;
    static constexpr const char* kName = "MessageUnsealer";
    static constexpr int kEmptyOutcome = -56;  // SecCoreException: the data ended in the header
    static Type Make() { return MessageUnsealer(TheRecipient().privateKey); }
    // Into the length, into the header, into the body, the rest.
    static std::vector<std::string> Pieces() {
        static const std::string sealed = Whole(Sealer::Make(), TextMessage::Plain());
        return {sealed.substr(0, 2), sealed.substr(2, 100), sealed.substr(102, 190),
                sealed.substr(292)};
    }
    static std::string Decode(const std::string& s) { return s; }
};

}  // namespace

namespace qmsec_test {
using Transforms = ::testing::Types<SymmetricCipher, RsaCipher, Base64Encoder, Sealer, Unsealer>;
INSTANTIATE_TYPED_TEST_SUITE_P(Transforms, UpdateDoFinalTest, Transforms);
}  // namespace qmsec_test
