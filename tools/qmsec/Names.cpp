#include "Names.h"

#include <cstdio>

#include "Cli.h"
#include "QmSecCore/KeyStore.h"
#include "QmXpl/String_t.h"

namespace qmsec {

void CheckAlias(const std::string& alias, const std::string& what) {
    if (!QmSecCore::KeyStore::IsPortableAlias(QmXplStr::String_t(alias)))
        throw UsageError("'" + Printable(alias) + "' is no valid " + what +
                         ": it cannot be part of a file name (an alias is not empty, '.' or '..', "
                         "at most 200 bytes long, and holds no '/', '\\', control character or "
                         "blank at either end)");
}

std::string Printable(const std::string& name) {
    std::string out;
    out.reserve(name.size());
    for (size_t i = 0; i < name.size(); ++i) {
        auto c = static_cast<unsigned char>(name[i]);
        char buf[8];
        if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20 || c == 0x7f) {
            std::snprintf(buf, sizeof buf, "\\x%02x", c);
            out += buf;
        } else if (c == 0xc2 && i + 1 < name.size() &&
                   static_cast<unsigned char>(name[i + 1]) >= 0x80 &&
                   static_cast<unsigned char>(name[i + 1]) <= 0x9f) {
            // U+0080 to U+009F: CSI (U+009B) starts an escape sequence on many terminals.
            std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned char>(name[++i]));
            out += buf;
        } else {
            out.push_back(static_cast<char>(c));
        }
    }
    return out;
}

std::string DigestLine(const std::string& hex, const std::string& file) {
    std::string name;
    for (char c : file) {
        const char* escaped = c == '\\' ? "\\\\" : c == '\n' ? "\\n" : c == '\r' ? "\\r" : nullptr;
        name += escaped ? std::string(escaped) : std::string(1, c);
    }
    return (name == file ? "" : "\\") + hex + "  " + name + "\n";
}

bool IsUtf8(const std::string& text) {
    // The layer turns every malformed sequence into U+FFFD: valid text alone comes back as it was.
    return QmXplStr::String_t(text).ToUtf8() == text;
}

}  // namespace qmsec
