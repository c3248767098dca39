#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "String.h"
#include "Vector.h"

// The members of a zip archive, from one "unzip -Z1" listing of their names
// and one "unzip -Zl" listing of their sizes and flags: enough to tell a
// large package (it holds "large_package_flag"), to refuse an archive whose
// members would land outside the directory it is unpacked in or that asks
// for a password, and to know what unpacking it may write.
class ZipListing {
public:
    // What unpacking some members writes: their sum and the largest one.
    struct Extent {
        uint64_t total = 0;
        uint64_t largest = 0;
    };

    // Lists archive; false when unzip could not (the reason is logged).
    bool read(const String& archive);

    bool contains(const String& name) const;
    // Why a member path is unsafe (absolute, or with a ".." component), ""
    // when none is.
    String unsafeMember() const;
    // "encrypted member NAME" for the first member unzip would ask a
    // password for, "" when none is encrypted.
    String encryptedMember() const;
    // The uncompressed sizes of all members, or of those named.
    Extent extent() const;
    Extent extent(const Vector<String>& members) const;

    // Why unpacking extent into directory is refused: an unsafe or an
    // encrypted member, or more than the disk there can take (DiskSpace);
    // "" when it may go ahead.
    String unpackRefusal(const Extent& extent, const String& directory) const;

    const Vector<String>& names() const { return names_; }

    // Runs unzip (arguments from argument 0 on) so that it can write no file
    // larger than extent's largest member nor wait for an answer: standard
    // input /dev/null, a session of its own without a terminal. The raw wait
    // status; -1 when it could not start.
    static int unzip(const Vector<String>& arguments, const Extent& extent,
                     const String& startFailureLine);

private:
    struct Member {
        uint64_t size = 0;
        bool encrypted = false;
    };

    bool readMembers(const String& archive);
    Extent extentOf(const std::function<bool(const String&)>& counted) const;

    Vector<String> names_;
    std::vector<Member> members_;  // in the order of names_
};
