// Whether an entity may do something to a consumer.
#pragma once

#include "QmSecAuth/AuthorizerSnapshot.h"
#include "QmSecCore/Export.h"
#include "QmSecCore/Object.h"
#include "QmXpl/String_t.h"

namespace QmSecAuth {

class AuthorizerImpl;

// Answers whether an entity (a node of the management domain, named by its core id) holds rights
// on a consumer (a component, named by its configuration namespace). The answers come from two
// process-wide tables that Update builds from the node's configuration ("sec.core" CORE_ID,
// "sec.core.auth" MANAGER_ID), the installed manager-configuration policies
// ($QMXPL_HOME/data/policies/mgrconf) and the mapping namespaces
// "sec.core.auth.mapping.{manager,default,secondary,actionallow}". Every Authorizer shares those
// tables; any thread may call any method. The first Authorizer of the process builds the tables
// and rebuilds them whenever MANAGER_ID changes. A handle without a body throws
// IllegalStateError_t ("Authorizer") from every method.
//
// Policy files: a header (*.xml) names its data file by a path relative to the policy directory
// ("site.dat", "sub/site.dat"). An absolute name, a name with a ".." component, and a name that
// leads out of the directory through a symbolic link are refused (message 177); the data file
// must be a regular file. A header may have at most 1 MiB (1048576 bytes), a data file at most
// 64 MiB (67108864 bytes); a larger one is refused with a message that says so, before it is
// parsed. Every refusal is traced and leaves out that policy only.
class QMSEC_API Authorizer : public QmSecCore::Object {
  public:
    enum CheckMode : int { CHECK_ALL = 0, CHECK_ANY = 1 };

    // Builds the tables if this is the first Authorizer of the process. Never throws for a bad
    // policy or configuration: those are traced and leave the tables with what could be read.
    Authorizer();
    ~Authorizer() override;

    // Rebuilds both tables. Failures are traced, never thrown.
    void Update() const;
    // True when entity is this node itself, or when the rights mapped to entity on consumer
    // hold all of rights (CHECK_ALL; any other mode value counts as CHECK_ALL) or one of them
    // (CHECK_ANY).
    bool IsAllowed(const QmXplStr::String_t& entity, const QmXplStr::String_t& consumer,
                   unsigned int rights, CheckMode mode) const;
    // The rights mapped to entity on consumer; 0 when none. No shortcut for this node itself.
    unsigned int GetRights(const QmXplStr::String_t& entity,
                           const QmXplStr::String_t& consumer) const;
    // A copy of both tables and of the problems of the last rebuild, for showing them. It is
    // taken under the lock that Update holds while it rebuilds, so it is always one whole
    // rebuild. It does not rebuild: the tables are those of the first Authorizer's or the last
    // Update's run.
    AuthorizerSnapshot GetSnapshot() const;

    // Wraps an existing body (for the library's own change handler).
    explicit Authorizer(AuthorizerImpl* body) noexcept;

  private:
    AuthorizerImpl* Body() const;
};

}  // namespace QmSecAuth
