// A namespace of the node's configuration: its snapshots, its change handlers, and its editing.
//
// Files. The configuration of a node lives in $QMXPL_HOME/conf/config.ini ($HOME/.qm when
// QMXPL_HOME is not set; it is looked up once, when the configuration is first used). A resource
// group G has its own file $QMXPL_HOME/conf/G/config.ini; a
// namespace opened for G takes every key from G's file and, key by key, falls back to the
// default file for the keys G's file does not give.
//
// Format (UTF-8 text; a leading byte order mark is ignored):
//
//     # comment, also "; comment" (only whole lines: a '#' after a value is part of the value)
//     [sec.core]                  a section: the namespace it names, up to the next section
//     CORE_ID = 7f3e...           KEY=value; blanks around key and value are dropped, the value
//     URL=https://x/?a=b          is everything after the first '=' (it may contain '=')
//     EMPTY=                      present, with the empty value
//
// - Lines end with LF or CR LF. Blank lines are ignored.
// - Section names and keys are case-sensitive. A section named twice is one section; a key given
//   twice in a namespace keeps the position of its first line and the value of its last.
// - A line that is none of the above (no '=', an empty key, a section line without its ']') is
//   skipped and traced on "qmxpl.config"; it never makes the rest of the file unusable. Entries
//   before the first section, and entries below a malformed section line, are skipped too, so
//   that no key lands in a namespace it was not written for.
// - A missing file is an empty configuration. One that cannot be read (no permission, not a
//   regular file, larger than 4 MiB) is traced, and never taken for an empty one: a process that
//   has read the file before keeps what it read last, and one that never read it gets an
//   IOException_t from Open() until the file can be read.
//
// Snapshots and changes. The files are read on first use and then kept in memory: Open() never
// touches the disk after the first time, so it may be called on every request from any number
// of threads. A service thread, started on the first Open or Register, watches the files
// (inotify on the directories, plus a check of every file's identity, size and modification time
// at least once a second) and replaces the snapshot of each namespace whose keys changed in one
// step: a reader sees the old or the new snapshot, never a mix. It then calls the change handlers
// registered for that namespace on that thread (see ConfigChangeHandler_i). A change made with
// SetValue or RemoveValue is in the snapshots when the call returns, and reaches the handlers on
// the service thread like a change made by another process. The thread does not hold up the end
// of the process: it is stopped when the process exits (or the library is unloaded), waiting at
// most two seconds for a handler that is still running. A child made by fork() that does not
// exec must not use the configuration: its locks may have been held by that thread at the fork.
#pragma once

#include <atomic>

#include "QmXpl/ConfigChangeHandler_i.h"
#include "QmXpl/Configuration_t.h"
#include "QmXpl/Export.h"
#include "QmXpl/String_t.h"

namespace QmXplConfig {

using QmXplStr::String_t;

class NamespaceState_t;

// A handle on one namespace of one resource group. Constructing one only stores the names: it
// touches no file and starts no thread, so namespaces may be static objects of a library. The
// names are checked on first use. Copies refer to the same namespace.
class QMXPL_API ConfigNamespace_t {
  public:
    // name: the namespace ("sec.core"); group: the resource group, null or empty for the
    // default. Does not throw except for lack of memory.
    explicit ConfigNamespace_t(const String_t& name, const String_t& group = String_t());
    ConfigNamespace_t(const ConfigNamespace_t& other);
    ConfigNamespace_t& operator=(const ConfigNamespace_t& other);
    ~ConfigNamespace_t();

    const String_t& GetName() const noexcept { return name_; }
    const String_t& GetGroup() const noexcept { return group_; }

    // The current snapshot of the namespace. The first use reads the files (a missing file gives
    // an empty configuration); later calls are served from memory. Throws IOException_t while a
    // file of the namespace cannot be read and was never read before, IllegalArgumentError_t when
    // the names are unusable: an empty name, a name with
    // '[', ']' or a control character, or a group that is not a plain directory name ('/',
    // "." and ".." are refused).
    Configuration_t Open() const;
    // The same for a namespace named on the spot.
    static Configuration_t Open(const String_t& name, const String_t& group = String_t());

    // Adds handler (not owned) to the handlers of this namespace; registering a handler that is
    // already registered here does nothing. Changes seen from now on are delivered to it.
    // Throws IllegalArgumentError_t for a null handler or unusable names.
    void Register(ConfigChangeHandler_i* handler);
    // Removes handler. When the service thread is running a callback of handler, waits until it
    // has returned, so the caller may delete the handler afterwards; called on the service thread
    // (from inside a callback, also the handler's own), it removes without waiting. A handler
    // that is not registered is ignored. Do not hold a lock that the handler's callback takes.
    void Unregister(ConfigChangeHandler_i* handler);

    // Sets key to value in the file of this namespace's group (the default file when there is
    // none), creating the directories and the file when they are missing. The file is rewritten
    // as a whole and replaces the old one in one step (never half-written, also after a crash);
    // every other line, comment and blank line is kept as it was. Writers that use this call, in
    // this or another process, are serialised by an advisory lock beside the file, so none loses
    // another's change. The snapshots show the new value when the call returns; the handlers hear
    // of it on the service thread. Setting the value a key already has writes nothing.
    // Throws IllegalArgumentError_t for an empty key, a key with '=' or a control character or
    // blanks at either end or starting with '#', ';' or '[', and for a null value or one with a
    // line break or blanks at either end (they would not read back as written); IOException_t
    // with the system's error text when the file cannot be read or written (the file is then
    // unchanged).
    void SetValue(const String_t& key, const String_t& value);
    // Removes every line of key from this namespace in the group's file (a group then falls
    // back to the default file's value). Nothing is written when the key is not there. Throws as
    // SetValue.
    void RemoveValue(const String_t& key);

  private:
    NamespaceState_t* State() const;

    String_t name_;
    String_t group_;
    mutable std::atomic<NamespaceState_t*> state_{nullptr};  // found on first use, never freed
};

}  // namespace QmXplConfig
