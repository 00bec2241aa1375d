// Shared OpenSSL plumbing of the library: owning pointers, error texts, fetched algorithms.
#pragma once

#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/pkcs12.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <memory>
#include <string>

#include "Initializer.h"
#include "QmSecCore/Key.h"
#include "QmSecCore/X509Certificate.h"
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
using X509Store = std::unique_ptr<X509_STORE, Deleter<X509_STORE_free>>;
using X509Name = std::unique_ptr<X509_NAME, Deleter<X509_NAME_free>>;
using X509Extension = std::unique_ptr<X509_EXTENSION, Deleter<X509_EXTENSION_free>>;
using X509Req = std::unique_ptr<X509_REQ, Deleter<X509_REQ_free>>;
using Pkcs12 = std::unique_ptr<PKCS12, Deleter<PKCS12_free>>;
using Asn1String = std::unique_ptr<ASN1_STRING, Deleter<ASN1_STRING_free>>;
using Asn1Integer = std::unique_ptr<ASN1_INTEGER, Deleter<ASN1_INTEGER_free>>;
using BigNum = std::unique_ptr<BIGNUM, Deleter<BN_free>>;
// An algorithm fetched from a provider (EVP_CIPHER_fetch) and given back when it goes.
using FetchedCipher = std::unique_ptr<EVP_CIPHER, Deleter<EVP_CIPHER_free>>;
using Ssl = std::unique_ptr<SSL, Deleter<SSL_free>>;
using SslCtx = std::unique_ptr<SSL_CTX, Deleter<SSL_CTX_free>>;
using SslSession = std::unique_ptr<SSL_SESSION, Deleter<SSL_SESSION_free>>;
using Pkcs8Info = std::unique_ptr<PKCS8_PRIV_KEY_INFO, Deleter<PKCS8_PRIV_KEY_INFO_free>>;
// Stacks that own their elements.
inline void FreeX509Stack(STACK_OF(X509) * s) noexcept { sk_X509_pop_free(s, X509_free); }
inline void FreeNameStack(STACK_OF(X509_NAME) * s) noexcept {
    sk_X509_NAME_pop_free(s, X509_NAME_free);
}
using X509Stack = std::unique_ptr<STACK_OF(X509), Deleter<FreeX509Stack>>;
using NameStack = std::unique_ptr<STACK_OF(X509_NAME), Deleter<FreeNameStack>>;
// Memory that OpenSSL allocated for the caller (X509_NAME_oneline, ASN1_STRING_to_UTF8, ...).
inline void FreeMemory(void* p) noexcept { OPENSSL_free(p); }
using Text = std::unique_ptr<char, Deleter<FreeMemory>>;
using Bytes = std::unique_ptr<unsigned char, Deleter<FreeMemory>>;

// The oldest error of this thread's queue as text, the queue then cleared (see
// Initializer::GetOpenSslError). The insert of every catalog message ending in "(%1)".
std::string ErrorText();

// Every error of this thread's queue, oldest first, joined by "; ", the queue then empty. For
// failures where the first error alone does not explain (a TLS handshake, a PEM file).
std::string ErrorQueueText();

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

// The OpenSSL objects behind the library's handles, for the layers built on core. "Get0": the
// object stays owned by the handle's body and lives as long as a handle on it; null for an empty
// handle. "Get1": the caller receives a reference of its own.
X509* Get0X509(const X509Certificate& certificate) noexcept;
EVP_PKEY* Get0PKey(const Key& key) noexcept;
// A certificate handle that takes over a reference of its own on certificate.
X509Certificate WrapCertificate(X509Ptr certificate);

}  // namespace QmSecCore::ossl
