#include "Json.h"

#include <cstdio>

namespace qmsec {

JsonValue::JsonValue(const QmXplStr::String_t& s) {
    if (!s.IsNull()) {
        kind_ = Kind::kString;
        string_ = s.ToUtf8();
    }
}

JsonValue& JsonValue::Set(const std::string& key, JsonValue value) {
    for (auto& member : members_) {
        if (member.first == key) {
            member.second = std::move(value);
            return *this;
        }
    }
    members_.emplace_back(key, std::move(value));
    return *this;
}

JsonValue& JsonValue::Push(JsonValue value) {
    items_.push_back(std::move(value));
    return *this;
}

std::string JsonValue::Dump() const {
    std::string out;
    DumpInto(out, 0);
    return out;
}

void JsonValue::DumpInto(std::string& out, int depth) const {
    // An array or object: its entries one a line, indented one level deeper; empty on one line.
    auto container = [&out, depth](char open, char close, size_t count, const auto& entry) {
        out.push_back(open);
        for (size_t i = 0; i < count; ++i) {
            if (i) out.push_back(',');
            out.push_back('\n');
            out.append(static_cast<size_t>(depth + 1) * 2, ' ');
            entry(i);
        }
        if (count) {
            out.push_back('\n');
            out.append(static_cast<size_t>(depth) * 2, ' ');
        }
        out.push_back(close);
    };
    switch (kind_) {
        case Kind::kNull:
            out += "null";
            break;
        case Kind::kBool:
            out += bool_ ? "true" : "false";
            break;
        case Kind::kNumber:
            out += std::to_string(number_);
            break;
        case Kind::kString:
            out += JsonQuote(string_);
            break;
        case Kind::kArray:
            container('[', ']', items_.size(),
                      [&](size_t i) { items_[i].DumpInto(out, depth + 1); });
            break;
        case Kind::kObject:
            container('{', '}', members_.size(), [&](size_t i) {
                out += JsonQuote(members_[i].first);
                out += ": ";
                members_[i].second.DumpInto(out, depth + 1);
            });
            break;
    }
}

std::string JsonQuote(const std::string& text) {
    // Going through the layer's UTF-8 decoder turns every malformed sequence into U+FFFD.
    std::string valid = QmXplStr::String_t(text).ToUtf8();
    std::string out = "\"";
    for (unsigned char c : valid) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (c < 0x20 || c == 0x7f) {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\u%04x", c);
                    out += buf;
                } else {
                    out.push_back(static_cast<char>(c));
                }
        }
    }
    out.push_back('"');
    return out;
}

}  // namespace qmsec
