#pragma once

#include <string>

// A temporary installation root made with mkdtemp below $TMPDIR (or /tmp),
// removed with everything in it when the object goes.
//
//   TempRoot root;
//   root.makeStandardDirs();                    // conf/, tmp/, bin/
//   root.write("conf/network.xml", xml);
//   runProgram(lmUpdateExe(), {"--ping"}, {.env = {root.registerDirEnv()}});
class TempRoot {
public:
    TempRoot();
    ~TempRoot();
    TempRoot(const TempRoot&) = delete;
    TempRoot& operator=(const TempRoot&) = delete;

    const std::string& path() const { return path_; }
    // path() + "/" + relative
    std::string file(const std::string& relative) const;
    // "REGISTER_DIR=" + path(), for runProgram's environment.
    std::string registerDirEnv() const { return "REGISTER_DIR=" + path_; }

    void makeStandardDirs() const;                   // conf/, tmp/, bin/
    void mkdirs(const std::string& relative) const;  // parents first
    // Writes (truncating) a file, making its directories; mode as for chmod.
    void write(const std::string& relative, const std::string& content, int mode = 0644) const;
    // A shell script (the text after "#!/bin/sh\n"), executable.
    void writeScript(const std::string& relative, const std::string& body) const;
    // The whole file; fails the test (and returns "") when it cannot be read.
    std::string read(const std::string& relative) const;
    bool exists(const std::string& relative) const;
    long long size(const std::string& relative) const;  // -1 when missing
    void remove(const std::string& relative) const;     // recursively, missing is fine
    // Empties the root but keeps the directory itself.
    void clear() const;

private:
    std::string path_;
};

// One installation root for the whole test process, for in-process tests of
// code that reads REGISTER_DIR only once. The first call creates it and sets
// REGISTER_DIR, so call it before the code under test first forms a path
// (e.g. in SetUp), and clear() it between tests.
TempRoot& processRoot();
