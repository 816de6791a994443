// Runs the volume fuzz target without libFuzzer, so that it builds with any
// compiler and CI can replay a corpus: every file named on the command line,
// and every regular file in a named directory, is given to
// LLVMFuzzerTestOneInput once. With --mutate=N every input is also run in N
// mutated forms (a plain deterministic mutation loop for builds without
// libFuzzer); the input being run is written to --save=PATH first, so that a
// crash leaves its reproducer there.
//
// usage: <target>_replay [--mutate=N] [--seed=S] [--save=PATH] FILE|DIR...
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace {

namespace fs = std::filesystem;

bool ReadWhole(const fs::path &path, std::vector<uint8_t> *bytes)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

bool WriteWhole(const std::string &path, const std::vector<uint8_t> &bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes.data()), (std::streamsize)bytes.size());
    return (bool)out;
}

// xorshift64*: the same mutations for the same seed on every machine.
struct Random {
    uint64_t state;
    uint64_t Next()
    {
        state ^= state >> 12;
        state ^= state << 25;
        state ^= state >> 27;
        return state * 0x2545F4914F6CDD1Dull;
    }
    size_t Below(size_t n) { return n ? (size_t)(Next() % n) : 0; }
};

// Offsets that decide the most: the boot sector's fields, and the places where
// FAT entries and directory entries of small images lie.
const size_t kHotOffsets[] = {11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 22, 23, 32, 33, 34, 35,
                              512, 513, 514, 515, 516, 517, 518, 519, 520};
const uint8_t kInteresting[] = {0x00, 0x01, 0x02, 0x0F, 0x10, 0x7F, 0x80, 0xE5, 0xF7, 0xF8, 0xFE, 0xFF, '.', ' '};

void Mutate(std::vector<uint8_t> *bytes, Random *random)
{
    const int steps = 1 + (int)random->Below(4);
    for (int step = 0; step < steps; step++) {
        std::vector<uint8_t> &b = *bytes;
        switch (random->Below(6)) {
        case 0:   // flip one bit
            if (!b.empty())
                b[random->Below(b.size())] ^= (uint8_t)(1u << random->Below(8));
            break;
        case 1:   // an interesting byte anywhere
            if (!b.empty())
                b[random->Below(b.size())] = kInteresting[random->Below(sizeof kInteresting)];
            break;
        case 2: {   // an interesting byte in a field that decides the layout
            const size_t at = kHotOffsets[random->Below(sizeof kHotOffsets / sizeof *kHotOffsets)];
            if (at < b.size())
                b[at] = kInteresting[random->Below(sizeof kInteresting)];
            break;
        }
        case 3:   // cut the image short
            if (!b.empty())
                b.resize(random->Below(b.size()));
            break;
        case 4: {   // copy a 32-byte run (a directory entry's size) elsewhere
            if (b.size() >= 64) {
                const size_t from = random->Below(b.size() - 32), to = random->Below(b.size() - 32);
                std::memmove(&b[to], &b[from], 32);
            }
            break;
        }
        default:   // a random 16-bit value at an even offset
            if (b.size() >= 2) {
                const size_t at = random->Below(b.size() / 2) * 2;
                const uint64_t value = random->Next();
                b[at] = (uint8_t)value;
                b[at + 1] = (uint8_t)(value >> 8);
            }
            break;
        }
    }
}

int Usage(const char *program)
{
    fprintf(stderr, "usage: %s [--mutate=N] [--seed=S] [--save=PATH] FILE|DIR...\n", program);
    return 2;
}

}  // namespace

int main(int argc, char **argv)
{
    unsigned long mutations = 0;
    uint64_t seed = 1;
    std::string save = "/tmp/vantrel_fuzz_current";
    std::vector<fs::path> inputs;
    for (int i = 1; i < argc; i++) {
        const std::string arg = argv[i];
        if (arg.rfind("--mutate=", 0) == 0) {
            mutations = strtoul(arg.c_str() + 9, nullptr, 10);
        } else if (arg.rfind("--seed=", 0) == 0) {
            seed = strtoull(arg.c_str() + 7, nullptr, 10);
        } else if (arg.rfind("--save=", 0) == 0) {
            save = arg.substr(7);
        } else if (arg.rfind("--", 0) == 0) {
            return Usage(argv[0]);
        } else {
            std::error_code error;
            if (fs::is_directory(arg, error)) {
                std::vector<fs::path> found;
                for (const fs::directory_entry &entry : fs::directory_iterator(arg))
                    if (entry.is_regular_file())
                        found.push_back(entry.path());
                std::sort(found.begin(), found.end());
                inputs.insert(inputs.end(), found.begin(), found.end());
            } else {
                inputs.push_back(arg);
            }
        }
    }
    if (inputs.empty())
        return Usage(argv[0]);

    Random random{seed ? seed : 1};
    unsigned long runs = 0;
    for (const fs::path &input : inputs) {
        std::vector<uint8_t> bytes;
        if (!ReadWhole(input, &bytes)) {
            fprintf(stderr, "%s: cannot read %s\n", argv[0], input.c_str());
            return 1;
        }
        LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
        runs++;
        for (unsigned long i = 0; i < mutations; i++) {
            std::vector<uint8_t> mutated = bytes;
            Mutate(&mutated, &random);
            if (!WriteWhole(save, mutated)) {
                fprintf(stderr, "%s: cannot write %s\n", argv[0], save.c_str());
                return 1;
            }
            LLVMFuzzerTestOneInput(mutated.data(), mutated.size());
            runs++;
        }
    }
    printf("%s: %lu inputs run from %zu files\n", argv[0], runs, inputs.size());
    return 0;
}
