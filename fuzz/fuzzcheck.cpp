// The fuzz targets' shared checks and memory files.
#include "fuzzcheck.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

void Fail(const char *what)
{
    fprintf(stderr, "fuzz: %s\n", what);
    fflush(stderr);
    abort();
}

void Check(bool holds, const char *what)
{
    if (!holds)
        Fail(what);
}

int MemoryFile(const char *name, const uint8_t *data, size_t size)
{
    const int fd = memfd_create(name, MFD_CLOEXEC);
    if (fd < 0)
        return -1;
    size_t done = 0;
    while (done < size) {
        const ssize_t n = write(fd, data + done, size - done);
        if (n <= 0) {
            close(fd);
            return -1;
        }
        done += (size_t)n;
    }
    return fd;
}
