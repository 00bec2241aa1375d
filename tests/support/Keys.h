// RSA keys made in the test itself (never committed), as PEM texts.
#pragma once

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>

#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>

#include "OpenSsl.h"

namespace qmsec_test {

// What was written to a memory BIO so far.
inline std::string BioText(BIO* bio) {
    char* data = nullptr;
    long n = BIO_get_mem_data(bio, &data);
    return std::string(data, static_cast<size_t>(n > 0 ? n : 0));
}

// A key as PEM: the private key unencrypted as PKCS #8, or the public key as "PUBLIC KEY".
inline std::string KeyPem(EVP_PKEY* key, bool privateKey) {
    QmSecCore::ossl::Bio bio(BIO_new(BIO_s_mem()));
    int ok = privateKey
                 ? PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr)
                 : PEM_write_bio_PUBKEY(bio.get(), key);
    if (ok != 1) throw std::runtime_error("PEM write failed");
    return BioText(bio.get());
}

struct RsaKeyPair {
    std::string privatePem;  // "PRIVATE KEY" (PKCS #8), unencrypted
    std::string publicPem;   // "PUBLIC KEY"
};

// A fresh key pair of the given size, cached per size for the life of the test program.
inline const RsaKeyPair& TestRsaKey(int bits = 2048, int variant = 0) {
    static std::mutex mutex;
    static std::map<std::pair<int, int>, RsaKeyPair> cache;
    std::lock_guard<std::mutex> lock(mutex);
    auto it = cache.find({bits, variant});
    if (it != cache.end()) return it->second;
    QmSecCore::ossl::PKey key(EVP_RSA_gen(static_cast<unsigned>(bits)));
    if (!key) throw std::runtime_error("EVP_RSA_gen failed");
    RsaKeyPair pair{KeyPem(key.get(), true), KeyPem(key.get(), false)};
    return cache[{bits, variant}] = pair;
}

}  // namespace qmsec_test
