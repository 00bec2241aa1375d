// Names of the node's configuration and files that the library and its tools share, each
// spelled here only.
#pragma once

namespace QmSecCore {

// The configuration namespace of the library, and its key for the node's own name: the alias
// under which the node's key and certificate are in the key store, which signs for the node.
inline constexpr const char* kCoreNamespace = "sec.core";
inline constexpr const char* kCoreIdKey = "CORE_ID";

// The key store under the data directory ($QMXPL_HOME/data), inside the secrets directory: its
// directory, the node's encrypted key that protects its entries, and the index of its entries.
inline constexpr const char* kKeyStoreDirectory = "sec/ks";
inline constexpr const char* kNodeKeyFile = "sec/ks/nsk.dat";
inline constexpr const char* kKeyStoreIndexFile = "sec/ks/ks.dat";

}  // namespace QmSecCore
