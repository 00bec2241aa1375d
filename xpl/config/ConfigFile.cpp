#include "config/ConfigFile.h"

#include "config/ConfigTrace.h"

namespace QmXplConfig::detail {

namespace {

constexpr std::string_view kBlanks = " \t\r\f\v";
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

std::string_view Trim(std::string_view s) {
    size_t b = s.find_first_not_of(kBlanks);
    if (b == std::string_view::npos) return {};
    size_t e = s.find_last_not_of(kBlanks);
    return s.substr(b, e - b + 1);
}

std::string_view SkipByteOrderMark(std::string_view text) {
    if (text.substr(0, kByteOrderMark.size()) == kByteOrderMark)
        text.remove_prefix(kByteOrderMark.size());
    return text;
}

// One physical line: its text and what ended it ("\n", "\r\n", or nothing for a last line
// without a line feed).
struct RawLine {
    std::string_view body;
    std::string_view eol;
};

std::vector<RawLine> SplitLines(std::string_view text) {
    std::vector<RawLine> lines;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t nl = text.find('\n', pos);
        if (nl == std::string_view::npos) {
            lines.push_back({text.substr(pos), {}});
            break;
        }
        std::string_view body = text.substr(pos, nl - pos);
        std::string_view eol = text.substr(nl, 1);
        if (!body.empty() && body.back() == '\r') {
            body.remove_suffix(1);
            eol = text.substr(nl - 1, 2);
        }
        lines.push_back({body, eol});
        pos = nl + 1;
    }
    return lines;
}

}  // namespace

ConfigLine ClassifyLine(std::string_view line) {
    ConfigLine result;
    std::string_view t = Trim(line);
    if (t.empty()) return result;
    if (t.front() == '#' || t.front() == ';') {
        result.kind = ConfigLine::kComment;
        return result;
    }
    if (t.front() == '[') {
        std::string_view name =
            t.size() >= 2 && t.back() == ']' ? Trim(t.substr(1, t.size() - 2)) : std::string_view();
        if (name.empty() || name.find_first_of("[]") != std::string_view::npos) {
            result.kind = ConfigLine::kMalformed;
            return result;
        }
        result.kind = ConfigLine::kSection;
        result.name = name;
        return result;
    }
    size_t eq = t.find('=');
    std::string_view key =
        eq == std::string_view::npos ? std::string_view() : Trim(t.substr(0, eq));
    if (key.empty()) {
        result.kind = ConfigLine::kMalformed;
        return result;
    }
    result.kind = ConfigLine::kEntry;
    result.name = key;
    result.value = Trim(t.substr(eq + 1));
    return result;
}

void ConfigSection::Set(const std::string& key, const std::string& value) {
    auto [it, inserted] = index.emplace(key, entries.size());
    if (inserted)
        entries.emplace_back(key, value);
    else
        entries[it->second].second = value;
}

const std::string* ConfigSection::Find(const std::string& key) const {
    auto it = index.find(key);
    return it == index.end() ? nullptr : &entries[it->second].second;
}

const ConfigSection* ParsedConfig::Find(const std::string& name) const {
    auto it = sections.find(name);
    return it == sections.end() ? nullptr : &it->second;
}

