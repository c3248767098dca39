#pragma once

#include "String.h"
#include "outcome/RunReport.h"

// An entry operation's run with its report: begun before the action's
// steps, ended with its result code, which writes ROOT/logs/last-run.json
// (and, for update runs, a line of ROOT/logs/runs.jsonl) and the metrics
// file when one is named. What cannot be written is logged and changes
// nothing else.
class ReportedRun {
public:
    explicit ReportedRun(const char* action);
    ReportedRun(const ReportedRun&) = delete;
    ReportedRun& operator=(const ReportedRun&) = delete;
    ~ReportedRun();

    RunReport& report() { return report_; }
    // Writes the report for code; returns code.
    int end(int code);

    // Where the metrics go (empty: nowhere).
    static void setMetricsFile(const String& path);
    // Ends the run in progress, if any: for a process that exits from
    // within the steps.
    static void endActive(int code);

private:
    void writeReport(const RunReport::Document& report) const;
    static void writeMetrics(const RunReport::Document& report);

    RunReport report_;
    bool ended_ = false;
};
