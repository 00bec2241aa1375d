// Shared OpenSSL plumbing of the library: owning pointers, error texts, fetched algorithms.
#pragma once

#include <openssl/bio.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <memory>
#include <string>

#include "Initializer.h"
#include "QmXpl/CharArray_t.h"

namespace QmSecCore::ossl {

// Every OpenSSL object is owned by one of these from the moment it is created.
template <auto Free>
struct Deleter {
    template <class T>
    void operator()(T* p) const noexcept {
        Free(p);
    }
};
using Bio = std::unique_ptr<BIO, Deleter<BIO_free_all>>;
using PKey = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY_free>>;
using PKeyCtx = std::unique_ptr<EVP_PKEY_CTX, Deleter<EVP_PKEY_CTX_free>>;
using MdCtx = std::unique_ptr<EVP_MD_CTX, Deleter<EVP_MD_CTX_free>>;
using CipherCtx = std::unique_ptr<EVP_CIPHER_CTX, Deleter<EVP_CIPHER_CTX_free>>;
using EncodeCtx = std::unique_ptr<EVP_ENCODE_CTX, Deleter<EVP_ENCODE_CTX_free>>;
using X509Ptr = std::unique_ptr<X509, Deleter<X509_free>>;
// Memory that OpenSSL allocated for the caller (X509_NAME_oneline, ASN1_STRING_to_UTF8, ...).
inline void FreeMemory(void* p) noexcept { OPENSSL_free(p); }
using Text = std::unique_ptr<char, Deleter<FreeMemory>>;
using Bytes = std::unique_ptr<unsigned char, Deleter<FreeMemory>>;

// The oldest error of this thread's queue as text, the queue then cleared (see
// Initializer::GetOpenSslError). The insert of every catalog message ending in "(%1)".
std::string ErrorText();

// Clears this thread's error queue after a failure that is deliberately not reported.
void DiscardErrors() noexcept;

// Algorithms fetched once per process and kept: fetching on every use costs a lookup. Null when
// the algorithm is not available (Blowfish and DES need the legacy provider); callers turn that
// into their own error.
const EVP_MD* Sha1();
const EVP_MD* Md5();
const EVP_CIPHER* BlowfishCbc();
const EVP_CIPHER* DesCbc();
const EVP_CIPHER* DesEde3Cbc();

// Gives back the fetched algorithms at process exit; later calls of the accessors above return
// null (callers then report the algorithm as unavailable).
void ReleaseAlgorithms() noexcept;

// A read-only memory BIO over length bytes at data (which must outlive it).
Bio MemoryReader(const char* data, int length);

// The bytes written to a memory BIO so far.
QmXplArray::CharArray_t Contents(BIO* bio);

}  // namespace QmSecCore::ossl
