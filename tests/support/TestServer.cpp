#include "TestServer.h"

#include <gtest/gtest.h>

#include <strings.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>

#include "RunProgram.h"
#include "SharedFiles.h"
#include "ToolProcess.h"

namespace fs = std::filesystem;

namespace {

std::string readWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void writeAtomically(const std::string& path, const std::string& content) {
    std::string temp = path + ".new";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out << content;
    }
    fs::rename(temp, path);
}

std::string makeServerDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/lmserver.XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp: " + std::string(std::strerror(errno)));
    }
    return pattern;
}

// Just enough JSON to read back the server's request records: objects,
// arrays, strings (\u00XX gives one byte), true/false/null and numbers.
struct Json {
    enum Kind { Null, Bool, Number, Text, Array, Object } kind = Null;
    bool flag = false;
    double number = 0;
    std::string text;
    std::vector<Json> items;
    std::map<std::string, Json> fields;

    const Json& operator[](const std::string& key) const {
        static const Json none;
        auto it = fields.find(key);
        return it == fields.end() ? none : it->second;
    }
};

class JsonReader {
public:
    explicit JsonReader(const std::string& text) : text_(text) {}

    Json value() {
        skipBlanks();
        char c = peek();
        if (c == '{') {
            return object();
        }
        if (c == '[') {
            return array();
        }
        if (c == '"') {
            Json j;
            j.kind = Json::Text;
            j.text = string();
            return j;
        }
        return scalar();
    }

private:
    char peek() const {
        if (pos_ >= text_.size()) {
            throw std::runtime_error("JSON ends early");
        }
        return text_[pos_];
    }
    char next() {
        char c = peek();
        ++pos_;
        return c;
    }
    void expect(char c) {
        skipBlanks();
        if (next() != c) {
            throw std::runtime_error(std::string("JSON: expected ") + c);
        }
    }
    void skipBlanks() {
        while (pos_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[pos_]))) {
            ++pos_;
        }
    }
    // Calls item() for each element of a bracketed, comma-separated list.
    template <class F>
    void list(char open, char close, F item) {
        expect(open);
        skipBlanks();
        if (peek() == close) {
            ++pos_;
            return;
        }
        for (;;) {
            item();
            skipBlanks();
            if (next() == close) {
                return;
            }
        }
    }
    Json object() {
        Json j;
        j.kind = Json::Object;
        list('{', '}', [&] {
            skipBlanks();
            std::string key = string();
            expect(':');
            j.fields[key] = value();
        });
        return j;
    }
    Json array() {
        Json j;
        j.kind = Json::Array;
        list('[', ']', [&] { j.items.push_back(value()); });
        return j;
    }
    std::string string() {
        expect('"');
        std::string out;
        for (char c = next(); c != '"'; c = next()) {
            if (c != '\\') {
                out += c;
                continue;
            }
            c = next();
            switch (c) {
                case 'n':
                    out += '\n';
                    break;
                case 'r':
                    out += '\r';
                    break;
                case 't':
                    out += '\t';
                    break;
                case 'b':
                    out += '\b';
                    break;
                case 'f':
                    out += '\f';
                    break;
                case 'u': {
                    unsigned code = std::stoul(text_.substr(pos_, 4), nullptr, 16);
                    pos_ += 4;
                    out += static_cast<char>(code & 0xff);
                    break;
                }
                default:
                    out += c;
            }
        }
        return out;
    }
    Json scalar() {
        Json j;
        size_t end = text_.find_first_of(",]} \r\n\t", pos_);
        std::string word = text_.substr(pos_, end - pos_);
        pos_ = end == std::string::npos ? text_.size() : end;
        if (word == "true" || word == "false") {
            j.kind = Json::Bool;
            j.flag = word == "true";
        } else if (word != "null") {
            j.kind = Json::Number;
            j.number = std::stod(word);
        }
        return j;
    }

    const std::string& text_;
    size_t pos_ = 0;
};

RecordedRequest toRequest(const Json& record) {
    RecordedRequest r;
    r.requestLine = record["request_line"].text;
    r.method = record["method"].text;
    r.target = record["target"].text;
    r.path = record["path"].text;
    r.version = record["version"].text;
    for (const Json& pair : record["headers"].items) {
        if (pair.items.size() == 2) {
            r.headers.emplace_back(pair.items[0].text, pair.items[1].text);
        }
    }
    r.body = record["body"].text;
    r.tls = record["tls"].flag;
    r.proxied = record["proxied"].flag;
    r.sni = record["sni"].text;
    return r;
}

}  // namespace

bool RecordedRequest::hasHeader(const std::string& name) const {
    for (const auto& [key, value] : headers) {
        if (strcasecmp(key.c_str(), name.c_str()) == 0) {
            return true;
        }
    }
    return false;
}

std::string RecordedRequest::header(const std::string& name) const {
    for (const auto& [key, value] : headers) {
        if (strcasecmp(key.c_str(), name.c_str()) == 0) {
            return value;
        }
    }
    return {};
}

