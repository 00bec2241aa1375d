// The authorizer's two rights tables, as the rebuild fills them and the body answers from them.
#pragma once

#include <map>
#include <tuple>
#include <utility>

#include "QmXpl/String_t.h"

namespace QmSecAuth {

// The consumer map is keyed by the pair (entity, consumer), never by the two texts run
// together: joined, the entity "ab" with the consumer "c" and the entity "a" with the consumer
// "bc" would be one entry, and an entity that is unknown or empty would receive the rights of
// any entity whose id its consumer name happens to continue. Lookups compare a pair of
// references, so IsAllowed copies neither text.
using ConsumerKey = std::pair<QmXplStr::String_t, QmXplStr::String_t>;

struct KeyRef {
    const QmXplStr::String_t& entity;
    const QmXplStr::String_t& consumer;
};

struct KeyLess {
    using is_transparent = void;
    using Tied = std::tuple<const QmXplStr::String_t&, const QmXplStr::String_t&>;
    static Tied Tie(const ConsumerKey& k) { return {k.first, k.second}; }
    static Tied Tie(const KeyRef& k) { return {k.entity, k.consumer}; }
    template <class X, class Y>
    bool operator()(const X& x, const Y& y) const {
        return Tie(x) < Tie(y);
    }
};

struct AuthorizerTables {
    // The role of each entity (AuthorizerImpl::RIGHTS_LOCAL, RIGHT_MANAGER, ...).
    std::map<QmXplStr::String_t, unsigned int> internal;
    // The rights mapped to each entity on each consumer.
    std::map<ConsumerKey, unsigned int, KeyLess> consumer;
    // This node's core id as the configuration holds it in memory, kept here so that IsAllowed
    // answers for the node itself under the lock it takes anyway.
    QmXplStr::String_t localId;
};

}  // namespace QmSecAuth
