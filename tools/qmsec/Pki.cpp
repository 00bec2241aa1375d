#include "Pki.h"

#include <openssl/bn.h>
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <memory>

#include "Cli.h"

namespace qmsec {

namespace {

template <class T, void (*Free)(T*)>
struct Deleter {
    void operator()(T* p) const noexcept { Free(p); }
};
using PKeyPtr = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY, EVP_PKEY_free>>;
using X509Ptr = std::unique_ptr<X509, Deleter<X509, X509_free>>;
using BioPtr = std::unique_ptr<BIO, Deleter<BIO, BIO_free_all>>;
using BnPtr = std::unique_ptr<BIGNUM, Deleter<BIGNUM, BN_free>>;
using NamePtr = std::unique_ptr<X509_NAME, Deleter<X509_NAME, X509_NAME_free>>;
using ExtPtr = std::unique_ptr<X509_EXTENSION, Deleter<X509_EXTENSION, X509_EXTENSION_free>>;

// Fails with OpenSSL's reason for the step that went wrong.
void Check(bool ok, const char* what) {
    if (ok) return;
    unsigned long code = ERR_get_error();
    char reason[256] = "unknown reason";
    if (code) ERR_error_string_n(code, reason, sizeof reason);
    ERR_clear_error();
    Fail(std::string("Could not create the key or certificate: ") + what + " failed (" + reason +
         ").");
}

std::string BioText(BIO* bio) {
    char* data = nullptr;
    long n = BIO_get_mem_data(bio, &data);
    return std::string(data, static_cast<size_t>(n > 0 ? n : 0));
}

PKeyPtr ReadKey(const std::string& pem) {
    BioPtr bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    Check(bio != nullptr, "reading the issuer's key");
    PKeyPtr key(PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr));
    Check(key != nullptr, "reading the issuer's key");
    return key;
}

X509Ptr ReadCertificate(const std::string& pem) {
    BioPtr bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    Check(bio != nullptr, "reading the issuer's certificate");
    X509Ptr cert(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
    Check(cert != nullptr, "reading the issuer's certificate");
    return cert;
}

void AddExtension(X509* cert, X509V3_CTX* ctx, int nid, const char* value) {
    ExtPtr ext(X509V3_EXT_conf_nid(nullptr, ctx, nid, value));
    Check(ext != nullptr, "making a certificate extension");
    Check(X509_add_ext(cert, ext.get(), -1) == 1, "adding a certificate extension");
}

}  // namespace

KeyAndCertificate::~KeyAndCertificate() {
    if (!keyPem.empty()) OPENSSL_cleanse(keyPem.data(), keyPem.size());
}

CertificateRequest::~CertificateRequest() {
    if (!issuerKeyPem.empty()) OPENSSL_cleanse(issuerKeyPem.data(), issuerKeyPem.size());
}

void CreateKeyAndCertificate(const CertificateRequest& request, KeyAndCertificate& out) {
    PKeyPtr key(EVP_RSA_gen(static_cast<unsigned>(request.bits)));
    Check(key != nullptr, "generating the RSA key");

    bool selfSigned = request.issuerCertPem.empty();
    PKeyPtr issuerKey = selfSigned ? nullptr : ReadKey(request.issuerKeyPem);
    X509Ptr issuer = selfSigned ? nullptr : ReadCertificate(request.issuerCertPem);

    X509Ptr cert(X509_new());
    Check(cert != nullptr, "creating the certificate");
    Check(X509_set_version(cert.get(), 2) == 1, "setting the version");

    // A positive random serial: large enough that two certificates of one issuer never share one.
    BnPtr serial(BN_new());
    Check(serial && BN_rand(serial.get(), 128, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY) == 1,
          "drawing the serial number");
    Check(BN_to_ASN1_INTEGER(serial.get(), X509_get_serialNumber(cert.get())) != nullptr,
          "setting the serial number");

    Check(X509_gmtime_adj(X509_getm_notBefore(cert.get()), 0) != nullptr, "setting the start");
    Check(X509_time_adj_ex(X509_getm_notAfter(cert.get()), request.days, 0, nullptr) != nullptr,
          "setting the end");

    NamePtr subject(X509_NAME_new());
    Check(subject != nullptr, "creating the subject name");
    Check(X509_NAME_add_entry_by_txt(
              subject.get(), "CN", MBSTRING_UTF8,
              reinterpret_cast<const unsigned char*>(request.commonName.data()),
              static_cast<int>(request.commonName.size()), -1, 0) == 1,
          "setting the common name");
    Check(X509_set_subject_name(cert.get(), subject.get()) == 1, "setting the subject");
    Check(X509_set_issuer_name(
              cert.get(), selfSigned ? subject.get() : X509_get_subject_name(issuer.get())) == 1,
          "setting the issuer");
    Check(X509_set_pubkey(cert.get(), key.get()) == 1, "setting the public key");

    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, selfSigned ? cert.get() : issuer.get(), cert.get(), nullptr, nullptr, 0);
    bool ca = selfSigned || request.ca;
    AddExtension(cert.get(), &ctx, NID_basic_constraints,
                 ca ? "critical,CA:TRUE" : "critical,CA:FALSE");
    AddExtension(cert.get(), &ctx, NID_key_usage,
                 ca ? "critical,keyCertSign,cRLSign,digitalSignature"
                    : "critical,digitalSignature,keyEncipherment");
    AddExtension(cert.get(), &ctx, NID_subject_key_identifier, "hash");
    if (!selfSigned) AddExtension(cert.get(), &ctx, NID_authority_key_identifier, "keyid:always");

    Check(X509_sign(cert.get(), selfSigned ? key.get() : issuerKey.get(), EVP_sha256()) > 0,
          "signing the certificate");

    BioPtr certBio(BIO_new(BIO_s_mem()));
    Check(certBio && PEM_write_bio_X509(certBio.get(), cert.get()) == 1, "writing the certificate");
    out.certPem = BioText(certBio.get());

    BioPtr keyBio(BIO_new(BIO_s_secmem()));
    Check(keyBio && PEM_write_bio_PrivateKey(keyBio.get(), key.get(), nullptr, nullptr, 0, nullptr,
                                             nullptr) == 1,
          "writing the key");
    out.keyPem = BioText(keyBio.get());
}

}  // namespace qmsec
