#include "PartialFiles.h"

#include "CoreHelpers.h"
#include "InstallRoot.h"
#include "LmUpdateCore.h"
#include "LmUpdateStore.h"
#include "Utils.h"
#include "io/File.h"

namespace {

// Whether a broken-off download of product id may be kept for a resume.
bool mayKeepPartialFile(long id, int32_t size) {
    bool forbidden = false;
    try {
        LmUpdateStore store;
        store.load(installPath(kPartialConfigFile));
        SizeLimit limit;
        store.getSizeLimit(limit);
        log("partail minsize: " + decimalText(limit.minSize));
        bool listed = false;
        for (int i = 0; i < limit.ids.size(); ++i) {
            log("partail id: " + decimalText(limit.ids[i]));
            listed = listed || limit.ids[i] == id;
        }
        forbidden = listed || size < limit.minSize;
    } catch (const Exception&) {
        forbidden = false;
    }
    log(String("partail result: ").append(forbidden));
    return !forbidden;
}

// The partial-files store, created empty when the file is missing.
bool loadPartialFiles(LmUpdateStore& store) {
    String path = installPath(kPartialFilesFile);
    try {
        if (!File(path).exists() && createPartialFilesFile() != ResultCode::kOk) {
            return false;
        }
        return store.load(path);
    } catch (const Exception& e) {
        log(e.getMessage());
        return false;
    }
}

bool matchesFile(const LmPartialFileInfo& record, const String& url, const String& localFile,
                 int32_t size) {
    String path = replaceAll(record.path, '$', '/');
    return record.url == url && record.size == size && path.endsWith(localFile) &&
           record.actualSize > 0 && record.actualSize < size &&
           File(record.path).length() == record.actualSize;
}

}  // namespace

int32_t PartialFiles::resumePoint(long id, const String& url, const String& localFile,
                                  int32_t size) {
    LmUpdateStore store;
    LmPartialFileInfo record;
    if (!loadPartialFiles(store) || !store.getPartialFile(static_cast<int32_t>(id), record)) {
        return kNone;
    }
    log("find in  LMUPDATE_PARTIAL_FILE");
    bool matches = matchesFile(record, url, localFile, size);
    store.removePartialFile(static_cast<int32_t>(id));
    if (!matches) {
        log("info in LMUPDATE_PARTIAL_FILE did not match real one " + record.path);
        File stale(record.path);
        if (stale.isFile()) {
            stale.remove();
        }
        return kNone;
    }
    return record.actualSize;
}

void PartialFiles::keep(long id, const String& url, const String& localFile, int32_t size) {
    bool mayKeep = mayKeepPartialFile(id, size);
    long length = File(localFile).length();
    if (length <= 0 || !mayKeep) {
        return;
    }
    LmPartialFileInfo record;
    record.productID = static_cast<int32_t>(id);
    record.url = url;
    record.path = localFile;
    record.size = size;
    record.actualSize = static_cast<int32_t>(length);
    LmUpdateStore store;
    if (loadPartialFiles(store) && store.setPartialFile(record.productID, record)) {
        log("save  PartialFilesInfo: " + localFile + ") success");
    }
}

bool PartialFiles::consume(long id, long localLength) {
    if (!File(installPath(kPartialFilesFile)).exists()) {
        return false;
    }
    LmUpdateStore store;
    try {
        store.load(installPath(kPartialFilesFile));
    } catch (const Exception&) {
        return false;
    }
    LmPartialFileInfo record;
    if (!store.getPartialFile(static_cast<int32_t>(id), record)) {
        return false;
    }
    if (localLength > 0) {
        store.removePartialFile(static_cast<int32_t>(id));
    }
    return true;
}
