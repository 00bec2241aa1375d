#include "config/ConfigNames.h"

#include <string>

#include "QmXpl/NodeNames.h"
#include "config/ConfigTrace.h"

namespace QmXplConfig::detail {

namespace {

using QmXplMsg::detail::ThrowArgument;

bool IsBlank(char16_t c) {
    return c == u' ' || c == u'\t' || c == u'\f' || c == u'\v' || c == u'\r' || c == u'\n';
}

bool HasControl(const String_t& s) {
    for (char16_t c : s.Str()) {
        if (c < 0x20 || c == 0x7f) return true;
    }
    return false;
}

bool HasOuterBlanks(const String_t& s) {
    return !s.IsEmpty() && (IsBlank(s.GetAt(0)) || IsBlank(s.GetAt(s.GetLength() - 1)));
}

}  // namespace

void CheckNamespaceName(const String_t& name) {
    if (name.IsEmpty())
        ThrowArgument("A configuration namespace needs a name", QMXPL_CONFIG_THROW_TRACE);
    if (HasControl(name) || HasOuterBlanks(name) ||
        name.FindOneOf(String_t("[]")) != String_t::npos)
        ThrowArgument("'" + name.ToUtf8() + "' is not a usable configuration namespace name",
                      QMXPL_CONFIG_THROW_TRACE);
}

// A group must not lead anywhere else, nor be one that holds something else ("sec" holds the
// node's secrets, and is its owner's alone).
void CheckGroupName(const String_t& group) {
    const std::string g = group.ToUtf8();
    if (HasControl(group) || HasOuterBlanks(group) || g.find('/') != std::string::npos ||
        g == "." || g == ".." || g == QmXplRuntime::kSecretsDirectory ||
        group.FindOneOf(String_t("[]")) != String_t::npos) {
        ThrowArgument("'" + g + "' is not a usable resource group name", QMXPL_CONFIG_THROW_TRACE);
    }
}

void CheckKey(const String_t& key) {
    if (key.IsEmpty())
        ThrowArgument("A configuration key must not be empty", QMXPL_CONFIG_THROW_TRACE);
    char16_t first = key.GetAt(0);
    if (HasControl(key) || HasOuterBlanks(key) || key.Find(u'=') != String_t::npos ||
        first == u'#' || first == u';' || first == u'[') {
        ThrowArgument("'" + key.ToUtf8() + "' is not a usable configuration key",
                      QMXPL_CONFIG_THROW_TRACE);
    }
}

void CheckValue(const String_t& key, const String_t& value) {
    if (value.IsNull())
        ThrowArgument("A null value for key '" + key.ToUtf8() + "'; use RemoveValue to remove it",
                      QMXPL_CONFIG_THROW_TRACE);
    if (value.FindOneOf(String_t(std::u16string(u"\r\n\0", 3))) != String_t::npos)
        ThrowArgument("The value for key '" + key.ToUtf8() + "' holds a line break",
                      QMXPL_CONFIG_THROW_TRACE);
    if (HasOuterBlanks(value))
        ThrowArgument("The value for key '" + key.ToUtf8() +
                          "' has blanks at an end, which would not read back",
                      QMXPL_CONFIG_THROW_TRACE);
}

}  // namespace QmXplConfig::detail