ParsedConfig ParseConfigText(std::string_view text, const std::string& origin) {
    ParsedConfig parsed;
    ConfigSection* current = nullptr;
    // Why entries are being skipped, so that the trace names the cause once per line.
    const char* orphanReason = "before the first section";
    int number = 0;
    for (const RawLine& raw : SplitLines(SkipByteOrderMark(text))) {
        ++number;
        ConfigLine line = ClassifyLine(raw.body);
        switch (line.kind) {
            case ConfigLine::kBlank:
            case ConfigLine::kComment:
                break;
            case ConfigLine::kSection:
                current = &parsed.sections[std::string(line.name)];
                break;
            case ConfigLine::kEntry:
                if (current) {
                    current->Set(std::string(line.name), std::string(line.value));
                } else {
                    QMXPL_CONFIG_TRACE(kTraceProblem, "Skipping line " + std::to_string(number) +
                                                          " of '" + origin + "': entry " +
                                                          orphanReason);
                }
                break;
            case ConfigLine::kMalformed:
                QMXPL_CONFIG_TRACE(kTraceProblem, "Skipping malformed line " +
                                                      std::to_string(number) + " of '" + origin +
                                                      "': " + std::string(raw.body));
                if (Trim(raw.body).front() == '[') {
                    // The entries below belong to a section nobody can name: keep them out of
                    // the previous one.
                    current = nullptr;
                    orphanReason = "under a malformed section line";
                }
                break;
        }
    }
    return parsed;
}

std::string EditConfigText(std::string_view text, const std::string& section,
                           const std::string& key, const std::string* value, bool& changed) {
    changed = false;
    std::string_view bom;
    if (text.substr(0, kByteOrderMark.size()) == kByteOrderMark) {
        bom = text.substr(0, kByteOrderMark.size());
        text.remove_prefix(bom.size());
    }
    std::vector<RawLine> lines = SplitLines(text);
    std::string_view newline = "\n";
    for (const RawLine& l : lines) {
        if (!l.eol.empty()) {
            newline = l.eol;
            break;
        }
    }

    // Find the lines of the key, and the last line that belongs to the section.
    std::vector<bool> isKeyLine(lines.size(), false);
    long lastKeyLine = -1;
    long lastSectionLine = -1;
    std::string_view currentValue;
    bool inSection = false;
    for (size_t i = 0; i < lines.size(); ++i) {
        ConfigLine line = ClassifyLine(lines[i].body);
        if (line.kind == ConfigLine::kSection) {
            inSection = line.name == section;
        } else if (line.kind == ConfigLine::kMalformed && Trim(lines[i].body).front() == '[') {
            inSection = false;  // as the parser does: nothing below it is read
        }
        if (!inSection) continue;
        if (line.kind == ConfigLine::kSection) {
            lastSectionLine = static_cast<long>(i);
        } else if (line.kind == ConfigLine::kEntry) {
            lastSectionLine = static_cast<long>(i);
            if (line.name == key) {
                isKeyLine[i] = true;
                lastKeyLine = static_cast<long>(i);
                currentValue = line.value;
            }
        }
    }

    std::string out(bom);
    out.reserve(bom.size() + text.size() + key.size() + (value ? value->size() : 0) + 64);
    const std::string entry = value ? key + "=" + *value : std::string();

    if (!value) {
        for (size_t i = 0; i < lines.size(); ++i) {
            if (isKeyLine[i]) {
                changed = true;
                continue;
            }
            out.append(lines[i].body).append(lines[i].eol);
        }
        return out;
    }

    if (lastKeyLine >= 0 && currentValue == *value) return std::string(bom) + std::string(text);
    changed = true;

    if (lastKeyLine < 0 && lastSectionLine < 0) {
        // A new section at the end, set off by a blank line.
        out.append(text);
        if (!lines.empty()) {
            if (lines.back().eol.empty()) out.append(newline);
            if (!Trim(lines.back().body).empty()) out.append(newline);
        }
        out.append("[").append(section).append("]").append(newline);
        out.append(entry).append(newline);
        return out;
    }

    for (size_t i = 0; i < lines.size(); ++i) {
        if (static_cast<long>(i) == lastKeyLine) {
            out.append(entry).append(lines[i].eol.empty() ? newline : lines[i].eol);
            continue;
        }
        out.append(lines[i].body);
        if (lastKeyLine < 0 && static_cast<long>(i) == lastSectionLine) {
            out.append(lines[i].eol.empty() ? newline : lines[i].eol);
            out.append(entry).append(newline);
        } else {
            out.append(lines[i].eol);
        }
    }
    return out;
}

}  // namespace QmXplConfig::detail
