#pragma once

#include <map>
#include <set>
#include <string>

// The exit statuses the documentation gives, for tests to hold against the
// programs' own tables.

// The README's "Exit statuses" table: each row label (its first cell, or
// the label above it) with the codes of its rows. A status written as
// "251 (-5)" is the code -5, and must be 256 + the code.
std::map<std::string, std::set<int>> readmeExitStatuses();

// The statuses of a man page's EXIT STATUS section (each ".TP" tag ".B N").
std::set<int> manPageExitStatuses(const std::string& page);
