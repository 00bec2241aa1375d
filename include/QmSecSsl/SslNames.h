// Names of the configuration that the TLS classes read and the tools write, each spelled here
// only.
#pragma once

namespace QmSecSsl {

// The TLS settings of a node (or of a resource group).
inline constexpr const char* kSslNamespace = "sec.core.ssl";

// The namespace whose keys announce a change of the node's certificates: a TLS context that sees
// one of them change reads its own certificate, or its trust anchors, again.
inline constexpr const char* kCertificatesNamespace = "sec.cm.certificates";
inline constexpr const char* kCertInstalledKey = "CERT_INSTALLED";
inline constexpr const char* kLastCertUpdateKey = "LAST_CERT_UPDATE";
inline constexpr const char* kLastTrustedCertUpdateKey = "LAST_TRUSTED_CERT_UPDATE";

}  // namespace QmSecSsl
