#include "ServerAnswers.h"

#include "TestServer.h"

std::string ServerAnswers::response(int code, const std::string& inner,
                                    const std::string& rootName) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<" + rootName + ">\n<Result code=\"" +
           std::to_string(code) + "\" status=\"x\"/>\n" + inner + "</" + rootName + ">\n";
}

std::string ServerAnswers::serverList(const std::vector<std::string>& hosts) {
    std::string xml = "<ServerList>\n";
    for (const auto& host : hosts) {
        xml += "<Server host=\"" + host + "\"/>\n";
    }
    return xml + "</ServerList>\n";
}

std::string ServerAnswers::package(const Package& p) {
    const std::string id = std::to_string(p.id);
    return "<PackageInfo>\n<ProductInfo id=\"" + id + "\" name=\"prod" + id + "\" desc=\"" +
           p.desc + "\"/>\n<PlatformInfo arch=\"arm\" os=\"linux\" vendor=\"v\" version=\"1\"/>\n" +
           p.versionXml + "\n<DownloadInfo url=\"" + p.url + "\" md5=\"" + p.md5 + "\" size=\"" +
           std::to_string(p.size) + "\" time=\"\" result=\"0\"/>\n<RunInfo format=\"" + p.format +
           "\" installScript=\"" + p.installScript + "\" result=\"0\"/>\n</PackageInfo>\n";
}

std::string ServerAnswers::package(int id, const std::string& desc, const std::string& version,
                                   const std::string& url, const std::string& md5, int64_t size) {
    return package({id, desc,
                    "<ExtVersionInfo version=\"" + version + "\" status=\"release\" desc=\"\"/>",
                    url, md5, size});
}

std::string ServerAnswers::config(const std::vector<Route>& routes) {
    std::string json = "{\"routes\": {";
    for (size_t i = 0; i < routes.size(); ++i) {
        json += (i ? ", " : "") + jsonString(routes[i].first) + ": " + routes[i].second;
    }
    return json + "}}";
}

std::string ServerAnswers::answer(const std::string& body, int status) {
    return "{\"status\": " + std::to_string(status) + ", \"body\": " + jsonString(body) + "}";
}

std::string ServerAnswers::fileAnswer(const std::string& path, const std::string& extra) {
    return "{\"status\": 200, \"body_file\": " + jsonString(path) + extra + "}";
}
