#include "state/LmDocumentWriter.h"

#include <utility>

#include "Utils.h"
#include "io/AtomicFileWriter.h"
#include "report/Report.h"
#include "xml/XMLNode.h"

std::unique_ptr<XMLTree> LmDocumentWriter::appendElement(XMLTree& tree, const String& parentPath,
                                                         const char* name) {
    std::unique_ptr<XMLNode> parent = tree.getNode(parentPath);
    if (!parent) {
        return nullptr;
    }
    const int position = parent->getChildCount();
    if (!tree.addNode(parentPath, name)) {
        return nullptr;
    }
    String childPath = parentPath.endsWith("/") ? parentPath : parentPath + "/";
    return tree.getSubtree(childPath + name, position);
}

void LmDocumentWriter::setAttributes(XMLTree& tree, const String& path, Attributes attributes) {
    for (const auto& [name, value] : attributes) {
        tree.setAttribute(path, name, value);
    }
}

void LmDocumentWriter::appendVersion(XMLTree& element, const LmVersionInfo& version) {
    if (version.numeric) {
        element.addNode("/", "LmVersionInfo");
        setAttributes(element, "LmVersionInfo",
                      {{"major", decimalText(version.major)},
                       {"minor", decimalText(version.minor)},
                       {"patchLevel", decimalText(version.patchLevel)},
                       {"buildNum", decimalText(version.buildNum)},
                       {"status", version.status},
                       {"desc", version.desc}});
    } else {
        element.addNode("/", "ExtVersionInfo");
        setAttributes(
            element, "ExtVersionInfo",
            {{"version", version.version}, {"status", version.status}, {"desc", version.desc}});
    }
}

void LmDocumentWriter::appendPackage(XMLTree& list, const LmPackageInfo& package) {
    std::unique_ptr<XMLTree> element = appendElement(list, "/", "PackageInfo");
    if (!element) {
        return;
    }
    setAttributes(*element, "/", {{"path", package.path}, {"file", package.file}});
    element->addNode("/", "ProductInfo");
    setAttributes(*element, "ProductInfo",
                  {{"id", decimalText(package.product.id)},
                   {"name", package.product.name},
                   {"desc", package.product.desc},
                   {"installPath", package.product.installPath}});
    element->addNode("/", "PlatformInfo");
    setAttributes(*element, "PlatformInfo",
                  {{"arch", package.platform.arch},
                   {"os", package.platform.os},
                   {"vendor", package.platform.vendor},
                   {"version", package.platform.version}});
    appendVersion(*element, package.version);
    element->addNode("/", "DownloadInfo");
    setAttributes(*element, "DownloadInfo",
                  {{"url", package.url},
                   {"md5", package.md5},
                   {"size", decimalText(package.size)},
                   {"time", package.time},
                   {"result", decimalText(package.downloadResult)}});
    // Written only when announced, so unsigned lists keep their old form.
    for (const auto& [name, value] :
         {std::pair<const char*, const String&>{"sha256", package.sha256},
          std::pair<const char*, const String&>{"signature", package.signature}}) {
        if (!value.isEmpty()) {
            element->setAttribute("DownloadInfo", name, value);
        }
    }
    element->addNode("/", "RunInfo");
    setAttributes(*element, "RunInfo",
                  {{"format", package.format},
                   {"installScript", package.installScript},
                   {"result", decimalText(package.runResult)}});
}

void LmDocumentWriter::writeFile(const XMLTree& tree, const String& path) {
    try {
        // Replaced whole: a save that fails half-way keeps the old document.
        AtomicFileWriter out(path);
        tree.write(out);
        out.commit();
    } catch (const IOException& e) {
        // The cause, in one form for every state file; the caller says
        // which step failed.
        logError("LmUpdate: cannot write " + e.getMessage());
        throw;
    }
}
