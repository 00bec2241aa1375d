// What the stream bodies of SslSocket and SslConnection share: the engine they keep alive, the
// open state, and the two steps they take alike.
#pragma once

#include <exception>

#include "QmXpl/RefCounted_t.h"
#include "Trace.h"

namespace QmSecSsl::detail {

// Base is the platform's input or output stream body; Engine is SslSocketImpl or
// SslConnectionImpl.
template <class Base, class Engine>
class EngineStreamBody : public Base {
  protected:
    explicit EngineStreamBody(Engine* engine) : engine_(engine) {}

    // The plaintext the engine has decrypted already (0 once closed), traced as
    // "<who>: SSL: Available(): N".
    int PendingCount(const char* who) const {
        int count = open_ ? engine_->Pending() : 0;
        QMSEC_TRACE(QmSecCoreTrc::kSslArea.operation, QmSecCoreTrc::kLevelOperation,
                    who << ": SSL: Available(): " << count);
        return count;
    }

    // Closes the stream after a failed transfer whose own failure follows: what Close throws is
    // traced after context ("<who>: shutdown after a failed write: ") instead.
    void CloseAfterFailure(const char* context) {
        try {
            this->Close();
        } catch (const std::exception& e) {
            QMSEC_TRACE(QmSecCoreTrc::kSslArea.operation, QmSecCoreTrc::kLevelOperation,
                        context << e.what());
        }
    }

    QmXplRef::Ref_t<Engine> engine_;
    bool open_ = true;
};

}  // namespace QmSecSsl::detail
