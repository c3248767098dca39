#include "run/LmUpdateClient.h"

#include <algorithm>

#include "HostValidator.h"
#include "LmNetConfig.h"
#include "LmUpdateCore.h"
#include "LmUpdateParser.h"
#include "Utils.h"
#include "download/PackageDownload.h"
#include "io/File.h"
#include "net/HttpConnection.h"
#include "net/HttpRequest.h"
#include "net/HttpResponse.h"
#include "net/URL.h"
#include "report/ProgressReporter.h"
#include "report/Report.h"
#include "session/ConnectionFactory.h"
#include "session/RequestBuilder.h"
#include "session/ServerExchange.h"

namespace {

bool containsIgnoreCase(const Vector<LmServer>& servers, const String& host) {
    for (int i = 0; i < servers.size(); ++i) {
        if (servers[i].equalsIgnoreCase(host)) {
            return true;
        }
    }
    return false;
}

// The update request: the next server after a transport failure (reported
// by its error name), the first server's refusal to build ends the run.
ExchangePolicy updatePolicy() {
    ExchangePolicy policy;
    policy.logUnsent = true;
    policy.reportErrorName = true;
    policy.exhausted = ResultCode::kFailed;
    return policy;
}

// Ping stops at the first transport failure, with its code.
ExchangePolicy pingPolicy() {
    ExchangePolicy policy;
    policy.logUnsent = true;
    policy.afterFailure = ExchangePolicy::AfterFailure::kTransportCode;
    policy.exhausted = ResultCode::kConnectFailed;
    return policy;
}

// Verify goes on to the next server after anything but a 200 or 401.
ExchangePolicy verifyPolicy() {
    ExchangePolicy policy;
    policy.failureLog = ExchangePolicy::FailureLog::kMessage;
    policy.exhausted = ResultCode::kVerifyNoAnswer;
    return policy;
}

bool buildUpdateRequest(int32_t id, const NetworkSettings& settings, const String& host,
                        HttpRequest& request) {
    bool self = id == kSelfProductId;
    request.setURL(URL(
        ConnectionFactory::sessionUrl(settings, host, self ? "/lm-self-update" : "/lm-update")));
    if (!RequestBuilder::setDocumentRequest(
            request, id,
            self ? "X-Lm-Self-Update-Protocol-Version" : "X-Lm-Update-Protocol-Version",
            settings)) {
        reportError("EC_LMUPDATE_BAD_CONFIG");
        return false;
    }
    return true;
}

Step takeUpdateAnswer(Answer answer, const String& body) {
    switch (answer) {
        case Answer::kBody:
            log("Update response:");
            log(SystemLog::bodyExcerpt(body));
            return Step::end(ResultCode::kOk);
        case Answer::kBadStatus:
            log("EC_LMUPDATE_UPDATE_ERROR");
            writeToStandardOutput("EC_LMUPDATE_UPDATE_ERROR");
            return Step::next();
        case Answer::kNotSent:
        case Answer::kNoBody:
            break;
    }
    reportError("EC_LMUPDATE_CONNECT_ERROR");
    return Step::next();
}

}  // namespace

int LmUpdateClient::setDownloadDir(const String& path) {
    if (path.isEmpty() || !File(path).exists()) {
        return ResultCode::kFailed;
    }
    state_.downloadDir = path;
    return ResultCode::kOk;
}

bool LmUpdateClient::requestUpdate(int32_t id, String& body) {
    ProgressReporter::reportRequest(id);
    NetworkSettings settings;
    if (!ConnectionFactory::readSettingsOrLog(settings)) {
        reportError("EC_LMUPDATE_BAD_CONFIG");
        return false;
    }
    ServerExchange exchange(state_, settings, updatePolicy());
    int result = exchange.run([&](ServerCall& call) {
        HttpConnection* connection = call.open(ConnectionFactory::kSessionConnection);
        HttpRequest request;
        if (!buildUpdateRequest(id, settings, call.host(), request)) {
            return Step::end(ResultCode::kFailed);
        }
        return takeUpdateAnswer(call.exchangeForAnswer(connection, request, body), body);
    });
    return result == ResultCode::kOk;
}

int LmUpdateClient::handleResponse(const String& body) {
    LmUpdateParser parser;
    parser.setSource(LmUpdateParser::Source::kNetwork);
    if (!parser.parse(body)) {
        log("LmUpdate: invalid update response format: " + parser.getErrorText());
        return refuseAnswer("not a readable document");
    }
    int code = resultCodeOf(parser, {"LmSelfUpdateResponse", "LmUpdateResponse"});
    switch (code) {
        case kUpToDate:
            return code;
        case kPackagesAnnounced:
            parser.readPackageInfoList(state_.packages, false);
            return code;
        case kRedirectStored:
        case kRedirectOnce:
            return takeServerList(parser, code);
        case ResultCode::kFailed:
            return refuseAnswer("unknown root or no result code");
        default:
            return refuseAnswer("result " + decimalText(code));
    }
}

int LmUpdateClient::refuseAnswer(const String& reason) {
    log("LmUpdate: update answer refused: " + reason);
    reportError("EC_LMUPDATE_UPDATE_ERROR");
    return ResultCode::kUpdateAnswerRefused;
}

