// Names in the node directory that the layer and the programs on it must agree on.
#pragma once

namespace QmXplRuntime {

// The directory under conf/ and under data/ that holds the node's secrets (the key provider's
// secret, the key store): its owner's alone. No configuration group may take its name, since a
// group's file would then live among the secrets.
inline constexpr const char* kSecretsDirectory = "sec";

}  // namespace QmXplRuntime
