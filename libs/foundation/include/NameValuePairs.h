#pragma once

#include "NameValuePair.h"
#include "TypedValue.h"
#include "Vector.h"

using TypedPair = NameValuePair<TypedValue>;

// Named values in insertion order. Names are compared ignoring case; several
// pairs may carry the same name, and lookups find the first.
class NameValuePairs : public LmObject {
public:
    NameValuePairs() : pairs_(0, 20) {}
    NameValuePairs(const NameValuePairs&) = default;
    ~NameValuePairs() override = default;

    virtual NameValuePairs& assign(const NameValuePairs& other);
    NameValuePairs& operator=(const NameValuePairs& other) { return assign(other); }

    int size() const { return pairs_.size(); }
    bool isEmpty() const { return pairs_.isEmpty(); }

    // Checked: a bad index raises ArrayIndexException.
    const TypedPair& pairAt(int index) const { return pairs_.elementAt(index); }
    const String& nameAt(int index) const { return pairAt(index).getName(); }
    const String& textAt(int index) const { return pairAt(index).getValue().getText(); }
    int64_t numberAt(int index) const { return pairAt(index).getValue().getNumber(); }

    int find(const String& name) const;                       // -1 when absent
    String getText(const String& name) const;                 // empty when absent
    bool remove(const String& name);                          // the first match only
    int append(const String& name, const TypedValue& value);  // the new index

    String toString() const override;  // the pairs' texts, one per line

private:
    Vector<TypedPair> pairs_;
};
