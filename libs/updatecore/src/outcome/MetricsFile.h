#pragma once

#include <string>

#include "LmProduct.h"
#include "String.h"
#include "Vector.h"
#include "outcome/RunReport.h"

// The run's metrics in the text format node_exporter's textfile collector
// reads: when the last run and the last successful one ended, its exit
// status, the byte totals, and one info sample per installed product.
class MetricsFile {
public:
    // Raises IOException "PATH: ERROR".
    static void write(const String& path, const RunReport::Document& report,
                      const Vector<LmProduct>& products);
    static std::string text(const RunReport::Document& report, const Vector<LmProduct>& products);
    // A label value as the format wants it: \, " and line feeds escaped.
    static std::string labelValue(const String& value);
};
