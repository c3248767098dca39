#include "ServerAnswer.h"

#include <algorithm>

#include "RecordReading.h"
#include "SystemLog.h"
#include "xml/XMLNode.h"

using namespace RecordReading;

namespace {

// key + ":" + value as one line, when the node has both attributes.
void appendPair(const XMLNode& node, const char* keyName, const char* valueName, String& out) {
    String key;
    String value;
    if (node.getAttribute(String(keyName), key) && node.getAttribute(String(valueName), value)) {
        out.append(key).append(':').append(value).append('\n');
    }
}

String lastPathSegment(const String& url) {
    const int slash = url.lastIndexOf('/');
    return slash < 0 ? url : url.substring(slash + 1);
}

bool isOneOf(const String& name, const char* first, const char* second) {
    return name.equalsIgnoreCase(first) || name.equalsIgnoreCase(second);
}

// Register and verify responses: the server time, then the parameters of
// every group.
void describeResponse(const XMLNode& root, String& out) {
    out.append(root.getName()).append("-CurrentTime:");
    out.append(attribute(root, "CurrentTime")).append('\n');
    forEachChild(root, [&](const XMLNode& group) {
        forEachChild(
            group, [&](const XMLNode& parameter) { appendPair(parameter, "name", "value", out); });
    });
}

void describeParameters(const XMLNode& root, String& out) {
    forEachChild(root,
                 [&](const XMLNode& parameter) { appendPair(parameter, "name", "value", out); });
}

void describePackages(const Vector<LmPackageInfo>& packages, String& out) {
    for (const LmPackageInfo& package : packages) {
        out.append("version:").append(package.version.version).append('\n');
        out.append("format:").append(package.format).append('\n');
        out.append("filename:").append(lastPathSegment(package.url)).append('\n');
    }
}

void describeServices(const XMLNode& root, String& out) {
    forEachChild(root,
                 [&](const XMLNode& entry) { appendPair(entry, "service", "productID", out); });
}

}  // namespace

int ServerAnswer::getResultCode() const {
    NodePtr result = findNode("/Result");
    return result ? number(*result, "code", -1) : -1;
}

String ServerAnswer::getResultStatus() const {
    NodePtr result = findNode("/Result");
    return result ? attribute(*result, "status") : String();
}

std::optional<int> ServerAnswer::resultCodeIn(std::initializer_list<const char*> roots) const {
    const String root = rootName();
    if (std::none_of(roots.begin(), roots.end(),
                     [&](const char* name) { return root.equalsIgnoreCase(name); })) {
        SystemLog::write("LmUpdate: Unknown update response type: " + root, LogPriority::kError);
        return std::nullopt;
    }
    const int code = getResultCode();
    if (code < 0) {
        SystemLog::write("LmUpdate: no result code available in response", LogPriority::kError);
        return std::nullopt;
    }
    return code;
}

int ServerAnswer::readServerList(Vector<String>& out) const {
    out.removeAll();
    const bool listed = visitChildren("/ServerList", [&](const XMLNode& node) {
        String host;
        if (node.getAttribute(String("host"), host)) {
            out.add(host);
        }
    });
    return listed ? out.size() : -1;
}

bool ServerAnswer::describe(String& out) const {
    NodePtr root = findNode("/");
    if (!root) {
        return false;
    }
    const String name = root->getName();
    if (isOneOf(name, "LmRegisterResponse", "LmVerifyResponse")) {
        describeResponse(*root, out);
    } else if (isOneOf(name, "LmRegisterInfo", "LmVerifyConfig")) {
        describeParameters(*root, out);
    } else if (name.equalsIgnoreCase("LmUpdateResponse")) {
        Vector<LmPackageInfo> packages(0, 20);
        readPackageInfoList(packages, false);
        describePackages(packages, out);
    } else if (name.equalsIgnoreCase("ServiceToProductID")) {
        describeServices(*root, out);
    } else {
        return false;
    }
    return true;
}
