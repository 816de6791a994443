// Runs a fuzz target without libFuzzer: each file of the folders named, as it is and, with --mutate=N, in
// N forms changed at a few bytes (half of them in the first 64, where the headers lie) or cut short.
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const unsigned char *data, size_t size);

int main(int argc, char **argv)
{
    unsigned long mutations = 0;
    std::vector<std::filesystem::path> inputs;
    for (int i = 1; i < argc; i++) {
        if (strncmp(argv[i], "--mutate=", 9) == 0)
            mutations = strtoul(argv[i] + 9, nullptr, 10);
        else if (std::filesystem::is_directory(argv[i]))
            for (const auto &entry : std::filesystem::directory_iterator(argv[i]))
                inputs.push_back(entry.path());
    }
    std::sort(inputs.begin(), inputs.end());
    std::mt19937 random(1);
    for (const auto &input : inputs) {
        std::ifstream in(input, std::ios::binary);
        std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        for (unsigned long n = 0; n <= mutations; n++) {
            std::vector<unsigned char> changed = bytes;
            for (unsigned step = n ? random() % 4 : 4; step < 4 && !changed.empty(); step++) {
                const size_t span = random() % 2 ? std::min<size_t>(64, changed.size()) : changed.size();
                changed[random() % span] ^= 1 + random() % 255;
            }
            const size_t size = changed.size();
            LLVMFuzzerTestOneInput(changed.data(), n && random() % 8 == 0 ? random() % (size + 1) : size);
        }
    }
    return inputs.empty() ? 2 : 0;
}
