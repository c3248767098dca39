#pragma once

#include "String.h"
#include "Vector.h"

// The member names of a zip archive, from one "unzip -Z1" listing: enough
// to tell a large package (it holds "large_package_flag") and to refuse an
// archive whose members would land outside the directory it is unpacked in.
class ZipListing {
public:
    // Lists archive; false when unzip could not (the reason is logged).
    bool read(const String& archive);

    bool contains(const String& name) const;
    // Why a member path is unsafe (absolute, or with a ".." component), ""
    // when none is.
    String unsafeMember() const;

    const Vector<String>& names() const { return names_; }

private:
    Vector<String> names_;
};
