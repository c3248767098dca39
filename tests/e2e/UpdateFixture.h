#pragma once

// A scratch installation root wired to the project's test update server, for
// the end-to-end tests of --update, --delay and --firmware: recording
// appliance scripts in ROOT/bin, packages built at test time, and LmUpdate
// run with REGISTER_DIR naming the root.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "RunProgram.h"
#include "ServerAnswers.h"
#include "TempRoot.h"
#include "TestServer.h"

struct ZipMember {
    std::string name;
    std::string content;
    int mode = 0644;
};

struct ServedFile {
    std::string path;  // on disk
    long long size = 0;
    std::string md5;
};

class UpdateFixture : public testing::Test, public ServerAnswers {
protected:
    void SetUp() override {
        root_.makeStandardDirs();
        root_.mkdirs("download");
        root_.mkdirs("record");
        writeRecordingScript("update_status.pl");
        writeRecordingScript("firmware_update.pl");
        writeRecordingScript("write_lock.pl");
        ASSERT_EQ(lmUpdate({"--init"}).exitStatus, 0);
    }

    // The install lock lives in "/tmp/" + root + "/logs/".
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(lockDirectory(), ignored);
    }

    std::string lockDirectory() const { return "/tmp/" + root_.path(); }

    // Appends its arguments as one line to ROOT/record/<name>; the write lock
    // exits with the number in ROOT/lock-exit when that file exists.
    void writeRecordingScript(const std::string& name) {
        root_.write("bin/" + name,
                    "open(my $f, '>>', '" + root_.file("record/" + name) +
                        "') or die; print $f \"@ARGV\\n\"; close $f;\n"
                        "my $code = 0;\n"
                        "if ('" +
                        name + "' eq 'write_lock.pl' && open(my $x, '<', '" +
                        root_.file("lock-exit") +
                        "')) { $code = <$x>; }\n"
                        "exit($code + 0);\n",
                    0755);
    }

    // Product 5 ("prod5", installed in ROOT/opt/prod5) at 1.0.0.0.
    void registerProduct5() const {
        ProgramResult r = lmUpdate({"--register", "--id", "5", "--name", "prod5", "--path",
                                    root_.file("opt/prod5"), "--version", "1.0.0.0"});
        ASSERT_EQ(r.exitStatus, 0) << r.out;
    }

    void startServer(const std::string& config) {
        server_ = std::make_unique<TestServer>(config);
        ProgramResult set = runProgram(
            setNetworkExe(),
            {"-S", "--server", "127.0.0.1:" + std::to_string(server_->port()), "--type", "http"},
            options());
        ASSERT_EQ(set.exitStatus, 0) << set.out << set.err;
    }

    // The waits between download attempts shortened to a few milliseconds.
    RunOptions options() const {
        RunOptions options;
        options.env = {root_.registerDirEnv(), "LMUPDATE_BACKOFF_BASE_MS=20"};
        return options;
    }

    ProgramResult lmUpdate(const std::vector<std::string>& args) const {
        return runProgram(lmUpdateExe(), args, options());
    }

    // An update run with the downloads below ROOT/download and the log on
    // standard error.
    ProgramResult update(int id, std::vector<std::string> more = {}) const {
        std::vector<std::string> args{
            "--update", "--id", std::to_string(id), "--download-dir", root_.file("download"),
            "--verbose"};
        args.insert(args.end(), more.begin(), more.end());
        return lmUpdate(args);
    }

    // A zip archive of the members as ROOT/served/<name>, stored rather
    // than deflated when store.
    ServedFile makeZip(const std::string& name, const std::vector<ZipMember>& members,
                       bool store = false) {
        std::string staging = "staging/" + name;
        for (const ZipMember& m : members) {
            root_.write(staging + "/" + m.name, m.content, m.mode);
        }
        root_.mkdirs("served");
        RunOptions zipOptions;
        zipOptions.workingDir = root_.file(staging);
        ProgramResult zip =
            runProgram("/usr/bin/zip", {store ? "-q0r" : "-qr", root_.file("served/" + name), "."},
                       zipOptions);
        EXPECT_EQ(zip.exitStatus, 0) << zip.err;
        root_.remove("staging");
        return served(name);
    }

    ServedFile servedFile(const std::string& name, const std::string& content) {
        root_.write("served/" + name, content);
        return served(name);
    }

    ServedFile served(const std::string& name) const {
        ServedFile file;
        file.path = root_.file("served/" + name);
        file.size = root_.size("served/" + name);
        file.md5 = runProgram("/usr/bin/md5sum", {file.path}).out.substr(0, 32);
        return file;
    }

    // One PackageInfo element of an update response, for a served file.
    static std::string packageXml(int id, const std::string& versionXml, const std::string& url,
                                  const ServedFile& file, const std::string& installScript,
                                  const std::string& format = "zip") {
        return package({id, "Product " + std::to_string(id), versionXml, url, file.md5, file.size,
                        installScript, format});
    }

    static std::string version2001() {
        return "<LmVersionInfo major=\"2\" minor=\"0\" patchLevel=\"0\" buildNum=\"1\" "
               "status=\"\" desc=\"\"/>";
    }

    // An update response announcing the packages (PackageInfo elements).
    static std::string updateResponse(int code, const std::string& packages = "") {
        return response(code, "<PackageInfoList>\n" + packages + "</PackageInfoList>\n");
    }

    // A route answering 200 with body (text) or the file, or status alone.
    static Route textRoute(const std::string& key, const std::string& body) {
        return {key, answer(body)};
    }
    static Route fileRoute(const std::string& key, const ServedFile& file) {
        return {key, fileAnswer(file.path)};
    }
    static Route statusRoute(const std::string& key, int status) {
        return {key, answer("no", status)};
    }

    std::string record(const std::string& script) const {
        return root_.exists("record/" + script) ? root_.read("record/" + script) : "";
    }

    // The version line of --list for product id, "" when not installed.
    std::string installedVersion(int id) const {
        std::string out = lmUpdate({"--list", "--id", std::to_string(id)}).out;
        auto at = out.find("Version:     ");
        return at == std::string::npos ? "" : out.substr(at + 13, out.find('\n', at) - at - 13);
    }

    std::vector<std::string> requestLines() const {
        std::vector<std::string> lines;
        for (const RecordedRequest& request : server_->requests()) {
            lines.push_back(request.requestLine);
        }
        return lines;
    }

    TempRoot root_;
    std::unique_ptr<TestServer> server_;
};

// Bytes zip cannot shrink, so that a package has the size of its payload.
inline std::string noise(size_t size) {
    std::mt19937 random(5);
    std::string bytes(size, '\0');
    for (char& c : bytes) {
        c = static_cast<char>(random() & 0xff);
    }
    return bytes;
}

// An install script that copies the archive's payload into the directory
// given with -d and records its arguments in ROOT/record/<tag>.
inline std::string installingScript(const TempRoot& root, const std::string& tag, int exitStatus) {
    return "#!/bin/sh\nprintf '%s\\n' \"$@\" > " + root.file("record/" + tag) +
           "\nif [ \"$1\" = -d ]; then mkdir -p \"$2\" && cp \"$4/payload\" \"$2/payload\"; fi\n"
           "exit " +
           std::to_string(exitStatus) + "\n";
}
