// What the configuration accepts as names, keys and values: whatever reads back as written.
#pragma once

#include "QmXpl/String_t.h"

namespace QmXplConfig::detail {

using QmXplStr::String_t;

// Each throws IllegalArgumentError_t (traced on "qmxpl.config") for what it refuses.
void CheckNamespaceName(const String_t& name);
// A group names a directory under conf/.
void CheckGroupName(const String_t& group);
void CheckKey(const String_t& key);
void CheckValue(const String_t& key, const String_t& value);

}  // namespace QmXplConfig::detail
