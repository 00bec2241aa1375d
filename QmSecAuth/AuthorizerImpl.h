// Body of Authorizer and the process-wide rights tables.
#pragma once

#include <cstdint>

#include "QmSecAuth/Authorizer.h"
#include "QmSecCore/ObjectImpl.h"
#include "Trace.h"

namespace QmSecAuth {

// Trace masks of the authorizer's operation lines; a line is written when all its bits are on.
constexpr uint32_t kDecisions = 9;
constexpr uint32_t kProblems = 2;
constexpr uint32_t kSkips = 1;
constexpr uint32_t kDumps = 0x19;

class AuthorizerImpl : public QmSecCore::ObjectImpl {
  public:
    // Internal rights: the role of an entity.
    static constexpr unsigned int RIGHTS_LOCAL = 0xFFFFFFFFu;
    static constexpr unsigned int RIGHT_MANAGER = 0x01u;
    static constexpr unsigned int RIGHT_DEFAULT = 0x10u;
    static constexpr unsigned int RIGHT_SECONDARY = 0x20u;
    static constexpr unsigned int RIGHT_ACTIONALLOW = 0x40u;

    // Builds the tables and registers the change handlers when this is the first body.
    AuthorizerImpl();
    ~AuthorizerImpl() override;
    QMSEC_DESTROY_THIS(QmSecCoreTrc::kAuthArea.proc, "AuthorizerImpl::DestroyThis()")

    void Update();
    bool IsAllowed(const QmXplStr::String_t& entity, const QmXplStr::String_t& consumer,
                   unsigned int rights, Authorizer::CheckMode mode);
    unsigned int GetRights(const QmXplStr::String_t& entity, const QmXplStr::String_t& consumer);
    AuthorizerSnapshot GetSnapshot();

    // For tests that switch $QMXPL_HOME: unregisters the change handlers and forgets the tables,
    // so that the next Authorizer starts over as the first of the process.
    static void ResetForTesting();

  private:
    struct NoInit {};
    // A body that skips the first-body work (the change handlers' own handles).
    explicit AuthorizerImpl(NoInit);
    friend class AuthorizerHandlers;
};

}  // namespace QmSecAuth
