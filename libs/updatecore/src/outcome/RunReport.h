#pragma once

#include <chrono>
#include <cstdint>
#include <ctime>
#include <nlohmann/json_fwd.hpp>
#include <optional>

#include "LmProduct.h"
#include "String.h"
#include "Vector.h"
#include "state/RunRecord.h"

// The report of one run of an action (docs/RUN-REPORT.md). Begun when the
// action starts, so that it knows the inventory as it was; given what the
// run recorded; ended with the action's result code.
class RunReport {
public:
    using Document = nlohmann::ordered_json;

    explicit RunReport(String action);

    void take(const RunRecord& record) { record_ = record; }
    // The document for result code `code` and the error name the run wrote
    // last (empty: none); the totals go on from the previous report's.
    Document end(int code, const String& resultName, const Document& previous);

    const String& action() const { return action_; }
    // The action's result counts as success (the scheduled run's view).
    static bool succeeded(const String& action, int code);
    // The time a member of object names (utcTimestamp text); none when it
    // is absent or not such a text.
    static std::optional<std::time_t> timeIn(const Document& object, const char* key);

private:
    Document productEntry(const ProductResult& product) const;
    const FailureCause& causeOf(const ProductResult& product) const;
    // Why the run failed: the first product that says, else the run's own
    // cause, else what its error name stands for.
    std::optional<FailureCause> failure(int code, const String& resultName) const;
    static Document totals(const Document& previous, const Document& report, bool success);

    String action_;
    std::time_t started_;
    std::chrono::steady_clock::time_point clock_;
    Vector<LmProduct> inventory_;
    RunRecord record_;
};
