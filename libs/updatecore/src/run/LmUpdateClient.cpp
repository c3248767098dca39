#include "run/LmUpdateClient.h"

#include "HostValidator.h"
#include "LmNetConfig.h"
#include "ResultCode.h"
#include "ServerAnswer.h"
#include "Utils.h"
#include "download/PackageDownload.h"
#include "net/HttpRequest.h"
#include "net/HttpResponse.h"
#include "net/URL.h"
#include "report/ProgressReporter.h"
#include "report/Report.h"
#include "session/ConnectionFactory.h"
#include "session/RequestBuilder.h"
#include "session/ServerExchange.h"
#include "session/ServerSession.h"
#include "session/TransportErrors.h"

namespace {

bool containsIgnoreCase(const Vector<LmServer>& servers, const String& host) {
    for (int i = 0; i < servers.size(); ++i) {
        if (servers[i].equalsIgnoreCase(host)) {
            return true;
        }
    }
    return false;
}

void logUnstored(const Vector<LmServer>& hosts) {
    String names;
    for (int i = 0; i < hosts.size(); ++i) {
        names.append(i == 0 ? "" : ", ").append(hosts[i]);
    }
    logWarning("LmUpdate: stored server list full, for this run only: " + names);
}

// The update request: the next server after a transport failure (reported
// by its error name), the first server's refusal to build ends the run.
ExchangePolicy updatePolicy() {
    ExchangePolicy policy;
    policy.logUnsent = true;
    policy.reportErrorName = true;
    return policy;
}

// Ping stops at the first transport failure, with its code.
ExchangePolicy pingPolicy() {
    ExchangePolicy policy;
    policy.logUnsent = true;
    policy.endAtFailure = true;
    return policy;
}

// Verify goes on to the next server after anything but a 200 or 401.
ExchangePolicy verifyPolicy() {
    ExchangePolicy policy;
    policy.failureLog = ExchangePolicy::FailureLog::kMessage;
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

// Whether the answer ends the run over the servers.
bool takeUpdateAnswer(Answer answer, const String& body) {
    switch (answer) {
        case Answer::kBody:
            log("Update response:");
            log(SystemLog::bodyExcerpt(body));
            return true;
        case Answer::kBadStatus:
            logError("EC_LMUPDATE_UPDATE_ERROR");
            writeToStandardOutput("EC_LMUPDATE_UPDATE_ERROR");
            rememberReportedError("EC_LMUPDATE_UPDATE_ERROR");
            return false;
        case Answer::kNotSent:
        case Answer::kNoBody:
            break;
    }
    reportError("EC_LMUPDATE_CONNECT_ERROR");
    return false;
}

}  // namespace

bool LmUpdateClient::requestUpdate(int32_t id, String& body) {
    ProgressReporter::reportRequest(id);
    NetworkSettings settings;
    if (!ConnectionFactory::readSettingsOrLog(settings)) {
        session_.noteCause({"config", String(), "network settings unusable"});
        reportError("EC_LMUPDATE_BAD_CONFIG");
        return false;
    }
    bool answered = false;
    ServerExchange exchange(session_, settings, updatePolicy(), servers_);
    exchange.run([&](ServerCall& call) {
        call.open(ConnectionKind::kSession);
        HttpRequest request;
        if (!buildUpdateRequest(id, settings, call.host(), request)) {
            return true;
        }
        Answer answer = call.fetchAnswer(request, body);
        if (answer == Answer::kBadStatus) {
            session_.noteCause(FailureCause::ofStatus(session_.lastStatus()));
        }
        answered = takeUpdateAnswer(answer, body);
        return answered;
    });
    return answered;
}

std::optional<int> LmUpdateClient::handleResponse(const String& body) {
    ServerAnswer answer;
    if (!answer.parse(body)) {
        logError("LmUpdate: invalid update response format: " + answer.getErrorText());
        return refuseAnswer("not a readable document");
    }
    std::optional<int> code = answer.resultCodeIn({"LmSelfUpdateResponse", "LmUpdateResponse"});
    if (!code) {
        return refuseAnswer("unknown root or no result code");
    }
    switch (*code) {
        case kUpToDate:
            return code;
        case kPackagesAnnounced:
            answer.readPackageInfoList(packages_, false);
            return code;
        case kRedirectStored:
        case kRedirectOnce:
            return takeServerList(answer, *code);
        default:
            return refuseAnswer("result " + decimalText(*code));
    }
}

std::optional<int> LmUpdateClient::refuseAnswer(const String& reason) {
    logError("LmUpdate: update answer refused: " + reason);
    session_.noteCause({"answer-refused", String(), reason});
    reportError("EC_LMUPDATE_UPDATE_ERROR");
    return std::nullopt;
}

std::optional<int> LmUpdateClient::takeServerList(const ServerAnswer& answer, int code) {
    Vector<String> hosts;
    answer.readServerList(hosts);
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
    servers_ = hosts;
    if (code == kRedirectStored) {
        storeServers();
    }
    return code;
}

// 210 also puts the new servers first in the stored settings while that
// list holds at most kMaxServers; it never removes a stored server, so one
// answer cannot displace the administrator's. Hosts that do not fit serve
// this run only, as after a 211.
void LmUpdateClient::storeServers() const {
    NetworkSettings settings;
    ConnectionFactory::readSettings(settings);
    Vector<LmServer> unstored;
    for (int i = 0; i < servers_.size(); ++i) {
        const String& host = servers_[i];
        if (containsIgnoreCase(settings.servers, host) || containsIgnoreCase(unstored, host)) {
            continue;
        }
        if (settings.servers.size() < kMaxServers) {
            settings.servers.insertAt(LmServer(host), 0);
        } else {
            unstored.add(LmServer(host));
        }
    }
    if (!unstored.isEmpty()) {
        logUnstored(unstored);
    }
    LmNetConfig::getInstance().storeSettings(settings);
}

UpdateResult LmUpdateClient::update(int32_t id) {
    servers_.removeAll();
    packages_.removeAll();
    for (int redirects = 0;; ++redirects) {
        String body;
        if (!requestUpdate(id, body)) {
            return UpdateResult();
        }
        std::optional<int> code = handleResponse(body);
        if (!code) {
            return UpdateResult();
        }
        if (*code == kPackagesAnnounced) {
            return download(id);
        }
        if (*code == kUpToDate) {
            log(id == kSelfProductId ? "Torvane LmUpdate is up-to-date"
                                     : "Torvane products and components are up-to-date");
            UpdateResult result;
            result.outcome = UpdateResult::Outcome::kUpToDate;
            return result;
        }
        if (!mayRedirect(redirects)) {
            return UpdateResult();
        }
    }
}

UpdateResult LmUpdateClient::download(int32_t id) {
    UpdateResult result;
    PackageDownload step(session_, servers_, id);
    result.products = step.run(packages_);
    result.overBudget = step.overBudget();
    result.packages = packages_;
    bool any = PackageDownload::accepted(result.products) > 0;
    result.outcome = any ? UpdateResult::Outcome::kDownloaded : UpdateResult::Outcome::kFailed;
    return result;
}

bool LmUpdateClient::mayRedirect(int redirects) {
    if (redirects == kMaxRedirects) {
        logError("LmUpdate: too many redirects");
        session_.noteCause({"answer-refused", String(), "too many redirects"});
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
    ServerExchange exchange(session_, settings, pingPolicy());
    ServerExchange::End end = exchange.run([&](ServerCall& call) {
        call.open(ConnectionKind::kSession);
        HttpRequest request(
            URL(ConnectionFactory::sessionUrl(settings, call.host(), "/control?act=ping")));
        RequestBuilder::addCommonHeaders(request, settings);
        HttpResponse response;
        String body;
        if (!call.send(request, response) || !call.readBody(response, body)) {
            return false;
        }
        writeToStandardOutput(body);
        call.close();
        return true;
    });
    switch (end) {
        case ServerExchange::End::kAnswered:
            return ResultCode::kOk;
        case ServerExchange::End::kFailed:
            return TransportErrors::codeFor(exchange.failure(), settings);
        case ServerExchange::End::kExhausted:
            break;
    }
    return ResultCode::kConnectFailed;
}

int LmUpdateClient::verify() {
    NetworkSettings settings;
    if (!ConnectionFactory::readSettingsOrLog(settings)) {
        return ResultCode::kVerifySettings;
    }
    int status = 0;
    ServerExchange exchange(session_, settings, verifyPolicy());
    exchange.run([&](ServerCall& call) {
        if (!call.open(ConnectionKind::kSession, false)) {
            return false;
        }
        HttpRequest request(URL(ConnectionFactory::baseUrl(settings, call.host()) + "/lm-verify"));
        RequestBuilder::addCommonHeaders(request, settings);
        RequestBuilder::addProductHeaders(request, kSelfProductId, true);
        HttpResponse response;
        if (!call.send(request, response)) {
            return false;
        }
        call.close();
        status = response.getStatus();
        return status == 200 || status == 401;
    });
    switch (status) {
        case 200:
            return ResultCode::kOk;
        case 401:
            return ResultCode::kVerifyUnauthorized;
        default:
            return ResultCode::kVerifyNoAnswer;
    }
}
