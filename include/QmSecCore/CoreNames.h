// Names of the node's configuration that the library and its tools share, each spelled here
// only. Where the key store keeps its files, KeyStore::DirectoryOf tells.
#pragma once

namespace QmSecCore {

// The configuration namespace of the library, and its key for the node's own name: the alias
// under which the node's key and certificate are in the key store, which signs for the node.
inline constexpr const char* kCoreNamespace = "sec.core";
inline constexpr const char* kCoreIdKey = "CORE_ID";

}  // namespace QmSecCore
