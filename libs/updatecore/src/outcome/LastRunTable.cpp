#include "outcome/LastRunTable.h"

#include <nlohmann/json.hpp>

namespace {

using Document = RunReport::Document;

// A member as text, "-" when absent; a report written by another version
// may lack any of them.
std::string field(const Document& object, const char* key) {
    if (!object.is_object() || !object.contains(key) || object[key].is_null()) {
        return "-";
    }
    const Document& value = object[key];
    return value.is_string() ? value.get<std::string>()
                             : value.dump(-1, ' ', false, Document::error_handler_t::replace);
}

std::string failureText(const Document& object) {
    if (!object.is_object() || !object.contains("failure")) {
        return "";
    }
    const Document& failure = object["failure"];
    std::string text = field(failure, "class");
    if (failure.contains("reason")) {
        text += " (" + field(failure, "reason") + ")";
    }
    if (failure.contains("detail")) {
        text += ": " + field(failure, "detail");
    }
    return text;
}

void line(std::string& out, const char* label, const std::string& value) {
    out += std::string(label) + std::string(13 - std::string(label).size(), ' ') + value + "\n";
}

}  // namespace

std::string LastRunTable::render(const Document& report) {
    std::string out;
    line(out, "action:", field(report, "action"));
    line(out, "started:", field(report, "started"));
    line(out, "ended:", field(report, "ended"));
    line(out, "exit status:", field(report, "exit_status") + " (" + field(report, "result") + ")");
    if (std::string failure = failureText(report); !failure.empty()) {
        line(out, "failure:", failure);
    }
    line(out, "fetched:",
         field(report, "bytes_fetched") + " bytes, " + field(report, "bytes_reused") + " reused");
    if (report.contains("products") && report["products"].is_array()) {
        for (const Document& product : report["products"]) {
            std::string text = field(product, "id") + " " + field(product, "name") + " " +
                               field(product, "from_version") + " -> " +
                               field(product, "to_version") + ": " + field(product, "outcome");
            if (std::string failure = failureText(product); !failure.empty()) {
                text += ", " + failure;
            }
            line(out, "product:", text);
        }
    }
    return out;
}
