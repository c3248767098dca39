#include "download/ResumeSource.h"

#include "io/File.h"
#include "state/PartialFiles.h"

int32_t RecordedResume::resumePoint(const DownloadTarget& target, bool& whole) {
    int32_t from = PartialFiles::resumePoint(target.id, target.url, target.localFile, target.size);
    if (from == kNone && target.size > 0 && File(target.localFile).length() == target.size) {
        // A run cut after the download ended (its record dropped) and before
        // the install leaves the file whole: its digests decide, as for a
        // resumed file, rather than fetching it again.
        from = target.size;
    }
    whole = from > 0 && from == target.size;
    return from;
}

void RecordedResume::starting(const DownloadTarget& target) {
    PartialFiles::begin(target.id, target.url, target.localFile, target.size);
}

void RecordedResume::brokeOff(const DownloadTarget& target) {
    PartialFiles::keep(target.id, target.url, target.localFile, target.size);
}

void RecordedResume::completed(const DownloadTarget& target) {
    PartialFiles::drop(target.id);
}

int32_t OnDiskResume::resumePoint(const DownloadTarget& target, bool& whole) {
    int64_t have = File(target.localFile).length();
    bool recorded = PartialFiles::consume(target.id, have);
    whole = have > 0 && have == target.size;
    if (have > 0) {
        return static_cast<int32_t>(have);
    }
    return recorded ? 0 : kNone;
}
