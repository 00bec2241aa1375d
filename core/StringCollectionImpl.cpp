#include <list>

#include "QmSecCore/ObjectImpl.h"
#include "QmSecCore/StringCollection.h"
#include "Trace.h"

namespace QmSecCore {

using QmSecCoreTrc::kCoreArea;
using QmXplStr::String_t;

// The list is a std::list: removing an element never moves the others, so the cursor (an
// iterator) stays valid except for the element it designates, which every removal checks.
class StringCollectionImpl : public ObjectImpl {
  public:
    StringCollectionImpl() : cursor_(items_.end()) {
        QMSEC_BLOCK(kCoreArea.proc, "StringCollectionImpl Constructor");
    }
    ~StringCollectionImpl() override {
        QMSEC_BLOCK(kCoreArea.proc, "StringCollectionImpl Destructor");
    }
    QMSEC_DESTROY_THIS(kCoreArea.proc, "StringCollectionImpl::DestroyThis()")

    void Add(const String_t& s) {
        items_.push_back(s);
        if (unplaced_) {
            cursor_ = items_.begin();
            unplaced_ = false;
        }
    }
    void Clear() {
        items_.clear();
        cursor_ = items_.end();
    }
    String_t GetCurrent() const { return cursor_ == items_.end() ? String_t("") : *cursor_; }
    bool IsAtEnd() const { return cursor_ == items_.end(); }
    bool IsEmpty() const { return items_.empty(); }
    void MoveFirst() { cursor_ = items_.begin(); }
    void Next() {
        if (cursor_ != items_.end()) ++cursor_;
    }
    int Remove(const String_t& s) {
        int removed = 0;
        for (auto it = items_.begin(); it != items_.end();) {
            if (*it == s) {
                if (it == cursor_) ++cursor_;
                it = items_.erase(it);
                ++removed;
            } else {
                ++it;
            }
        }
        return removed;
    }
    void RemoveCurrent() {
        if (cursor_ != items_.end()) cursor_ = items_.erase(cursor_);
    }
    int Size() const { return static_cast<int>(items_.size()); }

  private:
    std::list<String_t> items_;
    std::list<String_t>::iterator cursor_;
    bool unplaced_ = true;  // the cursor has never been placed by an Add
};

StringCollection::StringCollection() : Object(new StringCollectionImpl) {}
StringCollection::~StringCollection() = default;
StringCollectionImpl* StringCollection::Body() const {
    return GetBody<StringCollectionImpl>("StringCollection");
}

void StringCollection::Add(const String_t& s) const { Body()->Add(s); }
void StringCollection::Clear() const { Body()->Clear(); }
String_t StringCollection::GetCurrent() const { return Body()->GetCurrent(); }
bool StringCollection::IsAtEnd() const { return Body()->IsAtEnd(); }
bool StringCollection::IsEmpty() const { return Body()->IsEmpty(); }
void StringCollection::MoveFirst() const { Body()->MoveFirst(); }
void StringCollection::Next() const { Body()->Next(); }
int StringCollection::Remove(const String_t& s) const { return Body()->Remove(s); }
void StringCollection::RemoveCurrent() const { Body()->RemoveCurrent(); }
int StringCollection::Size() const { return Body()->Size(); }

}  // namespace QmSecCore
