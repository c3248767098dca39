#pragma once

#include <cstdint>

#include "NetworkSettings.h"
#include "String.h"

class HttpRequest;

// The headers and documents of the requests to the update servers.
class RequestBuilder {
public:
    static void addTextHeader(HttpRequest& request, const char* name, const String& value);
    // Headers every request to an update server carries: compression, MAC.
    static void addCommonHeaders(HttpRequest& request, const NetworkSettings& settings);

    // Version and serial number of product id from the process-wide
    // inventory; an empty serial borrows the first parent with one (id then
    // becomes that parent's). False, changing nothing, for an unknown id.
    static bool lookupProductHeaders(int32_t& id, String& version, String& serial);
    // Adds the product id, version and serial number headers when the
    // product (or a parent) is known; the id sent is the one given, or the
    // parent's when useFoundId.
    static void addProductHeaders(HttpRequest& request, int32_t id, bool useFoundId);
    // Whether host (without port or brackets) is one of the configured or
    // redirected update servers, ignoring case and ports: only those get
    // the identifying headers.
    static bool isUpdateServer(const String& host, const NetworkSettings& settings,
                               const Vector<String>& redirected);
    // The headers of a package or firmware file request: compression, MAC,
    // the download session id and the product headers of id.
    static void addDownloadHeaders(HttpRequest& request, const NetworkSettings& settings,
                                   const String& sessionId, int32_t id);

    // Makes request (its URL already set) a POST of the request document for
    // product id: versionHeader "1.0", MAC, compression and the document,
    // which is logged. False after "Cannot obtain product data for request"
    // when no document can be built.
    static bool setDocumentRequest(HttpRequest& request, int32_t id, const char* versionHeader,
                                   const NetworkSettings& settings);
};
