// Replays the seeds and fixed findings (files, or folders of them) as a test in every host build.

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
    size_t replayed = 0;
    for (int i = 1; i < argc; ++i) {
        std::vector<std::filesystem::path> inputs{argv[i]};
        if (std::filesystem::is_directory(argv[i])) inputs.assign(std::filesystem::directory_iterator(argv[i]), {});
        for (const auto& path : inputs) {
            std::ifstream file(path, std::ios::binary);
            const std::vector<char> bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
            if (!file) continue;                                          // not there
            const std::vector<uint8_t> data(bytes.begin(), bytes.end());  // exactly its size, for AddressSanitizer
            std::printf("%s\n", path.c_str());
            std::fflush(stdout);
            LLVMFuzzerTestOneInput(data.data(), data.size());
            ++replayed;
        }
    }
    std::printf("replayed %zu inputs\n", replayed);
    return replayed == 0;
}
