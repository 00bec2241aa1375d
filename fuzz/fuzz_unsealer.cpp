// libFuzzer target: the unsealer fed bytes in pieces of arbitrary sizes, with one RSA key pair
// made once for the run. The first input byte picks what is unsealed, the second seeds the
// split:
//   - 0: the rest as sealed data, as it comes (hostile lengths, headers and bodies);
//   - 1: the rest sealed first with the key's certificate (the algorithm taken from the rest's
//     length): the round trip must give the rest back;
//   - 2: a message sealed as in 1, then damaged: the rest is read as pairs (position, xor mask);
//   - 3: a message sealed as in 1, cut after as many bytes as the rest's first two bytes say.
// The seeds of the second kind are built for any key: sealed data for the run's key cannot be
// written down in advance, as the key is made afresh each run.
// Every failure must be one of the library's exceptions, every count must lie inside the output,
// and damaged data must never unseal to more bytes than it holds.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>

#include "QmSecCore/Key.h"
#include "QmSecCore/MessageSealer.h"
#include "QmSecCore/MessageUnsealer.h"
#include "QmSecCore/X509Certificate.h"
#include "QmXpl/Message_t.h"
#include "support/Certificates.h"

namespace {

using QmSecCore::Key;
using QmSecCore::MessageSealer;
using QmSecCore::MessageUnsealer;
using QmSecCore::X509Certificate;
using QmXplArray::CharArray_t;

// One recipient for the whole run, made at start-up (1024 bits: a 128-byte header).
struct Recipient {
    Key privateKey;
    X509Certificate certificate;
    Recipient() {
        const qmsec_test::RsaKeyPair& pair = qmsec_test::TestRsaKey(1024);
        qmsec_test::TestCertificate c =
            qmsec_test::CertificateBuilder().CommonName("fuzz").SubjectKey(pair.privatePem).Build();
        privateKey = Key(Key::eRSAPrivateKey, pair.privatePem.data(),
                         static_cast<int>(pair.privatePem.size()));
        certificate = X509Certificate(c.pem.data(), static_cast<int>(c.pem.size()));
    }
};

const Key::Algorithm kAlgorithms[] = {Key::eDefault, Key::eBlowfish, Key::eDES, Key::eDES3};

std::string Seal(const Recipient& r, const std::string& message) {
    MessageSealer sealer(r.certificate, kAlgorithms[message.size() % 4]);
    CharArray_t out;
    int n = sealer.DoFinal(message.data(), static_cast<int>(message.size()), out);
    return std::string(out.GetData(), static_cast<size_t>(n));
}

// Unseals in to plain in pieces drawn from seed; false when the unsealer refused it.
bool Unseal(const Recipient& r, const std::string& in, unsigned seed, std::string& plain) {
    std::minstd_rand rng(seed);
    CharArray_t out;
    int at = 0;
    try {
        MessageUnsealer unsealer(r.privateKey);
        size_t pos = 0;
        while (pos < in.size()) {
            // Mostly small pieces, so that the length and header stages see many splits.
            size_t n = std::min<size_t>(rng() % 3 == 0 ? rng() % 400 : rng() % 9, in.size() - pos);
            int produced = unsealer.Update(in.data() + pos, static_cast<int>(n), out, at);
            if (produced < 0 || produced > out.GetSize() - at) std::abort();
            at += produced;
            pos += n;
        }
        int produced = unsealer.DoFinal(out, at);
        if (produced < 0 || produced > out.GetSize() - at) std::abort();
        at += produced;
    } catch (const QmXplMsg::Exception_t&) {
        return false;
    }
    if (at > static_cast<int>(in.size())) std::abort();  // never more than it was given
    plain.assign(out.GetData(), static_cast<size_t>(at));
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const Recipient r;
    if (size < 2 || size > (1u << 16)) return 0;
    std::string rest(reinterpret_cast<const char*>(data) + 2, size - 2);
    unsigned seed = data[1];
    std::string plain;
    switch (data[0] % 4) {
        case 0:
            Unseal(r, rest, seed, plain);
            break;
        case 1:
            if (!Unseal(r, Seal(r, rest), seed, plain) || plain != rest) std::abort();
            break;
        case 2: {
            std::string sealed = Seal(r, "a message to damage, " + std::to_string(size));
            for (size_t i = 0; i + 2 < rest.size(); i += 3) {
                size_t at = (static_cast<unsigned char>(rest[i]) << 8 |
                             static_cast<unsigned char>(rest[i + 1])) %
                            sealed.size();
                sealed[at] = static_cast<char>(sealed[at] ^ rest[i + 2]);
            }
            Unseal(r, sealed, seed, plain);
            break;
        }
        default: {
            std::string sealed = Seal(r, rest);
            size_t cut = rest.size() >= 2 ? (static_cast<unsigned char>(rest[0]) << 8 |
                                             static_cast<unsigned char>(rest[1]))
                                          : 0;
            // Cut before the body's first whole block: always refused. (A cut later in the body
            // can end on a block whose padding happens to look right; no MAC tells it apart.)
            if (cut < 4 + 128 + 8 + 8) {
                if (Unseal(r, sealed.substr(0, cut), seed, plain)) std::abort();
            } else if (cut < sealed.size()) {
                Unseal(r, sealed.substr(0, cut), seed, plain);
            }
            break;
        }
    }
    return 0;
}
