// Reading and editing the text of a configuration file (format: see QmXpl/ConfigNamespace_t.h).
// Pure text functions: no file access, no locks, so the parser and the editor can be tested on
// their own and the service can run them under whatever lock it holds.
#pragma once

#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace QmXplConfig::detail {

// What one line of a configuration file is. The views point into the line passed in.
struct ConfigLine {
    enum Kind { kBlank, kComment, kSection, kEntry, kMalformed };
    Kind kind = kBlank;
    std::string_view name;   // section name (kSection) or key (kEntry), trimmed
    std::string_view value;  // value (kEntry), trimmed
};

// Classifies one line, given without its line feed (a trailing carriage return is ignored).
ConfigLine ClassifyLine(std::string_view line);

// The keys of one section, in the order of their first appearance; a key given twice keeps its
// first position and its last value.
struct ConfigSection {
    std::vector<std::pair<std::string, std::string>> entries;
    std::unordered_map<std::string, size_t> index;

    void Set(const std::string& key, const std::string& value);
    const std::string* Find(const std::string& key) const;
};

// A parsed file: its sections by name. A section named twice is one section.
struct ParsedConfig {
    std::unordered_map<std::string, ConfigSection> sections;

    const ConfigSection* Find(const std::string& name) const;
};

// Parses file text. Never fails: a malformed line is skipped and traced with origin (the file
// name) and its line number; so are entries before the first section and entries under a
// malformed section line, which would otherwise land in a namespace they were not written for.
// A leading UTF-8 byte order mark is ignored.
ParsedConfig ParseConfigText(std::string_view text, const std::string& origin);

// Edits file text: sets key in section to *value, or removes every line of key in section when
// value is null. Every other line stays as it was, byte for byte. A changed key keeps its line
// (the last one when the key is given twice, since that one is in force); a new key goes after
// the last entry of the section; a new section is appended at the end, after a blank line. New
// lines end like the file's lines do (CR LF when the file uses CR LF). Returns the new text and
// sets changed to false when the text already said so (nothing to write).
std::string EditConfigText(std::string_view text, const std::string& section,
                           const std::string& key, const std::string* value, bool& changed);

}  // namespace QmXplConfig::detail
