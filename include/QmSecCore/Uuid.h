// Identifiers in the 8-4-4-4-12 hexadecimal text form.
#pragma once

#include "QmSecCore/Export.h"
#include "QmSecCore/Object.h"
#include "QmXpl/String_t.h"

namespace QmSecCore {

class UuidImpl;

// An identifier value: a text, usually made by GenerateUuid from the clock, a clock sequence
// and a hash of host facts. Immutable; safe to share between threads. ToString and the
// comparisons throw IllegalStateError_t ("Uuid") when this or the other handle has no body.
class QMSEC_API Uuid : public Object {
  public:
    // A handle without a body.
    Uuid() noexcept = default;
    // Wraps text unchanged; no syntax check. Not explicit: a text is accepted wherever a Uuid
    // is expected.
    Uuid(const QmXplStr::String_t& text);  // NOLINT(google-explicit-constructor)
    ~Uuid() override;

    // A new identifier, unique within the process and, through the node field and clock
    // sequence, across processes and hosts: 36 lower-case characters, the third group starting
    // with 7, the fourth group's first byte below 0x40, the fifth group's first byte 0x80 or
    // above. Thread-safe (serialised process-wide).
    static Uuid GenerateUuid();

    QmXplStr::String_t ToString() const;
    bool operator==(const Uuid& other) const;
    bool operator!=(const Uuid& other) const { return !(*this == other); }
    bool operator<(const Uuid& other) const;

  private:
    UuidImpl* Body() const;
};

}  // namespace QmSecCore
