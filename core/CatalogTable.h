// The catalog "sec.core": every message number of the library with its kind and default text.
#pragma once

#include <span>

#include "QmXpl/Message_t.h"

namespace QmSecCore::detail {

enum class CatalogKind { kWarning, kError, kPlain };

struct CatalogEntry {
    int number;
    CatalogKind kind;
    const char* text;
};

// Every entry in number order; number 0 appears twice (the two buffered XOR stream texts).
std::span<const CatalogEntry> CatalogEntries() noexcept;

// The message of number, built on the library's catalog with the kind and default text of the
// table (warning, error or plain). Inserts follow with operator<<. Number 0 is ambiguous and
// must be built with CatalogMessage(0, text); an unknown number is a programming error and
// gives a warning that says so.
QmXplMsg::Message_t CatalogMessage(int number);
QmXplMsg::Message_t CatalogMessage(int number, const char* defaultText);

}  // namespace QmSecCore::detail
