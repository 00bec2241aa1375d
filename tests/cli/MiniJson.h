// A strict little JSON reader for checking qmsec's --json output: anything that is not valid
// JSON throws, so a test also proves the output parses.
#pragma once

#include <cstdlib>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace qmsec_cli {

class Json {
  public:
    enum class Kind { kNull, kBool, kNumber, kString, kArray, kObject };

    static Json Parse(const std::string& text) {
        size_t pos = 0;
        Json value = ParseValue(text, pos);
        SkipBlanks(text, pos);
        if (pos != text.size()) throw std::runtime_error("JSON: text after the value");
        return value;
    }

    Kind GetKind() const { return kind_; }
    bool IsNull() const { return kind_ == Kind::kNull; }
    bool Bool() const { return Expect(Kind::kBool).bool_; }
    long long Number() const { return Expect(Kind::kNumber).number_; }
    const std::string& Str() const { return Expect(Kind::kString).string_; }
    size_t Size() const {
        return kind_ == Kind::kArray ? items_.size() : Expect(Kind::kObject).members_.size();
    }
    const Json& operator[](size_t i) const {
        const auto& items = Expect(Kind::kArray).items_;
        if (i >= items.size()) throw std::runtime_error("JSON: index out of range");
        return items[i];
    }
    const Json& operator[](const std::string& key) const {
        const auto& members = Expect(Kind::kObject).members_;
        auto it = members.find(key);
        if (it == members.end()) throw std::runtime_error("JSON: no member '" + key + "'");
        return it->second;
    }
    bool Has(const std::string& key) const {
        return Expect(Kind::kObject).members_.count(key) != 0;
    }

  private:
    const Json& Expect(Kind kind) const {
        if (kind_ != kind) throw std::runtime_error("JSON: value of another kind");
        return *this;
    }
    static void SkipBlanks(const std::string& t, size_t& p) {
        while (p < t.size() && (t[p] == ' ' || t[p] == '\n' || t[p] == '\t' || t[p] == '\r')) ++p;
    }
    static void Literal(const std::string& t, size_t& p, const char* word) {
        std::string w(word);
        if (t.compare(p, w.size(), w) != 0) throw std::runtime_error("JSON: bad literal");
        p += w.size();
    }
    static std::string ParseString(const std::string& t, size_t& p) {
        if (t[p] != '"') throw std::runtime_error("JSON: string expected");
        ++p;
        std::string out;
        while (p < t.size() && t[p] != '"') {
            unsigned char c = static_cast<unsigned char>(t[p]);
            if (c < 0x20) throw std::runtime_error("JSON: raw control character in a string");
            if (c != '\\') {
                out.push_back(t[p++]);
                continue;
            }
            if (++p >= t.size()) break;
            char e = t[p++];
            switch (e) {
                case '"':
                    out.push_back('"');
                    break;
                case '\\':
                    out.push_back('\\');
                    break;
                case '/':
                    out.push_back('/');
                    break;
                case 'n':
                    out.push_back('\n');
                    break;
                case 'r':
                    out.push_back('\r');
                    break;
                case 't':
                    out.push_back('\t');
                    break;
                case 'b':
                    out.push_back('\b');
                    break;
                case 'f':
                    out.push_back('\f');
                    break;
                case 'u': {
                    if (p + 4 > t.size()) throw std::runtime_error("JSON: short \\u escape");
                    unsigned cp = static_cast<unsigned>(std::stoul(t.substr(p, 4), nullptr, 16));
                    p += 4;
                    if (cp >= 0x80)
                        throw std::runtime_error("JSON: only ASCII \\u escapes expected");
                    out.push_back(static_cast<char>(cp));
                    break;
                }
                default:
                    throw std::runtime_error("JSON: bad escape");
            }
        }
        if (p >= t.size()) throw std::runtime_error("JSON: unterminated string");
        ++p;
        return out;
    }
    static Json ParseValue(const std::string& t, size_t& p) {
        SkipBlanks(t, p);
        if (p >= t.size()) throw std::runtime_error("JSON: value expected");
        Json v;
        char c = t[p];
        if (c == 'n') {
            Literal(t, p, "null");
        } else if (c == 't' || c == 'f') {
            v.kind_ = Kind::kBool;
            v.bool_ = c == 't';
            Literal(t, p, v.bool_ ? "true" : "false");
        } else if (c == '"') {
            v.kind_ = Kind::kString;
            v.string_ = ParseString(t, p);
        } else if (c == '-' || (c >= '0' && c <= '9')) {
            size_t end = p + 1;
            while (end < t.size() && t[end] >= '0' && t[end] <= '9') ++end;
            v.kind_ = Kind::kNumber;
            v.number_ = std::stoll(t.substr(p, end - p));
            p = end;
        } else if (c == '[') {
            v.kind_ = Kind::kArray;
            ++p;
            SkipBlanks(t, p);
            if (p < t.size() && t[p] == ']') {
                ++p;
                return v;
            }
            for (;;) {
                v.items_.push_back(ParseValue(t, p));
                SkipBlanks(t, p);
                if (p < t.size() && t[p] == ',') {
                    ++p;
                    continue;
                }
                if (p < t.size() && t[p] == ']') {
                    ++p;
                    break;
                }
                throw std::runtime_error("JSON: ',' or ']' expected");
            }
        } else if (c == '{') {
            v.kind_ = Kind::kObject;
            ++p;
            SkipBlanks(t, p);
            if (p < t.size() && t[p] == '}') {
                ++p;
                return v;
            }
            for (;;) {
                SkipBlanks(t, p);
                std::string key = ParseString(t, p);
                SkipBlanks(t, p);
                if (p >= t.size() || t[p] != ':') throw std::runtime_error("JSON: ':' expected");
                ++p;
                if (v.members_.count(key)) throw std::runtime_error("JSON: key given twice");
                v.members_[key] = ParseValue(t, p);
                SkipBlanks(t, p);
                if (p < t.size() && t[p] == ',') {
                    ++p;
                    continue;
                }
                if (p < t.size() && t[p] == '}') {
                    ++p;
                    break;
                }
                throw std::runtime_error("JSON: ',' or '}' expected");
            }
        } else {
            throw std::runtime_error("JSON: unexpected character");
        }
        return v;
    }

    Kind kind_ = Kind::kNull;
    bool bool_ = false;
    long long number_ = 0;
    std::string string_;
    std::vector<Json> items_;
    std::map<std::string, Json> members_;
};

}  // namespace qmsec_cli
