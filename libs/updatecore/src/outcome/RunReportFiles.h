#pragma once

#include "String.h"
#include "outcome/RunReport.h"

// Where the run reports are kept below the installation root: the last
// one, replaced whole, and the newest of the update runs, one a line.
class RunReportFiles {
public:
    static constexpr int kHistoryLines = 500;

    static String lastRunPath();
    static String historyPath();

    // The last report; raises IOException "PATH: REASON" when there is
    // none or it is not a document.
    static RunReport::Document readLast();
    // Replaces the last report with report and, with history, appends it
    // to the history, whose oldest lines go beyond kHistoryLines. Raises
    // IOException "PATH: ERROR".
    static void write(const RunReport::Document& report, bool history);
    // The last report as a table, or with json as its document; raises as
    // readLast.
    static String showLast(bool json);
    // The document as written: one line, bytes that are not UTF-8 replaced.
    static std::string text(const RunReport::Document& report);

private:
    static void append(const std::string& line);
};
