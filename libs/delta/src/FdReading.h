#pragma once

#include <cstddef>
#include <cstdint>

// Reads until length bytes are in or the file ends and gives the count
// read; an interrupted read is retried. IOException with the system's error
// text on a read error.

// From fd's current position.
size_t readUpTo(int fd, uint8_t* buffer, size_t length);
// From offset, leaving fd's position alone.
size_t readUpToAt(int fd, uint8_t* buffer, size_t length, uint64_t offset);
