#include "QmXpl/MessageCatalog_t.h"

#include <cstdlib>
#include <fstream>
#include <mutex>
#include <string>
#include <unordered_map>

#include "runtime/Home.h"

namespace QmXplMsg {

using QmXplStr::String_t;

struct MessageCatalog_t::Body {
    String_t name;
    mutable std::once_flag loaded;
    mutable std::unordered_map<int, String_t> texts;

    void Load() const;
};

namespace {

std::string Language() {
    for (const char* var : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* v = std::getenv(var);
        if (v && *v) {
            std::string lang(v);
            size_t cut = lang.find_first_of("_.@");
            if (cut != std::string::npos) lang.resize(cut);
            if (lang == "C" || lang == "POSIX") return {};
            return lang;
        }
    }
    return {};
}

std::string Unescape(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 1 < s.size()) {
            char c = s[++i];
            out.push_back(c == 'n' ? '\n' : c == 't' ? '\t' : c);
        } else {
            out.push_back(s[i]);
        }
    }
    return out;
}

}  // namespace

void MessageCatalog_t::Body::Load() const {
    std::string lang = Language();
    if (lang.empty() || lang.find('/') != std::string::npos) return;
    std::string file =
        QmXplRuntime::HomeDirectory() + "/nls/" + lang + "/" + name.ToUtf8() + ".cat";
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        size_t sep = line.find_first_of(" \t");
        if (sep == std::string::npos || sep == 0) continue;
        char* end = nullptr;
        long number = std::strtol(line.c_str(), &end, 10);
        if (end != line.c_str() + sep || number <= 0) continue;
        texts[static_cast<int>(number)] = String_t(Unescape(line.substr(sep + 1)));
    }
}

MessageCatalog_t::MessageCatalog_t(const String_t& name) : body_(std::make_unique<Body>()) {
    body_->name = name;
}

MessageCatalog_t::~MessageCatalog_t() = default;

const String_t& MessageCatalog_t::GetName() const noexcept { return body_->name; }

String_t MessageCatalog_t::Lookup(int number, const String_t& defaultText) const {
    if (number == 0) return defaultText;
    std::call_once(body_->loaded, [this] { body_->Load(); });
    auto it = body_->texts.find(number);
    return it == body_->texts.end() ? defaultText : it->second;
}

}  // namespace QmXplMsg
