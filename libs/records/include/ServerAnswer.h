#pragma once

#include <initializer_list>
#include <optional>

#include "RecordDocument.h"
#include "String.h"
#include "Vector.h"

// An update server's answer, held to the caps of network documents: its
// result code and status, the servers it sends the client to, the packages
// it announces (readPackageInfoList) and a text rendering for a person.
class ServerAnswer : public RecordDocument {
public:
    ServerAnswer() : RecordDocument(Source::kNetwork) {}

    // Attribute code of /Result; -1 when absent, empty or not a number.
    int getResultCode() const;
    String getResultStatus() const;
    // The result code when the root is one of roots (ignoring case); else
    // none after a log line saying what was wrong.
    std::optional<int> resultCodeIn(std::initializer_list<const char*> roots) const;

    // host attributes of the children of /ServerList: the count read, or -1
    // when there is no document or no list (out is emptied first).
    int readServerList(Vector<String>& out) const;

    // Appends a text rendering of a register, verify, parameter-list,
    // update or service-map document to out; false for other documents.
    bool describe(String& out) const;
};
