#pragma once

#include <functional>
#include <string>

// Copies into destination the files make(dir) makes, made once for all the
// test processes of this build tree (in tests/shared/NAME below it) rather
// than by each: ctest starts every test in a process of its own, and some
// inputs, certificates above all, take a tenth of a second or more to make.
// The processes wait for each other on a lock while the files are made. The
// set is made anew once a day old, or after make returned false (a failure
// it reported itself).
void copySharedFiles(const std::string& name, const std::string& destination,
                     const std::function<bool(const std::string& dir)>& make);
