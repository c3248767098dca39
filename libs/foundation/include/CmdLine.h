#pragma once

#include "String.h"
#include "Vector.h"

// Command-line options: "-name" or "--name", each followed by its value
// unless the next argument is itself an option. Words that are not options
// and not taken as a value are ignored.
class CmdLine {
public:
    // Keeps argv as given; the strings are not copied.
    CmdLine(int argc, const char* const* argv) : argc_(argc), argv_(argv) {}
    CmdLine(const CmdLine&) = delete;
    CmdLine& operator=(const CmdLine&) = delete;
    virtual ~CmdLine() = default;

    // The length of the option prefix: 2 for "--x...", 1 for "-x...", else 0.
    virtual int classify(const char* argument) const;
    // Fills the names and their values from the arguments after argv[0].
    void parse();
    // The value of the first option called name (exact comparison).
    bool getOption(const String& name, String& value) const;
    bool hasOption(const String& name) const;
    // The number of options recognised by parse.
    int getOptionCount() const { return names_.size(); }
    const Vector<String>& getNames() const { return names_; }

private:
    int argc_;
    const char* const* argv_;
    Vector<String> names_;
    Vector<String> values_;  // index-aligned with names_
};
