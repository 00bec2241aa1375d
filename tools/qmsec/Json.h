// The small JSON values that qmsec prints with --json.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "QmXpl/String_t.h"

namespace qmsec {

// A JSON value built by the commands and printed once. Objects keep their keys in the order they
// were set, so the output reads like the text form.
class JsonValue {
  public:
    enum class Kind { kNull, kBool, kNumber, kString, kArray, kObject };

    JsonValue() = default;  // null
    JsonValue(bool b) : kind_(Kind::kBool), bool_(b) {}
    JsonValue(int n) : kind_(Kind::kNumber), number_(n) {}
    JsonValue(unsigned int n) : kind_(Kind::kNumber), number_(n) {}
    JsonValue(long long n) : kind_(Kind::kNumber), number_(n) {}
    JsonValue(const char* s) : kind_(Kind::kString), string_(s ? s : "") {}
    JsonValue(std::string s) : kind_(Kind::kString), string_(std::move(s)) {}
    JsonValue(const QmXplStr::String_t& s);  // the null string becomes JSON null

    static JsonValue Array() { return JsonValue(Kind::kArray); }
    static JsonValue Object() { return JsonValue(Kind::kObject); }

    Kind GetKind() const noexcept { return kind_; }
    // Sets a member of an object (replacing one of the same name) and returns the object.
    JsonValue& Set(const std::string& key, JsonValue value);
    // Appends to an array and returns the array.
    JsonValue& Push(JsonValue value);
    size_t Size() const noexcept {
        return kind_ == Kind::kObject ? members_.size() : items_.size();
    }

    // The value as JSON text, indented by two blanks per level, without a final line feed.
    std::string Dump() const;

  private:
    explicit JsonValue(Kind kind) : kind_(kind) {}
    void DumpInto(std::string& out, int depth) const;

    Kind kind_ = Kind::kNull;
    bool bool_ = false;
    long long number_ = 0;
    std::string string_;
    std::vector<JsonValue> items_;
    std::vector<std::pair<std::string, JsonValue>> members_;
};

// Text as a JSON string literal, quotes included. Bytes that are not valid UTF-8 are written
// as U+FFFD, so the output is always valid JSON.
std::string JsonQuote(const std::string& text);

}  // namespace qmsec
