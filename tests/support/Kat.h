// Known-answer vector files and the ways a driver feeds a vector: whole, in random pieces.
//
// A vector file holds one vector per line, fields separated by '|' (blanks around them are
// trimmed); '#' starts a comment line. Byte fields are written as
//   text:<characters>        the characters as they stand
//   hex:<hex digits>         the bytes
//   repeat:<text>:<count>    the text repeated count times
#pragma once

#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/Command.h"

namespace qmsec_test {

using KatLine = std::vector<std::string>;

inline std::string Trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t\r"), e = s.find_last_not_of(" \t\r");
    return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
}

inline std::vector<KatLine> ReadKatFile(const std::string& path) {
    std::ifstream in(path);
    if (!in) throw std::runtime_error("cannot open vector file " + path);
    std::vector<KatLine> lines;
    std::string line;
    while (std::getline(in, line)) {
        if (Trim(line).empty() || Trim(line)[0] == '#') continue;
        KatLine fields;
        std::stringstream s(line);
        std::string field;
        while (std::getline(s, field, '|')) fields.push_back(Trim(field));
        lines.push_back(fields);
    }
    if (lines.empty()) throw std::runtime_error("no vectors in " + path);
    return lines;
}

inline std::string KatBytes(const std::string& field) {
    if (field.rfind("text:", 0) == 0) return field.substr(5);
    if (field.rfind("hex:", 0) == 0) return Unhex(field.substr(4));
    if (field.rfind("repeat:", 0) == 0) {
        size_t colon = field.rfind(':');
        std::string unit = field.substr(7, colon - 7);
        size_t count = std::stoul(field.substr(colon + 1));
        std::string out;
        out.reserve(unit.size() * count);
        for (size_t i = 0; i < count; ++i) out += unit;
        return out;
    }
    throw std::runtime_error("unknown byte field: " + field);
}

// Splits data into pieces of random sizes (0 included) for feeding a streaming interface.
inline std::vector<std::string> RandomPieces(const std::string& data, std::mt19937& rng,
                                             size_t maxPiece = 0) {
    if (maxPiece == 0) maxPiece = data.size() < 64 ? 8 : data.size() / 4 + 1;
    std::uniform_int_distribution<size_t> size(0, maxPiece);
    std::vector<std::string> pieces;
    size_t at = 0;
    while (at < data.size()) {
        size_t n = std::min(size(rng), data.size() - at);
        pieces.push_back(data.substr(at, n));
        at += n;
    }
    return pieces;
}

}  // namespace qmsec_test
