// Runs the fuzz harness over files and directories of inputs, for builds
// without libFuzzer: the committed corpus becomes a regression test.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
    namespace fs = std::filesystem;
    std::vector<fs::path> inputs;
    for (int i = 1; i < argc; ++i) {
        if (fs::is_directory(argv[i])) {
            for (const auto& item : fs::directory_iterator(argv[i])) {
                if (item.is_regular_file()) inputs.push_back(fs::absolute(item.path()));
            }
        } else {
            inputs.push_back(fs::absolute(argv[i]));
        }
    }
    // Absolute: the harness changes the current directory.
    std::sort(inputs.begin(), inputs.end());
    if (inputs.empty()) {
        std::fprintf(stderr, "corpus driver: no inputs\n");
        return 1;
    }
    for (const auto& path : inputs) {
        std::ifstream in(path, std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "corpus driver: cannot read %s\n", path.c_str());
            return 1;
        }
        std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
        std::fprintf(stderr, "%s\n", path.c_str());
        LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    }
    std::printf("corpus driver: %zu inputs passed\n", inputs.size());
    return 0;
}
