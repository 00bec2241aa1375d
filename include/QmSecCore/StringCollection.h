// A list of strings with one built-in cursor.
#pragma once

#include "QmSecCore/Export.h"
#include "QmSecCore/Object.h"
#include "QmXpl/String_t.h"

namespace QmSecCore {

class StringCollectionImpl;

// Strings in insertion order (duplicates allowed) and a cursor that designates one element or
// the end. Copies of a handle share the list and the cursor. Not synchronised. Every method of
// a handle without a body throws IllegalStateError_t ("StringCollection").
class QMSEC_API StringCollection : public Object {
  public:
    // An empty list with the cursor at the end; the first Add places it on the first element.
    StringCollection();
    ~StringCollection() override;

    // Appends a copy of s. The first Add of a new collection puts the cursor on the element it
    // adds; later ones leave the cursor where it is.
    void Add(const QmXplStr::String_t& s) const;
    // Removes every element; the cursor is at the end afterwards.
    void Clear() const;
    // The element under the cursor, or an empty string at the end.
    QmXplStr::String_t GetCurrent() const;
    bool IsAtEnd() const;
    bool IsEmpty() const;
    // The cursor to the first element (the end when empty).
    void MoveFirst() const;
    // The cursor to the following element; nothing at the end.
    void Next() const;
    // Removes every element equal to s and returns how many; a cursor on a removed element
    // moves to the element that follows it.
    int Remove(const QmXplStr::String_t& s) const;
    // Removes the element under the cursor, which moves to the following one; nothing at the end.
    void RemoveCurrent() const;
    int Size() const;

  private:
    StringCollectionImpl* Body() const;
};

}  // namespace QmSecCore
