// Builds the authorizer's tables from the node's configuration and the installed policies.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "AuthorizerTables.h"
#include "QmSecAuth/PolicyData.h"
#include "QmXpl/ConfigNamespace_t.h"
#include "QmXpl/Message_t.h"
#include "QmXpl/Mutex_t.h"
#include "QmXpl/SAXParser_t.h"

namespace QmSecAuth {

// One run over the configuration and the policy directory. The caller holds the write lock over
// the tables for the whole run; the policy data reader is additionally serialised by readerMutex.
class AuthorizerRebuild {
  public:
    // The namespaces of this node's core id and of its authorization manager: the tables are
    // built from them, and the authorizer watches them for changes.
    static const QmXplConfig::ConfigNamespace_t kCoreNamespace;
    static const QmXplConfig::ConfigNamespace_t kAuthNamespace;

    AuthorizerRebuild(AuthorizerTables& tables, const QmXplStr::String_t& policyDirectory,
                      QmXplSync::Mutex_t& readerMutex);

    // Clears the tables and fills them anew. Bad policies and configuration are collected while
    // the run goes on and then thrown together as one AuthorizationPolicyException (message 8);
    // the tables keep what was built.
    void Run();

  private:
    using FilePtr = std::unique_ptr<FILE, int (*)(FILE*)>;

    void Fail(const QmXplMsg::Message_t& m);
    void ReadLocalIds();
    // Gives the entity named by key of ns the rights (role names it in the trace); an unset key
    // traces missing instead. Returns the id read.
    QmXplStr::String_t AddInternalEntity(const QmXplConfig::ConfigNamespace_t& ns, const char* key,
                                         unsigned int rights, const char* role,
                                         const std::string& missing);
    void ScanPolicies();
    bool OpenHeader(const QmXplStr::String_t& path, QmXplIo::InputStream_t& in);
    void ReadPolicy(const QmXplStr::String_t& headerPath);
    FilePtr OpenDataFile(const QmXplStr::String_t& path, const QmXplStr::String_t& headerPath);
    void ReadDataFile(const QmXplStr::String_t& path, const QmXplStr::String_t& headerPath);
    void AddManagers(const pblib_cfg_list& list);
    void AddNode(const pblib_node& node, unsigned int right);
    void ApplyMappings();
    void Map(const QmXplStr::String_t& entity, const QmXplStr::String_t& ns,
             const QmXplConfig::Configuration_t& config);
    void Dump();

    AuthorizerTables& tables_;
    const QmXplStr::String_t& policyDirectory_;
    QmXplSync::Mutex_t& readerMutex_;
    QmXplXml::SAXParser_t parser_;  // one parser for every header of this run
    std::string realDirectory_;     // the policy directory with its links resolved
    QmXplMsg::MessageList_t errors_;
    bool failed_ = false;
};

}  // namespace QmSecAuth
