#include "install/SeedCache.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "Exception.h"
#include "InstallRoot.h"
#include "Utils.h"
#include "io/File.h"
#include "report/Report.h"

namespace {

constexpr mode_t kDirectoryMode = 0700;

void logNotKept(const String& reason) {
    logWarning("LmUpdate: no seed kept: " + reason);
}

bool olderThan(const timespec& a, const timespec& b) {
    return a.tv_sec != b.tv_sec ? a.tv_sec < b.tv_sec : a.tv_nsec < b.tv_nsec;
}

// The product id a directory entry names: its canonical decimal text only.
bool productId(const String& entry, int32_t& id) {
    int value = 0;
    if (!tryParseNumber(entry, value) || value <= 0 || decimalText(value) != entry) {
        return false;
    }
    id = value;
    return true;
}

}  // namespace

SeedCache SeedCache::open(int64_t capBytes) {
    String parent = installPath(kParent);
    File directory(parent);
    if (!directory.isDirectory()) {
        directory.mkdirs();
    }
    DirectoryHandle root = DirectoryHandle::open(parent).subdirectory(kName, kDirectoryMode);
    root.requireTrusted();
    return SeedCache(std::move(root), capBytes);
}

bool SeedCache::keep(int32_t id, const DirectoryHandle& from, const String& name) {
    try {
        DirectoryHandle product = productDirectory(id, true);
        from.renameFile(name, product, name);
        // Its age counts from now: it is the newest seed.
        ::futimens(product.openForReading(name).get(), nullptr);
        removeOthers(product, name);
    } catch (const IOException& e) {
        logNotKept(e.getMessage());
        return false;
    }
    evict(capBytes_);
    if (!openSeed(id).isOpen()) {
        logNotKept(decimalText(id) + "/" + name + ": larger than the cap of " +
                   decimalText(capBytes_) + " bytes");
        return false;
    }
    return true;
}

FileDescriptor SeedCache::openSeed(int32_t id, String* name) const {
    try {
        DirectoryHandle product = productDirectory(id, false);
        for (const String& entry : product.entryNames()) {
            if (product.entryProblem(entry).isEmpty()) {
                if (name != nullptr) {
                    *name = entry;
                }
                return product.openForReading(entry);
            }
        }
    } catch (const IOException&) {
        // none, or none that may be read
    }
    return FileDescriptor();
}

void SeedCache::evict(int64_t capBytes) {
    std::vector<Seed> all = seeds();
    int64_t total = 0;
    for (const Seed& seed : all) {
        total += seed.size;
    }
    if (total > capBytes) {
        removeInOrder(all, total - capBytes);
    }
}

int64_t SeedCache::release(int64_t bytes, int32_t spared) {
    return removeInOrder(seeds(spared), bytes);
}

bool SeedCache::sharesFileSystem(const String& path) const {
    struct stat cache {};
    struct stat other {};
    return ::stat(root_.path().c_str(), &cache) == 0 && ::stat(path.c_str(), &other) == 0 &&
           cache.st_dev == other.st_dev;
}

DirectoryHandle SeedCache::productDirectory(int32_t id, bool make) const {
    String name = decimalText(id);
    DirectoryHandle product =
        make ? root_.subdirectory(name, kDirectoryMode) : root_.existingSubdirectory(name);
    product.requireTrusted();
    return product;
}

// The previous seed under another file name goes; one seed a product.
void SeedCache::removeOthers(const DirectoryHandle& product, const String& name) {
    for (const String& entry : product.entryNames()) {
        if (entry != name) {
            product.removeTree(entry);
        }
    }
}

std::vector<SeedCache::Seed> SeedCache::seeds(int32_t spared) const {
    std::vector<Seed> seeds;
    try {
        for (const String& entry : root_.entryNames()) {
            addSeeds(entry, seeds);
        }
    } catch (const IOException& e) {
        logError("LmUpdate: " + e.getMessage());
    }
    std::sort(seeds.begin(), seeds.end(), [spared](const Seed& a, const Seed& b) {
        if ((a.id == spared) != (b.id == spared)) {
            return b.id == spared;
        }
        return olderThan(a.modified, b.modified) ||
               (!olderThan(b.modified, a.modified) && a.id < b.id);
    });
    return seeds;
}

// The regular files of a trusted product directory; anything else, and
// what lies in a directory another user could change, is left alone.
void SeedCache::addSeeds(const String& entry, std::vector<Seed>& seeds) const {
    int32_t id = 0;
    if (!productId(entry, id)) {
        return;
    }
    try {
        DirectoryHandle product = productDirectory(id, false);
        for (const String& name : product.entryNames()) {
            struct stat status {};
            if (product.entryProblem(name).isEmpty() &&
                ::fstat(product.openForReading(name).get(), &status) == 0) {
                seeds.push_back({id, name, static_cast<int64_t>(status.st_size), status.st_mtim});
            }
        }
    } catch (const IOException& e) {
        logWarning("LmUpdate: seed skipped: " + e.getMessage());
    }
}

int64_t SeedCache::removeInOrder(const std::vector<Seed>& seeds, int64_t bytes) const {
    int64_t freed = 0;
    for (const Seed& seed : seeds) {
        if (freed >= bytes) {
            break;
        }
        try {
            if (productDirectory(seed.id, false).removeTree(seed.name)) {
                freed += seed.size;
                log("LmUpdate: seed removed: " + decimalText(seed.id) + "/" + seed.name);
            }
        } catch (const IOException& e) {
            logError("LmUpdate: " + e.getMessage());
        }
    }
    return freed;
}
