// Setting and removing a key in a configuration file.
#pragma once

#include "QmXpl/String_t.h"
#include "config/ConfigCache.h"

namespace QmXplConfig::detail {

// Sets (value not null) or removes (value null) key in the file of the state's group, under an
// advisory lock beside the file, and replaces the file in one step; then the cache rereads it.
void EditConfigFile(ConfigCache& cache, NamespaceState_t* state, const String_t& key,
                    const String_t* value);

}  // namespace QmXplConfig::detail
