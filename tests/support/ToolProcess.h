#pragma once

#include <string>
#include <vector>

// A tool of tools/ (the test update server, the link relay) run as a child
// process that prints "PORT <n>" on standard output once it listens. The
// destructor stops it (SIGTERM, SIGKILL if it lingers) and reaps it.
class ToolProcess {
public:
    // argv[0] is the program's path; its standard error goes to errPath.
    ToolProcess(const std::vector<std::string>& argv, const std::string& errPath);
    ~ToolProcess();
    ToolProcess(const ToolProcess&) = delete;
    ToolProcess& operator=(const ToolProcess&) = delete;

    // 0 when the tool did not start or printed no port in time.
    int port() const { return port_; }

private:
    int pid_ = -1;
    int port_ = 0;
};
