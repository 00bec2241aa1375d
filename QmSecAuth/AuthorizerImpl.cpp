#include "AuthorizerImpl.h"

#include <mutex>
#include <vector>

#include "AuthorizerRebuild.h"
#include "QmXpl/ChangedConfiguration_t.h"
#include "QmXpl/ConfigChangeHandler_i.h"
#include "QmXpl/ConfigNamespace_t.h"
#include "QmXpl/Dir_t.h"
#include "QmXpl/Mutex_t.h"
#include "QmXpl/RwLock_t.h"

namespace QmSecAuth {

class AuthorizerHandlers;

using QmSecCoreTrc::kAuthArea;
using QmXplMsg::Exception_t;
using QmXplStr::NumToStr;
using QmXplStr::String_t;

namespace {

// The process-wide tables and what guards them. Created on first use and never destroyed: change
// handlers may run on the configuration service's thread while the process ends.
struct State {
    QmXplSync::RwLock_t lock;  // over the tables and the problems
    AuthorizerTables tables;
    std::vector<String_t> problems;  // what the last Update reported
    QmXplSync::Mutex_t readerMutex;  // around the policy data reader
    std::mutex initMutex;            // the first body's work
    bool initialised = false;
    AuthorizerHandlers* handlers = nullptr;
    String_t policyDirectory =
        QmXplRuntime::Dir_t::Path(QmXplRuntime::Dir_t::eData, String_t("policies/mgrconf"));
};

State& TheState() {
    static State* state = new State;
    return *state;
}

String_t MessageText(const Exception_t& e) {
    return e.GetMessageList().Format(QmXplMsg::kFormatNumber | QmXplMsg::kFormatDetails |
                                     QmXplMsg::kFormatOneLine);
}

}  // namespace

// Rebuilds the tables when the authorization manager changes.
class AuthorizerHandlers {
  public:
    class ManagerChange : public QmXplConfig::ConfigChangeHandler_i {
      public:
        void Update(const QmXplConfig::ChangedConfiguration_t& changes) override {
            if (changes.HasChanged(String_t("MANAGER_ID"))) authorizer_.Update();
        }

      private:
        Authorizer authorizer_{new AuthorizerImpl(AuthorizerImpl::NoInit{})};
    };

    // Keeps the local core id that IsAllowed compares with in step with the configuration.
    class LocalIdChange : public QmXplConfig::ConfigChangeHandler_i {
      public:
        void Update(const QmXplConfig::ChangedConfiguration_t& changes) override {
            if (!changes.HasChanged(String_t("CORE_ID"))) return;
            String_t id = changes.GetConfiguration().GetValue(String_t("CORE_ID"));
            State& s = TheState();
            QmXplSync::WriteLock_t lock(s.lock);
            s.tables.localId = id.IsEmpty() ? String_t() : id;
        }
    };

