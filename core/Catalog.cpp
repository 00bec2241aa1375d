#include "QmSecCore/Catalog.h"

#include <algorithm>
#include <string>

#include "CatalogTable.h"

namespace QmSecCore {

using QmXplMsg::Message_t;
using QmXplMsg::Severity_t;

const QmXplMsg::MessageCatalog_t& Catalog::GetCatalog() {
    // A function-local static is constructed exactly once even when several threads make the
    // first call together; the others wait until it is complete.
    static const QmXplMsg::MessageCatalog_t catalog(QmXplStr::String_t("sec.core"));
    return catalog;
}

namespace detail {

namespace {

// Numbers 23, 119 to 139, 146, 149 and 162 to 173 are not assigned.
constexpr CatalogEntry kEntries[] = {
    {0, CatalogKind::kWarning, "XORBufferedInputStream is already closed."},
    {0, CatalogKind::kWarning, "XORBufferedOutputStream is already closed."},
    {1, CatalogKind::kError, "Could not open policy header '%1'."},
    {2, CatalogKind::kError,
     "Could not parse policy header '%1'. Error in line %2 at column %3 (System Id: '%4', Public "
     "Id: '%5')."},
    {3, CatalogKind::kError, "Failure while parsing policy header '%1'."},
    {4, CatalogKind::kError,
     "Could not read policy data file '%1' (as defined in policy header file '%2'). No such file."},
    {5, CatalogKind::kError, "Could not read policy data file '%1'. Failed to open file."},
    {6, CatalogKind::kError,
     "Could not read policy data file '%1'. Syntax error in line %2 near '%3' (error code: %4)."},
    {7, CatalogKind::kError, "Could not read policy data file '%1'. Unexpected error."},
    {8, CatalogKind::kError, "Unexpected exception while reading authorization policies."},
    {9, CatalogKind::kWarning, "Illegal buffer length or offset."},
    {10, CatalogKind::kWarning, "Error during Base64 decoding operation (%1)."},
    {11, CatalogKind::kWarning, "Buffer overrun. OutputLen %1 exceeds buffer size %2."},
    {12, CatalogKind::kWarning, "Illegal input buffer length or offset."},
    {13, CatalogKind::kWarning, "Error during decoding."},
    {14, CatalogKind::kWarning, "Base64InputStream is already closed."},
    {15, CatalogKind::kWarning, "Base64OutputStream is already closed."},
    {16, CatalogKind::kWarning, "CipherInputStream is already closed."},
    {17, CatalogKind::kWarning, "CipherOutputStream is already closed."},
    {18, CatalogKind::kWarning, "DigestInputStream is already closed."},
    {19, CatalogKind::kWarning, "DigestOutputStream is already closed."},
    {20, CatalogKind::kWarning, "Can not generate a key from a password for the given algorithm."},
    {21, CatalogKind::kWarning, "Could not read file '%1'."},
    {22, CatalogKind::kWarning, "Could not create directory '%1'."},
    {24, CatalogKind::kWarning, "Could not write to file '%1'."},
    {25, CatalogKind::kWarning, "No certificate for alias '%1' is installed."},
    {26, CatalogKind::kWarning, "Certificate could not be restored from file '%1'."},
    {27, CatalogKind::kWarning, "No private key for alias '%1' is installed."},
    {28, CatalogKind::kWarning, "Could not open file '%1'."},
    {29, CatalogKind::kWarning,
     "Private key can not be decrypted. Node specific key could not be read."},
    {30, CatalogKind::kWarning, "Could not restore private key from file."},
    {31, CatalogKind::kWarning, "A certificate with alias '%1' is already installed."},
    {32, CatalogKind::kWarning, "Error when trying to write to file '%1'."},
    {33, CatalogKind::kWarning, "A private key with alias '%1' is already installed."},
    {34, CatalogKind::kWarning, "Failed to create memory buffer."},
    {35, CatalogKind::kWarning, "Could not write to memory buffer (%1)."},
    {36, CatalogKind::kWarning, "Could not remove file '%1'."},
    {37, CatalogKind::kWarning, "Could not delete file '%1'."},
    {38, CatalogKind::kWarning, "Index file is corrupt."},
    {39, CatalogKind::kWarning, "Error while reading file '%1'."},
    {40, CatalogKind::kWarning, "Illegal input length."},
    {41, CatalogKind::kWarning, "Unsupported algorithm."},
    {42, CatalogKind::kWarning, "Illegal input length or offset."},
    {43, CatalogKind::kWarning, "A symmetric algorithm was expected."},
    {44, CatalogKind::kWarning, "Exceeded maximum seal header size. RSA key is too large."},
    {45, CatalogKind::kWarning, "Could not parse encoded message signature."},
    {46, CatalogKind::kWarning, "This message signature does not contain a certificate."},
    {47, CatalogKind::kWarning, "Could not write encoded message signature."},
    {48, CatalogKind::kWarning,
     "Could not create message signer. No QmCoreId is set on this system."},
    {49, CatalogKind::kWarning, "Signer CN must not be empty."},
    {50, CatalogKind::kWarning,
     "Could not create message signer. No private key for signer '%1' found in keystore."},
    {51, CatalogKind::kWarning, "Could not create message signer."},
    {52, CatalogKind::kWarning, "Could not update data."},
    {53, CatalogKind::kWarning, "No certificate for signer '%1' found in keystore."},
    {54, CatalogKind::kWarning, "Could not sign data."},
    {55, CatalogKind::kWarning, "Wrong key type. Expected RSA private key."},
    {56, CatalogKind::kWarning, "Unexpected end of input data."},
    {57, CatalogKind::kWarning, "Malformed input data."},
    {58, CatalogKind::kWarning, "Provided signer certificate is not valid."},
    {59, CatalogKind::kWarning,
     "Issuer certificate with common name '%1' in keystore is not valid."},
    {60, CatalogKind::kWarning,
     "Signer certificate could not be verified with issuer certificate having common name '%1' in "
     "keystore."},
    {61, CatalogKind::kWarning, "Signer certificate is not trusted."},
    {62, CatalogKind::kWarning, "Signer and issuer of signer certificate are not trusted."},
    {63, CatalogKind::kWarning, "Signer certificate in keystore is not valid."},
    {64, CatalogKind::kWarning,
     "Certificate of issuer of signer certificate in keystore is not valid."},
    {65, CatalogKind::kWarning,
     "No certificate for signer provided in message signature or found in keystore."},
    {66, CatalogKind::kWarning, "Invalid policy header. Missing name of policy data file."},
    {67, CatalogKind::kWarning, "Key type not recognized."},
    {68, CatalogKind::kWarning, "Could not create key from provided data (%1)."},
    {69, CatalogKind::kWarning, "Wrong key type, should be an RSA key."},
    {70, CatalogKind::kWarning, "Could not write key to memory buffer (%1)."},
    {71, CatalogKind::kWarning, "Key does not match the algorithm."},
    {72, CatalogKind::kWarning, "Error during decryption operation (%1)."},
    {73, CatalogKind::kWarning, "Illegal offset."},
    {74, CatalogKind::kWarning,
     "Key is not long enough for selected algorithm. Expected length is %1."},
    {75, CatalogKind::kWarning, "Error during Cipher operation (%1)."},
    {76, CatalogKind::kWarning, "Could not decrypt data. Incorrect padding."},
    {77, CatalogKind::kWarning, "Unknown algorithm type."},
    {78, CatalogKind::kWarning, "Signature class has not been initialized."},
    {79, CatalogKind::kWarning, "Invalid key type. An RSA private key was expected."},
    {80, CatalogKind::kWarning, "Invalid key type. An RSA public key was expected."},
    {81, CatalogKind::kWarning, "Signature class is not in verify mode."},
    {82, CatalogKind::kWarning, "Error during verification operation (%1)."},
    {83, CatalogKind::kWarning, "Signature class is not in sign mode."},
    {84, CatalogKind::kWarning, "Error during sign operation (%1)."},
    {85, CatalogKind::kWarning, "SignatureInputStream is already closed."},
    {86, CatalogKind::kWarning, "SignatureOutputStream is already closed."},
    {87, CatalogKind::kPlain, "INFO:"},
    {88, CatalogKind::kPlain, "NOTE:"},
    {89, CatalogKind::kPlain, "WARNING:"},
    {90, CatalogKind::kPlain, "ERROR:"},
    {91, CatalogKind::kWarning, "Could not parse encoded X509 Certificate (%1)."},
    {92, CatalogKind::kWarning, "Could not write X509 certificate to memory buffer (%1)."},
    {93, CatalogKind::kWarning, "Could not get public key from certificate (%1)."},
    {94, CatalogKind::kWarning, "Type of key should be eRSAPulicKey."},
    {95, CatalogKind::kWarning, "Time format not recognized (%1)."},
    {96, CatalogKind::kWarning, "Could not get Issuer DN from certificate (%1)."},
    {97, CatalogKind::kWarning, "Could not get Subject DN from certificate (%1)."},
    {98, CatalogKind::kWarning, "Conversion of serial number failed (%1)."},
    {99, CatalogKind::kWarning, "Password too long. Only %1 characters are supported."},
    {100, CatalogKind::kWarning, "XORInputStream is already closed."},
    {101, CatalogKind::kWarning, "XOROutputStream is already closed."},
    {102, CatalogKind::kWarning, "Certificate Filename and Private Key Filename cannot be empty."},
    {103, CatalogKind::kWarning, "'%1' is not a recognized encryption level."},
    {104, CatalogKind::kWarning, "'%1' is not a recognized client verification mode."},
    {105, CatalogKind::kWarning, "SSL error while creating SSL session (%1)."},
    {106, CatalogKind::kWarning, "Could not get certificate for alias '%1'."},
    {107, CatalogKind::kWarning, "Could not get private key for alias '%1'."},
    {108, CatalogKind::kWarning,
     "Error while configuring SSL to use certificate with alias '%1' (%2)."},
    {109, CatalogKind::kWarning,
     "Error while configuring SSL to use private key with alias '%1' (%2)."},
    {110, CatalogKind::kWarning,
     "Error while configuring SSL to use certificate from file '%1' (%2)."},
    {111, CatalogKind::kWarning,
     "Error while configuring SSL to use private key from file '%1' (%2)."},
    {112, CatalogKind::kWarning, "Error while creating SSL session (%1)."},
    {113, CatalogKind::kWarning, "SSL certificate verification error (%1)."},
    {114, CatalogKind::kWarning, "SSL connection error (%1)."},
    {115, CatalogKind::kWarning, "SslOp with wrong eOp."},
    {116, CatalogKind::kWarning,
     "An SSL connection IO error has occurred. This may be due to a network problem or an SSL "
     "handshake error. Possible causes for SSL handshake errors are that no certificate is "
     "installed, an invalid certificate is installed, or the peer does not trust the initiator's "
     "certificate."},
    {117, CatalogKind::kWarning, "SSL connection error. Could not write data."},
    {118, CatalogKind::kWarning, "SSL connection error during shutdown (%1)."},
    {140, CatalogKind::kWarning, "SSL connection output stream is already closed."},
    {141, CatalogKind::kWarning, "SSL connection error. Send operation failed."},
    {142, CatalogKind::kWarning, "SSL connection error. IO error during flushing data."},
    {143, CatalogKind::kWarning, "SSL connection input stream is already closed."},
    {144, CatalogKind::kWarning, "SSL connection error. Receive operation failed."},
    {145, CatalogKind::kWarning, "Out of memory."},
    {147, CatalogKind::kWarning, "File '%1' contains no usable certificate."},
    {148, CatalogKind::kWarning, "SSL error while setting trusted certificates (%1)."},
    {150, CatalogKind::kWarning, "SSL Socket input stream is already closed."},
    {151, CatalogKind::kWarning, "SSL socket error. Receive operation failed."},
    {152, CatalogKind::kWarning, "SSL Socket output stream is already closed."},
    {153, CatalogKind::kWarning, "SSL socket error. Send operation failed."},
    {154, CatalogKind::kWarning, "SSL socket error. IO error during flushing."},
    {155, CatalogKind::kWarning, "SSL connection error. No peer certificate."},
    {156, CatalogKind::kWarning, "SSL connection error. Certificate verification error."},
    {157, CatalogKind::kWarning, "SSL connection error. Wrong SSL option."},
    {158, CatalogKind::kWarning, "SSL socket IO error."},
    {159, CatalogKind::kWarning, "CA File contained no usable certificate."},
    {160, CatalogKind::kWarning,
     "SSL configuration error (%1). Used certificate filename was '%2'."},
    {161, CatalogKind::kWarning, "Wrong ClientVerification Mode Parameter."},
    {174, CatalogKind::kWarning, "Could not change file access permissions for directory '%1'."},
    {175, CatalogKind::kWarning, "Alias '%1' is not valid for a key store entry."},
    {176, CatalogKind::kWarning, "Password must not be empty."},
    {177, CatalogKind::kError,
     "Policy data file '%1' (as defined in policy header file '%2') does not lie in the policy "
     "directory."},
    {178, CatalogKind::kWarning,
     "The directory '%1' may be changed by others than its owner, so it is not used."},
};

Severity_t SeverityOf(CatalogKind kind) {
    switch (kind) {
        case CatalogKind::kWarning:
            return Severity_t::eWarning;
        case CatalogKind::kError:
            return Severity_t::eError;
        case CatalogKind::kPlain:
            break;
    }
    return Severity_t::eNone;
}

}  // namespace

std::span<const CatalogEntry> CatalogEntries() noexcept { return kEntries; }

Message_t CatalogMessage(int number) {
    auto it = std::lower_bound(std::begin(kEntries), std::end(kEntries), number,
                               [](const CatalogEntry& e, int n) { return e.number < n; });
    if (number == 0 || it == std::end(kEntries) || it->number != number) {
        return Message_t(QmXplStr::String_t("Message number " + std::to_string(number) +
                                            " is not in the catalog sec.core."),
                         Severity_t::eWarning);
    }
    return Message_t(Catalog::GetCatalog(), number, QmXplStr::String_t(it->text),
                     SeverityOf(it->kind));
}

Message_t CatalogMessage(int number, const char* defaultText) {
    auto it = std::find_if(std::begin(kEntries), std::end(kEntries), [&](const CatalogEntry& e) {
        return e.number == number && std::string(e.text) == defaultText;
    });
    Severity_t severity = it == std::end(kEntries) ? Severity_t::eWarning : SeverityOf(it->kind);
    return Message_t(Catalog::GetCatalog(), number, QmXplStr::String_t(defaultText), severity);
}

}  // namespace detail

}  // namespace QmSecCore
