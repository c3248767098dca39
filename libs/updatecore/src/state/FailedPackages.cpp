#include "state/FailedPackages.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>
#include <utility>

#include "Exception.h"
#include "InstallRoot.h"
#include "StateDocument.h"
#include "StateFileNames.h"
#include "Utils.h"
#include "io/File.h"
#include "io/FileInputStream.h"
#include "report/Report.h"
#include "state/LmDocumentWriter.h"
#include "xml/XMLFactory.h"
#include "xml/XMLNode.h"

namespace {

constexpr char kRoot[] = "LmFailedPackages";
constexpr char kEntry[] = "Package";
constexpr int kMaxFailures = 1000;

// min(1 h * 2^(failures-1), 24 h).
std::time_t interval(int failures) {
    std::time_t length = FailedPackages::kFirstInterval;
    for (int i = 1; i < failures && length < FailedPackages::kLongestInterval; ++i) {
        length *= 2;
    }
    return std::min(length, FailedPackages::kLongestInterval);
}

String attributeOf(const XMLNode& node, const char* name) {
    String value;
    node.getAttribute(String(name), value);
    return value;
}

// Raises Exception for a number that is missing or does not fit.
int32_t numberOf(const XMLNode& node, const char* name) {
    std::optional<int32_t> value = parseFittingNumber(attributeOf(node, name));
    if (!value) {
        throw Exception(String("bad ") + name);
    }
    return *value;
}

std::time_t timeOf(const XMLNode& node, const char* name) {
    std::optional<std::time_t> time = parseUtcTimestamp(attributeOf(node, name));
    if (!time) {
        throw Exception(String("bad ") + name);
    }
    return *time;
}

FailedPackages::Entry readEntry(const XMLNode& node) {
    if (!node.getName().equals(kEntry)) {
        throw Exception("unknown element " + node.getName());
    }
    FailedPackages::Entry entry;
    entry.id = numberOf(node, "id");
    entry.version = attributeOf(node, "version");
    entry.md5 = attributeOf(node, "md5");
    entry.failures = numberOf(node, "failures");
    entry.failed = timeOf(node, "failed");
    entry.until = timeOf(node, "until");
    entry.reason = attributeOf(node, "reason");
    entry.url = attributeOf(node, "url");
    if (entry.failures < 1) {
        throw Exception("bad failures");
    }
    return entry;
}

void appendEntry(XMLTree& tree, const FailedPackages::Entry& entry) {
    std::unique_ptr<XMLTree> element = LmDocumentWriter::appendElement(tree, "/", kEntry);
    if (element) {
        LmDocumentWriter::setAttributes(*element, "/",
                                        {{"id", decimalText(entry.id)},
                                         {"version", entry.version},
                                         {"md5", entry.md5},
                                         {"failures", decimalText(entry.failures)},
                                         {"failed", utcTimestamp(entry.failed)},
                                         {"until", utcTimestamp(entry.until)},
                                         {"reason", entry.reason},
                                         {"url", entry.url}});
    }
}

bool sameKey(const FailedPackages::Entry& entry, const LmPackageInfo& package) {
    return entry.id == package.product.id && entry.version == package.version.version &&
           entry.md5.equalsIgnoreCase(package.md5);
}

}  // namespace

template <class Predicate>
void FailedPackages::dropIf(Predicate predicate) {
    if (std::erase_if(entries_, predicate) > 0) {
        changed_ = true;
    }
}

FailedPackages::FailedPackages() : FailedPackages(installPath(kFailedPackagesFile)) {}

FailedPackages::FailedPackages(String path) : path_(std::move(path)) {
    read();
}

// A file that cannot be read must not stop a run: without its entries the
// packages are fetched once more, and the next save replaces it.
void FailedPackages::read() {
    if (!File(path_).exists()) {
        return;
    }
    try {
        if (readEntries()) {
            return;
        }
        logWarning("LmUpdate: " + path_ + ": malformed, counted as empty");
    } catch (const Exception& e) {
        logWarning("LmUpdate: " + path_ + ": unreadable, counted as empty: " + e.getMessage());
    }
    entries_.clear();
}

bool FailedPackages::readEntries() {
    StateDocument document;
    FileInputStream in(path_);
    if (!document.parse(in) || !document.rootName().equals(kRoot)) {
        return false;
    }
    std::unique_ptr<XMLNode> root = document.getTree().getNode("/");
    const int count = root ? root->getChildCount() : 0;
    for (int i = 0; i < count; ++i) {
        std::unique_ptr<XMLNode> child = root->getChild(i);
        if (child) {
            entries_.push_back(readEntry(*child));
        }
    }
    return true;
}

const FailedPackages::Entry* FailedPackages::skipping(const LmPackageInfo& package,
                                                      std::time_t now) {
    dropIf([&](const Entry& entry) {
        return entry.id == package.product.id && !sameKey(entry, package);
    });
    auto found = find(package);
    if (found == entries_.end() || now >= found->until || found->until - now > kLongestInterval) {
        return nullptr;
    }
    return &*found;
}

void FailedPackages::recordFailure(const LmPackageInfo& package, const String& reason,
                                   std::time_t now) {
    auto found = find(package);
    if (found == entries_.end()) {
        if (entries_.size() >= kMaxEntries) {
            dropOldest();
        }
        Entry entry;
        entry.id = package.product.id;
        entry.version = package.version.version;
        entry.md5 = package.md5.toLowerCase();
        entries_.push_back(std::move(entry));
        found = entries_.end() - 1;
    }
    // A count read from the file must not overflow; the interval stopped
    // growing long before.
    found->failures = std::min(found->failures, kMaxFailures) + 1;
    found->failed = now;
    found->until = now + interval(found->failures);
    found->reason = reason;
    found->url = package.url;
    changed_ = true;
}

void FailedPackages::forget(const LmPackageInfo& package) {
    dropIf([&](const Entry& entry) { return sameKey(entry, package); });
}

void FailedPackages::forgetProduct(int32_t id) {
    dropIf([&](const Entry& entry) { return entry.id == id; });
}

bool FailedPackages::save() {
    if (!changed_) {
        return true;
    }
    try {
        std::unique_ptr<XMLTree> tree = newXMLTree();
        tree->createNode(kRoot);
        for (const Entry& entry : entries_) {
            appendEntry(*tree, entry);
        }
        LmDocumentWriter::writeFile(*tree, path_);
        changed_ = false;
        return true;
    } catch (const Exception& e) {
        logError("LmUpdate: save failed packages failed: " + e.getMessage());
        return false;
    }
}

std::vector<FailedPackages::Entry>::iterator FailedPackages::find(const LmPackageInfo& package) {
    return std::find_if(entries_.begin(), entries_.end(),
                        [&](const Entry& entry) { return sameKey(entry, package); });
}

void FailedPackages::dropOldest() {
    auto oldest =
        std::min_element(entries_.begin(), entries_.end(),
                         [](const Entry& a, const Entry& b) { return a.failed < b.failed; });
    if (oldest != entries_.end()) {
        entries_.erase(oldest);
    }
}
