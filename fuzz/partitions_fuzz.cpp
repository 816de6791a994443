// Fuzz target: one input is the head of a disk image. The partition-table
// reader runs over it through a read callback that refuses, and reports, any
// read outside the input; every partition it returns must lie inside the
// image and overlap no other, and the probe must describe the first sector
// of the image and of each partition. Callable any number of times.
#include <cstdint>
#include <cstring>
#include <vector>

#include "cli/partitions.h"
#include "cli/probe.h"
#include "fuzzcheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const ReadImage read = [data, size](uint64_t offset, void *buffer, size_t length) {
        Check(offset <= size && length <= size - offset, "the reader read outside the image");
        memcpy(buffer, data + offset, length);
        return true;
    };
    const PartitionTable table = ReadPartitionTable(read, size);
    Check(table.kind != TableKind::None || (table.partitions.empty() && table.error.empty()),
          "partitions or an error without a table");
    std::vector<uint8_t> sector(512);
    for (size_t i = 0; i < table.partitions.size(); i++) {
        const Partition &p = table.partitions[i];
        Check(p.size >= 512 && p.start >= 512 && p.start <= size && p.size <= size - p.start,
              "a partition lies outside the image");
        for (size_t j = 0; j < i; j++) {
            const Partition &q = table.partitions[j];
            Check(p.start >= q.start + q.size || q.start >= p.start + p.size, "two partitions overlap");
        }
        memcpy(sector.data(), data + p.start, 512);
        Check(!ProbeSector(sector.data(), 512).what.empty(), "a partition's first sector is not described");
    }
    Check(!ProbeSector(data, size < 512 ? size : 512).what.empty(), "the first sector is not described");
    return 0;
}
