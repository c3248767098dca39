#include "state/PartialFiles.h"

#include "InstallRoot.h"
#include "LmUpdateCore.h"
#include "Utils.h"
#include "io/File.h"
#include "report/Report.h"
#include "state/LmUpdateStore.h"
#include "state/StateFiles.h"

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
        if (!File(path).exists() && !createPartialFilesFile()) {
            return false;
        }
        return store.load(path);
    } catch (const Exception& e) {
        logError(e.getMessage());
        return false;
    }
}

// The record's actualSize is informative only: a run killed after it was
// written leaves more on disk, and what is on disk is what resumes. A whole
// file matches too: the run was cut before it dropped the record, and the
// digest checks decide.
bool matchesFile(const LmPartialFileInfo& record, const String& url, const String& localFile,
                 int32_t size, int64_t have) {
    String path = replaceAll(record.path, '$', '/');
    return record.url == url && record.size == size && path.endsWith(localFile) && have > 0 &&
           have <= size;
}

// Writes record in place of any earlier one of its product.
void writeRecord(const LmPartialFileInfo& record) {
    LmUpdateStore store;
    if (loadPartialFiles(store) && store.setPartialFile(record.productID, record)) {
        log("save  PartialFilesInfo: " + record.path + ") success");
    }
}

LmPartialFileInfo recordOf(long id, const String& url, const String& localFile, int32_t size,
                           int64_t length) {
    LmPartialFileInfo record;
    record.productID = static_cast<int32_t>(id);
    record.url = url;
    record.path = localFile;
    record.size = size;
    record.actualSize = static_cast<int32_t>(length < 0 ? 0 : length);
    return record;
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
    int64_t have = File(record.path).length();
    // A matching record stays until the download replaces it in one save
    // (begin, keep) or drops it once the file is whole.
    if (!matchesFile(record, url, localFile, size, have)) {
        store.removePartialFile(static_cast<int32_t>(id));
        logWarning("info in LMUPDATE_PARTIAL_FILE did not match real one " + record.path);
        File stale(record.path);
        if (stale.isFile()) {
            stale.remove();
        }
        return kNone;
    }
    return static_cast<int32_t>(have);
}

void PartialFiles::keep(long id, const String& url, const String& localFile, int32_t size) {
    bool mayKeep = mayKeepPartialFile(id, size);
    int64_t length = File(localFile).length();
    if (length <= 0 || !mayKeep) {
        return;
    }
    writeRecord(recordOf(id, url, localFile, size, length));
}

void PartialFiles::begin(long id, const String& url, const String& localFile, int32_t size) {
    if (mayKeepPartialFile(id, size)) {
        writeRecord(recordOf(id, url, localFile, size, File(localFile).length()));
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

void PartialFiles::drop(long id) {
    consume(id, 1);
}
