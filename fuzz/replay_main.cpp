// Replays the seeds and fixed findings, folders of inputs, as a test in every host build; each input
// in a block of exactly its size, so that AddressSanitizer sees a read past its end.

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
        std::error_code absent;  // a folder not made yet (no findings) holds nothing
        for (const auto& entry : std::filesystem::directory_iterator(argv[i], absent)) {
            std::ifstream file(entry.path(), std::ios::binary);
            const std::vector<uint8_t> data((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
            std::fprintf(stderr, "%s\n", entry.path().c_str());  // unbuffered: the last one shown failed
            LLVMFuzzerTestOneInput(data.data(), data.size());
            ++replayed;
        }
    }
    std::printf("replayed %zu inputs\n", replayed);
    return replayed == 0;
}