int LmUpdateClient::takeServerList(const LmUpdateParser& parser, int code) {
    Vector<String> hosts;
    parser.readServerList(hosts);
    if (hosts.size() == 0) {
        return refuseAnswer("no host in the server list");
    }
    if (hosts.size() > kMaxServers) {
        return refuseAnswer("more than " + decimalText(kMaxServers) + " hosts in the server list");
    }
    for (int i = 0; i < hosts.size(); ++i) {
        if (!HostValidator::isValid(hosts[i])) {
            return refuseAnswer("invalid host '" + hosts[i] + "' in the server list");
        }
    }
    state_.serverOverride = hosts;
    return handleRedirect(code);
}

int LmUpdateClient::resultCodeOf(const LmUpdateParser& parser,
                                 std::initializer_list<const char*> roots) {
    String root = parser.rootName();
    if (std::none_of(roots.begin(), roots.end(),
                     [&](const char* name) { return root.equalsIgnoreCase(name); })) {
        log("LmUpdate: Unknown update response type: " + root);
        return ResultCode::kFailed;
    }
    int code = parser.getResultCode();
    if (code < 0) {
        log("LmUpdate: no result code available in response");
        return ResultCode::kFailed;
    }
    return code;
}

// 210 also puts the new servers first in the stored settings.
int LmUpdateClient::handleRedirect(int code) {
    if (code != kRedirectStored) {
        return code;
    }
    NetworkSettings settings;
    ConnectionFactory::readSettings(settings);
    for (int i = 0; i < state_.serverOverride.size(); ++i) {
        if (!containsIgnoreCase(settings.servers, state_.serverOverride[i])) {
            settings.servers.insertAt(LmServer(state_.serverOverride[i]), 0);
        }
    }
    while (settings.servers.size() > kMaxServers) {
        settings.servers.removeAt(settings.servers.size() - 1);
    }
    LmNetConfig::getInstance().storeSettings(settings);
    return code;
}

int LmUpdateClient::update(int32_t id, int plainDownload, int throttleKB, int pauseSeconds) {
    state_.serverOverride.removeAll();
    state_.packages.removeAll();
    state_.plainDownload = plainDownload;
    state_.throttleKB = throttleKB;
    state_.pauseSeconds = pauseSeconds;
    for (int redirects = 0;; ++redirects) {
        String body;
        if (!requestUpdate(id, body)) {
            return ResultCode::kFailed;
        }
        int code = handleResponse(body);
        if (code == ResultCode::kUpdateAnswerRefused) {
            return ResultCode::kFailed;
        }
        if (code == kPackagesAnnounced) {
            int good = PackageDownload(state_).run();
            return good > 0 ? good : ResultCode::kFailed;
        }
        if (code == kUpToDate) {
            log(id == kSelfProductId ? "Torvane LmUpdate is up-to-date"
                                     : "Torvane products and components are up-to-date");
            return ResultCode::kUpdateNothing;
        }
        if (!mayRedirect(redirects)) {
            return ResultCode::kFailed;
        }
    }
}

bool LmUpdateClient::mayRedirect(int redirects) {
    if (redirects == kMaxRedirects) {
        log("LmUpdate: too many redirects");
        reportError("EC_LMUPDATE_UPDATE_ERROR");
        return false;
    }
    log("Redirect to new update server");
    return true;
}

int LmUpdateClient::ping() {
    NetworkSettings settings;
    if (!ConnectionFactory::readSettingsOrLog(settings)) {
        return ResultCode::kPingSettings;
    }
    ServerExchange exchange(state_, settings, pingPolicy());
    return exchange.run([&](ServerCall& call) {
        HttpConnection* connection = call.open(ConnectionFactory::kSessionConnection);
        HttpRequest request(
            URL(ConnectionFactory::sessionUrl(settings, call.host(), "/control?act=ping")));
        RequestBuilder::addCommonHeaders(request, settings);
        HttpResponse response;
        String body;
        if (!call.send(connection, request, response) || response.getBody() == nullptr ||
            !ServerExchange::readBody(*connection, response, body)) {
            return Step::next();
        }
        writeToStandardOutput(body);
        connection->close();
        return Step::end(ResultCode::kOk);
    });
}

int LmUpdateClient::verify() {
    NetworkSettings settings;
    if (!ConnectionFactory::readSettingsOrLog(settings)) {
        return ResultCode::kVerifySettings;
    }
    ServerExchange exchange(state_, settings, verifyPolicy());
    return exchange.run([&](ServerCall& call) {
        HttpConnection* connection = call.open(ConnectionFactory::kSessionConnection, false);
        if (connection == nullptr) {
            return Step::next();
        }
        HttpRequest request(URL(ConnectionFactory::baseUrl(settings, call.host()) + "/lm-verify"));
        RequestBuilder::addCommonHeaders(request, settings);
        RequestBuilder::addProductHeaders(request, kSelfProductId, true);
        HttpResponse response;
        if (!call.send(connection, request, response)) {
            return Step::next();
        }
        connection->close();
        int status = response.getStatus();
        if (status == 200 || status == 401) {
            return Step::end(status == 200 ? ResultCode::kOk : ResultCode::kVerifyUnauthorized);
        }
        return Step::next();
    });
}