TestServer::TestServer(const std::string& configJson) : TestServer(configJson, Options()) {}

TestServer::TestServer(const std::string& configJson, const Options& options)
    : dir_(makeServerDir()) {
    start(configJson, options);
}

void TestServer::start(const std::string& configJson, const Options& options) {
    writeAtomically(dir_ + "/config.json", configJson);
    // -S: the server needs only the standard library, so no site set-up.
    std::vector<std::string> args{LM_TEST_PYTHON, "-S", LM_TEST_SERVER_SCRIPT, "--config"};
    args.insert(args.end(), {dir_ + "/config.json", "--log", dir_ + "/requests.jsonl"});
    args.insert(args.end(), {"--sent", dir_ + "/sent.txt"});
    if (!options.tlsCert.empty()) {
        args.insert(args.end(), {"--tls", options.tlsCert, options.tlsKey});
        scheme_ = "https";
    }
    if (options.proxy) {
        args.push_back("--proxy");
    }
    if (!options.proxyAuth.empty()) {
        args.insert(args.end(), {"--proxy-auth", options.proxyAuth});
    }
    if (options.ipv6) {
        args.push_back("--ipv6");
        host_ = "[::1]";
    }
    process_ = std::make_unique<ToolProcess>(args, dir_ + "/stderr.txt");
    port_ = process_->port();
    if (port_ == 0) {
        ADD_FAILURE() << "the test server did not start:\n" << errors();
    }
}

TestServer::~TestServer() {
    process_.reset();
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
}

std::string TestServer::url(const std::string& path) const {
    return scheme_ + "://" + host_ + ":" + std::to_string(port_) + path;
}

void TestServer::setConfig(const std::string& configJson) {
    writeAtomically(dir_ + "/config.json", configJson);
}

std::vector<RecordedRequest> TestServer::requests() const {
    std::vector<RecordedRequest> out;
    std::istringstream lines(readWhole(dir_ + "/requests.jsonl"));
    for (std::string line; std::getline(lines, line);) {
        if (line.empty()) {
            continue;
        }
        try {
            out.push_back(toRequest(JsonReader(line).value()));
        } catch (const std::exception& e) {
            ADD_FAILURE() << "bad request record (" << e.what() << "): " << line;
        }
    }
    return out;
}

namespace {

// The bytes of every answer and of their bodies, from a file with a line
// per answer: the bytes sent, then the body's.
std::pair<int64_t, int64_t> sentTotals(const std::string& counts) {
    std::istringstream lines(counts);
    std::pair<int64_t, int64_t> totals{0, 0};
    for (int64_t all = 0, body = 0; lines >> all >> body;) {
        totals.first += all;
        totals.second += body;
    }
    return totals;
}

}  // namespace

int64_t TestServer::bytesSent() const {
    return sentTotals(readWhole(dir_ + "/sent.txt")).first;
}

int64_t TestServer::bodyBytesSent() const {
    return sentTotals(readWhole(dir_ + "/sent.txt")).second;
}

std::string TestServer::errors() const {
    return readWhole(dir_ + "/stderr.txt");
}

std::string jsonString(const std::string& bytes) {
    std::string out = "\"";
    for (unsigned char c : bytes) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c >= 0x7f) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

namespace {

bool makeCertificates(const std::string& dir) {
    TestCertificates c = testCertificatesIn(dir);
    const std::string openssl = "/usr/bin/openssl";
    std::string ext = dir + "/server.ext";
    {
        std::ofstream out(ext);
        out << "subjectAltName=DNS:localhost,IP:127.0.0.1\n"
               "basicConstraints=CA:FALSE\n"
               "keyUsage=digitalSignature,keyEncipherment\n"
               "extendedKeyUsage=serverAuth\n";
    }
    const std::vector<std::vector<std::string>> steps = {
        {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", c.caKey, "-out", c.caCert,
         "-days", "30", "-subj", "/CN=LmUpdate Test CA"},
        {"req", "-newkey", "rsa:2048", "-nodes", "-keyout", c.serverKey, "-out",
         dir + "/server.csr", "-subj", "/CN=localhost"},
        {"x509", "-req", "-in", dir + "/server.csr", "-CA", c.caCert, "-CAkey", c.caKey,
         "-CAcreateserial", "-out", c.serverCert, "-days", "30", "-extfile", ext},
    };
    for (const auto& step : steps) {
        ProgramResult r = runProgram(openssl, step);
        if (r.exitStatus != 0) {
            ADD_FAILURE() << "openssl " << step[0] << " failed:\n" << r.err;
            return false;
        }
    }
    return true;
}

}  // namespace

TestCertificates makeTestCertificates(const std::string& dir) {
    static int calls = 0;  // each call of a process gets a CA of its own
    copySharedFiles("certificates-" + std::to_string(++calls), dir, makeCertificates);
    return testCertificatesIn(dir);
}

TestCertificates testCertificatesIn(const std::string& dir) {
    return {dir + "/ca.pem", dir + "/ca.key", dir + "/server.pem", dir + "/server.key"};
}
