#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// What the test update server answers in the tests that run updates, in
// process or through the built LmUpdate: update answer documents and their
// elements, and the server's route configuration (TestServer.h).
class ServerAnswers {
public:
    // "METHOD /path?query" and the answer (JSON) to it.
    using Route = std::pair<std::string, std::string>;

    // One PackageInfo element of an update answer.
    struct Package {
        int id;
        std::string desc;
        std::string versionXml;  // an LmVersionInfo or ExtVersionInfo element
        std::string url;
        std::string md5;
        int64_t size;
        std::string installScript = "install.sh";
        std::string format = "zip";
    };

    // An update response document with a result code and inner elements.
    static std::string response(int code, const std::string& inner = "",
                                const std::string& rootName = "LmUpdateResponse");
    static std::string serverList(const std::vector<std::string>& hosts);
    static std::string package(const Package& package);
    // A package whose version is given as text (ExtVersionInfo, release).
    static std::string package(int id, const std::string& desc, const std::string& version,
                               const std::string& url, const std::string& md5, int64_t size);

    // A test server configuration of routes.
    static std::string config(const std::vector<Route>& routes);
    // {"status": status, "body": body}
    static std::string answer(const std::string& body, int status = 200);
    // The file's bytes with status 200; extra: more fields (", \"close_after\": 10").
    static std::string fileAnswer(const std::string& path, const std::string& extra = "");
};
