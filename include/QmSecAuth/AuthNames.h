// Names of the configuration and files that the authorizer reads and the tools write, each
// spelled here only.
#pragma once

namespace QmSecAuth {

// The authorizer's settings, and its key for the node's manager.
inline constexpr const char* kAuthNamespace = "sec.core.auth";
inline constexpr const char* kManagerIdKey = "MANAGER_ID";

// The mapping namespaces, whose values are decimal rights masks.
// Every mapping namespace starts with kMappingNamespacePrefix.
inline constexpr const char* kMappingNamespacePrefix = "sec.core.auth.mapping.";
inline constexpr const char* kMappingManagerNamespace = "sec.core.auth.mapping.manager";
inline constexpr const char* kMappingSecondaryNamespace = "sec.core.auth.mapping.secondary";
inline constexpr const char* kMappingActionAllowNamespace = "sec.core.auth.mapping.actionallow";
inline constexpr const char* kMappingDefaultNamespace = "sec.core.auth.mapping.default";

// Where the installed manager-configuration policies are, under the data directory.
inline constexpr const char* kPolicyDirectory = "policies/mgrconf";

}  // namespace QmSecAuth
