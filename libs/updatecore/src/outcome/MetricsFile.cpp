#include "outcome/MetricsFile.h"

#include <nlohmann/json.hpp>

#include "io/AtomicFileWriter.h"

namespace {

void addMetric(std::string& out, const char* name, const char* type, const char* help,
               const std::string& samples) {
    out += std::string("# HELP ") + name + " " + help + "\n";
    out += std::string("# TYPE ") + name + " " + type + "\n";
    out += samples;
}

std::string sample(const char* name, int64_t value) {
    return std::string(name) + " " + std::to_string(value) + "\n";
}

}  // namespace

std::string MetricsFile::labelValue(const String& value) {
    std::string out;
    for (char c : value.view()) {
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '"':
                out += "\\\"";
                break;
            case '\n':
                out += "\\n";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string MetricsFile::text(const RunReport::Document& report,
                              const Vector<LmProduct>& products) {
    const RunReport::Document& totals = report["totals"];
    std::string out;
    addMetric(out, "lmupdate_last_run_timestamp_seconds", "gauge",
              "When the last run of LmUpdate ended (Unix time).",
              sample("lmupdate_last_run_timestamp_seconds",
                     RunReport::timeIn(report, "ended").value_or(0)));
    if (std::optional<std::time_t> success = RunReport::timeIn(totals, "last_success")) {
        addMetric(out, "lmupdate_last_success_timestamp_seconds", "gauge",
                  "When the last successful run of LmUpdate ended (Unix time).",
                  sample("lmupdate_last_success_timestamp_seconds", *success));
    }
    addMetric(out, "lmupdate_last_exit_status", "gauge", "Exit status of the last run.",
              sample("lmupdate_last_exit_status", report["exit_status"].get<int64_t>()));
    addMetric(out, "lmupdate_fetched_bytes_total", "counter",
              "Bytes received from update servers over all runs.",
              sample("lmupdate_fetched_bytes_total", totals["bytes_fetched"].get<int64_t>()));
    addMetric(out, "lmupdate_reused_bytes_total", "counter",
              "Bytes of block-delta downloads taken from kept packages over all runs.",
              sample("lmupdate_reused_bytes_total", totals["bytes_reused"].get<int64_t>()));
    std::string info;
    for (const LmProduct& product : products) {
        info += "lmupdate_product_info{id=\"" + std::to_string(product.info.id) + "\",version=\"" +
                labelValue(product.version.version) + "\"} 1\n";
    }
    addMetric(out, "lmupdate_product_info", "gauge", "Installed products and their versions.",
              info);
    return out;
}

void MetricsFile::write(const String& path, const RunReport::Document& report,
                        const Vector<LmProduct>& products) {
    std::string content = text(report, products);
    AtomicFileWriter out(path);
    out.forceMode(0644);
    out.write(content.data(), static_cast<int>(content.size()));
    out.commit();
}
