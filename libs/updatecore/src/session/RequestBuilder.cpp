#include "session/RequestBuilder.h"

#include "Utils.h"
#include "net/HttpRequest.h"
#include "net/URL.h"
#include "report/Report.h"
#include "state/LmUpdateStore.h"

namespace {

// The entry of a parent-id list as a product id; a text that does not
// parse is logged and gives none.
bool readParentId(const String& entry, int32_t& id) {
    String failure;
    if (tryParseNumber(entry, id, &failure)) {
        return id >= 0;
    }
    logWarning(failure);
    return false;
}

// The host of a server entry ("name:port", "[v6]:port"), without port or
// brackets.
String entryHost(const String& entry) {
    try {
        return URL("http://" + entry + "/").getHost();
    } catch (const Exception&) {
        return String();
    }
}

template <class Entries>
bool holdsHost(const Entries& entries, const String& host) {
    for (int i = 0; i < entries.size(); ++i) {
        String known = entryHost(entries[i]);
        if (!known.isEmpty() && known.equalsIgnoreCase(host)) {
            return true;
        }
    }
    return false;
}

}  // namespace

bool RequestBuilder::isUpdateServer(const String& host, const NetworkSettings& settings,
                                    const Vector<String>& redirected) {
    return holdsHost(settings.servers, host) || holdsHost(redirected, host);
}

void RequestBuilder::addTextHeader(HttpRequest& request, const char* name, const String& value) {
    request.getHeaders().addHeader(name, value);
}

void RequestBuilder::addCommonHeaders(HttpRequest& request, const NetworkSettings& settings) {
    addTextHeader(request, "X-Lm-Content-Compression", "deflate");
    addTextHeader(request, "X-Lm-Update-MAC", settings.mac);
}

bool RequestBuilder::lookupProductHeaders(int32_t& id, String& version, String& serial) {
    LmUpdateStore& inventory = LmUpdateStore::instance();
    LmProduct product;
    if (!inventory.findProduct(id, product)) {
        return false;
    }
    version = product.version.version;
    serial = product.info.serialNo;
    if (!serial.isEmpty() || product.info.parent.isEmpty()) {
        return true;
    }
    Vector<String> parents;
    product.info.parent.split(",", parents);
    for (int i = 0; i < parents.size(); ++i) {
        int32_t parentId = 0;
        LmProduct parent;
        if (readParentId(parents[i], parentId) && inventory.findProduct(parentId, parent) &&
            !parent.info.serialNo.isEmpty()) {
            id = parentId;
            serial = parent.info.serialNo;
            version = parent.version.version;
            break;
        }
    }
    return true;
}

void RequestBuilder::addProductHeaders(HttpRequest& request, int32_t id, bool useFoundId) {
    int32_t foundId = id;
    String version;
    String serial;
    if (!lookupProductHeaders(foundId, version, serial)) {
        return;
    }
    request.getHeaders().addIntHeader("X-Lm-Update-ProductId", useFoundId ? foundId : id);
    addTextHeader(request, "X-Lm-Update-ProductVersion", version);
    addTextHeader(request, "X-Lm-Update-SerialNo", serial);
}

void RequestBuilder::addDownloadHeaders(HttpRequest& request, const NetworkSettings& settings,
                                        const String& sessionId, int32_t id) {
    addCommonHeaders(request, settings);
    addTextHeader(request, "X-Lm-Update-SessionID", sessionId);
    addProductHeaders(request, id, false);
}

bool RequestBuilder::setDocumentRequest(HttpRequest& request, int32_t id, const char* versionHeader,
                                        const NetworkSettings& settings) {
    addTextHeader(request, versionHeader, "1.0");
    addTextHeader(request, "X-Lm-Update-MAC", settings.mac);
    String document;
    if (!LmUpdateStore::instance().buildRequest(id, document)) {
        logError("Cannot obtain product data for request");
        return false;
    }
    request.setMethod("POST");
    addTextHeader(request, "X-Lm-Content-Compression", "deflate");
    request.setPostData(document);
    log("Update Request: ");
    log(document);
    return true;
}
