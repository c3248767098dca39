#pragma once

#include <cstdint>

// What one parse may cost. A document over any of these fails to parse and
// the parser's error text names the limit. The defaults bound any document
// this system reads; network() and localState() are the tighter figures for
// server answers and for the client's own state files.
struct XMLLimits {
    int64_t maxDocumentBytes = int64_t{16} * 1024 * 1024;
    int maxElements = 1000000;
    int maxDepth = 256;
    int maxNameBytes = 256;                 // element and attribute names
    int maxAttributes = 64;                 // attributes of one element
    int64_t maxAttributeBytes = 64 * 1024;  // the values of one element together

    // Answers of update servers.
    static XMLLimits network() {
        XMLLimits limits = localState();
        limits.maxElements = 100000;
        return limits;
    }
    // Documents the client keeps in its installation root: an inventory of
    // ten thousand products must still load.
    static XMLLimits localState() {
        XMLLimits limits;
        limits.maxDepth = 32;
        return limits;
    }
};
