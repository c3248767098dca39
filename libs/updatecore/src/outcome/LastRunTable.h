#pragma once

#include <string>

#include "outcome/RunReport.h"

// A run report as a person reads it: the run in a few lines, then one
// line per product.
class LastRunTable {
public:
    static std::string render(const RunReport::Document& report);
};
