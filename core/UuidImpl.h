// Body of Uuid and the process-wide generator.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "QmSecCore/ObjectImpl.h"
#include "QmSecCore/Uuid.h"
#include "Trace.h"

namespace QmSecCore {

class UuidImpl : public ObjectImpl {
  public:
    explicit UuidImpl(const QmXplStr::String_t& text) : text_(text) {
        QMSEC_BLOCK(QmSecCoreTrc::kCoreArea.proc, "UuidImpl Constructor");
    }
    ~UuidImpl() override { QMSEC_BLOCK(QmSecCoreTrc::kCoreArea.proc, "UuidImpl Destructor"); }
    QMSEC_DESTROY_THIS(QmSecCoreTrc::kCoreArea.proc, "UuidImpl::DestroyThis()")

    const QmXplStr::String_t& GetText() const noexcept { return text_; }

    // The generator (see Uuid::GenerateUuid).
    static Uuid Generate();

    // The clock the generator reads: seconds since 1970 and milliseconds. Tests install their
    // own to set the clock back or hold it still; null restores the system clock. The
    // generator's state (first-call flag, clock sequence, last time, counter) is reset with it.
    using Clock = void (*)(int64_t& seconds, int& milliseconds);
    static void SetClockForTesting(Clock clock);

    // The lookup of the host's hardware address that feeds the node field; nothing when the
    // host has none. Tests install their own; null restores the system's. The host facts are
    // looked up again at the next identifier.
    using HardwareAddress = std::array<unsigned char, 6>;
    using AddressLookup = std::optional<HardwareAddress> (*)();
    static void SetAddressLookupForTesting(AddressLookup lookup);

  private:
    QmXplStr::String_t text_;
};

}  // namespace QmSecCore
