// The node key of a key store: the Triple-DES key under which its private-key files are
// encrypted, kept in "nsk.dat" encrypted with Crypt.
#pragma once

#include <string>

#include "KeyStoreFiles.h"
#include "QmXpl/CharArray_t.h"
#include "QmXpl/Mutex_t.h"
#include "QmXpl/String_t.h"

namespace QmSecCore {

class KeyStoreIndex;

// The clear key in memory (wiped when it goes) and the version of the file it came from; the
// file is read again when it has changed. One object may be used from several threads at once.
class KeyStoreNodeKey {
  public:
    explicit KeyStoreNodeKey(const QmXplStr::String_t& path);
    ~KeyStoreNodeKey();
    KeyStoreNodeKey(const KeyStoreNodeKey&) = delete;
    KeyStoreNodeKey& operator=(const KeyStoreNodeKey&) = delete;

    const QmXplStr::String_t& GetPath() const noexcept { return path_; }

    // Reads the file when it exists (KeyStoreException 21 when it is empty or unreadable, 183
    // when it does not decrypt).
    void Load();
    // Makes sure the file holds the key, creating one with the first install. Called with the
    // store lock held, so that one directory gets exactly one node key. KeyStoreException 182
    // when the file has gone while index lists private keys, 24 when it cannot be written.
    void Ensure(const KeyStoreIndex& index);
    // A copy of the key for one use (the caller wipes it), read when needed. KeyStoreException
    // 29 without one.
    QmXplArray::CharArray_t Get();

  private:
    bool Read();

    QmXplStr::String_t path_;
    std::string pathFs_;
    QmXplThread::Mutex_t mutex_;
    QmXplArray::CharArray_t key_;
    KeyStoreFiles::Version version_;
};

}  // namespace QmSecCore
