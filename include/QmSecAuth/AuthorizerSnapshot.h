// A copy of the authorizer's tables, taken at one moment.
#pragma once

#include <vector>

#include "QmXpl/String_t.h"

namespace QmSecAuth {

// The process-wide tables of the authorizer as they stood at one moment (Authorizer::GetSnapshot),
// for tools and diagnostics that show them. It is copied under the authorizer's lock, so it never
// holds part of one rebuild and part of another. A plain value: it shares nothing with the
// authorizer and does not follow later rebuilds.
struct AuthorizerSnapshot {
    // An entity of the internal table with the rights of its roles: 0xFFFFFFFF for this node
    // itself, else an OR of 0x01 (authorization manager), 0x10 (default manager), 0x20 (secondary
    // manager) and 0x40 (action-allowed manager).
    struct Entity {
        QmXplStr::String_t id;  // the entity's core id
        unsigned int rights = 0;
    };

    // The rights mapped to an entity on a consumer. Entity and consumer are two fields, as the
    // authorizer keys them: ("ab", "c") and ("a", "bc") are different rows.
    struct ConsumerRights {
        QmXplStr::String_t entity;    // an id of the internal table
        QmXplStr::String_t consumer;  // a namespace, named by a mapping attribute
        unsigned int rights = 0;      // what GetRights(entity, consumer) answers
    };

    // The directory the policies were read from.
    QmXplStr::String_t policyDirectory;
    // Ordered by id.
    std::vector<Entity> entities;
    // Ordered by entity, then consumer.
    std::vector<ConsumerRights> consumerRights;
    // The problems the last rebuild reported: at most one text, the catalog message with its
    // number and each problem (a policy that could not be read, ...) as a detail, on one line.
    // Empty when there were none. The tables hold what could be read despite them.
    std::vector<QmXplStr::String_t> problems;
};

}  // namespace QmSecAuth
