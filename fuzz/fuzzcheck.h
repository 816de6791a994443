// Shared by the fuzz targets: a broken invariant aborts (the fuzzer keeps the input); inputs are
// memory files, which the host layer opens by their /proc path.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

inline void Check(bool holds, const char *what)
{
    if (!holds)
        fprintf(stderr, "fuzz: %s\n", what), abort();
}

// A memory file holding `data`, its /proc path in `path`; its descriptor.
inline int MemoryFile(const unsigned char *data, size_t size, char (&path)[64])
{
    const int fd = memfd_create("vantrel-fuzz", MFD_CLOEXEC);
    Check(fd >= 0 && write(fd, data, size) == (ssize_t)size, "cannot write a memory file");
    snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
    return fd;
}
