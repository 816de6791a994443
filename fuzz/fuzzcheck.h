// What the fuzz targets share: stopping on a broken invariant (abort, so that
// the fuzzer keeps the input), and memory files that the host layer opens by
// path, so that an input needs no file on disk.
#pragma once

#include <cstddef>
#include <cstdint>

// Prints what broke and aborts.
[[noreturn]] void Fail(const char *what);
void Check(bool holds, const char *what);

// A memory file named `name` holding `data`; its descriptor, or -1. Its path
// is /proc/self/fd/<descriptor>.
int MemoryFile(const char *name, const uint8_t *data, size_t size);
