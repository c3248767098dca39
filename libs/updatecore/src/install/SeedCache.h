#pragma once

#include <sys/types.h>

#include <cstdint>
#include <ctime>
#include <vector>

#include "String.h"
#include "io/DirectoryHandle.h"
#include "io/FileDescriptor.h"

// The package file of the version last entered in the inventory, kept per
// product as a source of bytes for rebuilding the next one: ROOT/download/
// lmupdate-seed/ID/FILE, one seed a product. Only bytes are taken from it;
// the rebuilt file is judged by its own size and digests. The directories
// are made 0700 and opened below their parent without following a link,
// and must be the download tree's kind of trusted (root's or the running
// user's, writable by no one else): a seed planted by another user is
// never touched. Seeds are moved in by rename only; the oldest (by
// modification time, set when kept) go first when the cache is over its cap
// or space is needed.
class SeedCache {
public:
    static constexpr int64_t kMiB = 1024 * 1024;
    // kName in kParent of the installation root, whatever the download
    // directory.
    static constexpr const char kParent[] = "download";
    static constexpr const char kName[] = "lmupdate-seed";

    // The cache, its directory made when missing; keep() evicts down to
    // capBytes. Raises UnsafePathException "PATH: REASON" when the directory
    // is a link, no directory or not trusted, IOException when it cannot be
    // made or opened.
    static SeedCache open(int64_t capBytes);

    // Moves the regular file name of directory from (rename only, never a
    // copy) to be product id's seed, replacing its previous one, then evicts
    // down to the cap. False, logged as "LmUpdate: no seed kept: REASON",
    // when it was not kept; the file then stays where it was.
    bool keep(int32_t id, const DirectoryHandle& from, const String& name);
    // The product's seed opened read-only (a regular file, never through a
    // link) with its file name in name when given; a closed descriptor when
    // there is none.
    FileDescriptor openSeed(int32_t id, String* name = nullptr) const;
    // Removes seeds, oldest first, until the cache holds at most capBytes.
    void evict(int64_t capBytes);
    // Removes seeds, oldest first and product spared's last, until at least
    // bytes are freed or none is left; the bytes freed.
    int64_t release(int64_t bytes, int32_t spared);
    // True when path lies on the cache's file system, where removing seeds
    // frees space.
    bool sharesFileSystem(const String& path) const;

    const String& path() const { return root_.path(); }

private:
    struct Seed {
        int32_t id;
        String name;
        int64_t size;
        timespec modified;
    };

    SeedCache(DirectoryHandle root, int64_t capBytes)
        : root_(std::move(root)), capBytes_(capBytes) {}
    // The product's directory, made when missing; raises as open() does.
    DirectoryHandle productDirectory(int32_t id, bool make) const;
    static void removeOthers(const DirectoryHandle& product, const String& name);
    // Every seed, oldest first (product spared's last).
    std::vector<Seed> seeds(int32_t spared = 0) const;
    void addSeeds(const String& entry, std::vector<Seed>& seeds) const;
    // Removes seeds in order until at least bytes are freed; the bytes freed.
    int64_t removeInOrder(const std::vector<Seed>& seeds, int64_t bytes) const;

    DirectoryHandle root_;
    int64_t capBytes_;
};