    ManagerChange manager;
    LocalIdChange localId;
};

// --- handle ----------------------------------------------------------------------------------

Authorizer::Authorizer() : Object(new AuthorizerImpl) {}
Authorizer::Authorizer(AuthorizerImpl* body) noexcept : Object(body) {}
Authorizer::~Authorizer() = default;
AuthorizerImpl* Authorizer::Body() const {
    return GetBody<AuthorizerImpl>("Authorizer", eAuthArea);
}
void Authorizer::Update() const { Body()->Update(); }
bool Authorizer::IsAllowed(const String_t& entity, const String_t& consumer, unsigned int rights,
                           CheckMode mode) const {
    return Body()->IsAllowed(entity, consumer, rights, mode);
}
unsigned int Authorizer::GetRights(const String_t& entity, const String_t& consumer) const {
    return Body()->GetRights(entity, consumer);
}
AuthorizerSnapshot Authorizer::GetSnapshot() const { return Body()->GetSnapshot(); }

// --- body ------------------------------------------------------------------------------------

AuthorizerImpl::AuthorizerImpl(NoInit) {}

AuthorizerImpl::AuthorizerImpl() {
    QMSEC_BLOCK(kAuthArea.proc, "AuthorizerImpl::AuthorizerImpl()");
    State& s = TheState();
    std::lock_guard<std::mutex> lock(s.initMutex);
    if (s.initialised) return;
    Update();
    s.initialised = true;
    if (!s.handlers) {
        auto* handlers = new AuthorizerHandlers;
        QmXplConfig::ConfigNamespace_t(AuthorizerRebuild::kAuthNamespace)
            .Register(&handlers->manager);
        QmXplConfig::ConfigNamespace_t(AuthorizerRebuild::kCoreNamespace)
            .Register(&handlers->localId);
        s.handlers = handlers;
    }
}

AuthorizerImpl::~AuthorizerImpl() {
    QMSEC_TRACE(kAuthArea.operation, kDecisions, "~AuthorizerImpl()");
}

void AuthorizerImpl::Update() {
    QMSEC_BLOCK(kAuthArea.proc, "AuthorizerImpl::Update()");
    State& s = TheState();
    QmXplSync::WriteLock_t lock(s.lock);
    s.problems.clear();
    try {
        AuthorizerRebuild(s.tables, s.policyDirectory, s.readerMutex).Run();
    } catch (const QmXplMsg::IllegalStateError_t& e) {
        QMSEC_TRACE(kAuthArea.operation, kDumps, MessageText(e));
    } catch (const Exception_t& e) {
        // Update never fails its caller (constructors and the change handler rely on it); the
        // tables keep what was built, and the snapshot shows what went wrong.
        QMSEC_TRACE(kAuthArea.operation, kDumps,
                    "Unexpected exception while reading authorization policies");
        s.problems.push_back(MessageText(e));
        QMSEC_TRACE(kAuthArea.operation, kDumps, s.problems.back());
    }
}

bool AuthorizerImpl::IsAllowed(const String_t& entity, const String_t& consumer,
                               unsigned int rights, Authorizer::CheckMode mode) {
    QMSEC_BLOCK(kAuthArea.proc, "AuthorizerImpl::IsAllowed()");
    QMSEC_TRACE(kAuthArea.operation, kDecisions,
                "Parameters: IsAllowed(" << entity << ", " << consumer << NumToStr(rights, ", 0x%x")
                                         << NumToStr(static_cast<int>(mode), ", 0x%x)"));
    State& s = TheState();
    bool allowed;
    {
        QmXplSync::ReadLock_t lock(s.lock);
        if (!s.tables.localId.IsNull() && entity == s.tables.localId) return true;
        auto it = s.tables.consumer.find(KeyRef{entity, consumer});
        if (it == s.tables.consumer.end()) {
            allowed = false;
        } else if (mode == Authorizer::CHECK_ANY) {
            allowed = (rights & it->second) != 0;
        } else {
            allowed = (rights & it->second) == rights;
        }
    }
    QMSEC_TRACE(kAuthArea.operation, kDecisions,
                "AuthorizerImpl::IsAllowed(" << entity << ", " << consumer
                                             << NumToStr(rights, ", 0x%x) returns ")
                                             << (allowed ? "'true'" : "'false'"));
    return allowed;
}

unsigned int AuthorizerImpl::GetRights(const String_t& entity, const String_t& consumer) {
    QMSEC_BLOCK(kAuthArea.proc, "AuthorizerImpl::GetRights()");
    QMSEC_TRACE(kAuthArea.operation, kDecisions,
                "Parameters: GetRights(" << entity << ", " << consumer << ")");
    State& s = TheState();
    unsigned int rights = 0;
    bool found;
    {
        QmXplSync::ReadLock_t lock(s.lock);
        auto it = s.tables.consumer.find(KeyRef{entity, consumer});
        found = it != s.tables.consumer.end();
        if (found) rights = it->second;
    }
    if (!found) {
        QMSEC_TRACE(kAuthArea.operation, kDecisions,
                    "AuthorizerImpl::GetRights(" << entity << ", " << consumer << ") returns 0x0");
    } else {
        QMSEC_TRACE(kAuthArea.operation, kDecisions,
                    "AuthorizerImpl::GetRights(" << entity << ", " << consumer
                                                 << NumToStr(rights, ") returns 0x%x"));
    }
    return rights;
}

AuthorizerSnapshot AuthorizerImpl::GetSnapshot() {
    QMSEC_BLOCK(kAuthArea.proc, "AuthorizerImpl::GetSnapshot()");
    State& s = TheState();
    AuthorizerSnapshot snapshot;
    QmXplSync::ReadLock_t lock(s.lock);
    snapshot.policyDirectory = s.policyDirectory;
    snapshot.entities.reserve(s.tables.internal.size());
    for (const auto& [id, rights] : s.tables.internal) snapshot.entities.push_back({id, rights});
    snapshot.consumerRights.reserve(s.tables.consumer.size());
    for (const auto& [key, rights] : s.tables.consumer)
        snapshot.consumerRights.push_back({key.first, key.second, rights});
    snapshot.problems = s.problems;
    return snapshot;
}

void AuthorizerImpl::ResetForTesting() {
    State& s = TheState();
    std::lock_guard<std::mutex> init(s.initMutex);
    if (s.handlers) {
        QmXplConfig::ConfigNamespace_t(AuthorizerRebuild::kAuthNamespace)
            .Unregister(&s.handlers->manager);
        QmXplConfig::ConfigNamespace_t(AuthorizerRebuild::kCoreNamespace)
            .Unregister(&s.handlers->localId);
        delete s.handlers;
        s.handlers = nullptr;
    }
    QmXplSync::WriteLock_t lock(s.lock);
    s.tables.internal.clear();
    s.tables.consumer.clear();
    s.tables.localId = String_t();
    s.problems.clear();
    s.initialised = false;
    s.policyDirectory =
        QmXplRuntime::Dir_t::Path(QmXplRuntime::Dir_t::eData, String_t("policies/mgrconf"));
}

}  // namespace QmSecAuth
