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

namespace qmsec_test {

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
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(
        EVP_RSA_gen(static_cast<unsigned>(bits)), EVP_PKEY_free);
    if (!key) throw std::runtime_error("EVP_RSA_gen failed");
    auto pem = [](auto write) {
        std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new(BIO_s_mem()), BIO_free);
        if (write(bio.get()) != 1) throw std::runtime_error("PEM write failed");
        char* data = nullptr;
        long n = BIO_get_mem_data(bio.get(), &data);
        return std::string(data, static_cast<size_t>(n));
    };
    RsaKeyPair pair;
    pair.privatePem = pem([&](BIO* b) {
        return PEM_write_bio_PrivateKey(b, key.get(), nullptr, nullptr, 0, nullptr, nullptr);
    });
    pair.publicPem = pem([&](BIO* b) { return PEM_write_bio_PUBKEY(b, key.get()); });
    return cache[{bits, variant}] = pair;
}

}  // namespace qmsec_test
