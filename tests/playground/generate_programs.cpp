// Writes random programs from the differential fuzzer's generator, one file
// each (program-N.velm in the given folder), from a fixed seed: the playground
// tests run them in WebAssembly and natively and compare.
//   generate_programs <folder> <count>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "program_generator.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: generate_programs <folder> <count>\n");
        return 2;
    }
    std::mt19937 random(20261210);
    const int count = std::atoi(argv[2]);
    for (int n = 0; n < count; n++) {
        std::vector<uint8_t> bytes(100 + random() % 700);
        for (uint8_t& b : bytes) b = static_cast<uint8_t>(random());
        vl_generated::Generator generator;
        generator.in = {bytes.data(), bytes.size()};
        generator.statements(0, "");
        std::string path = std::string(argv[1]) + "/program-" + std::to_string(n) + ".velm";
        std::FILE* file = std::fopen(path.c_str(), "wb");
        if (!file || std::fwrite(generator.source.data(), 1, generator.source.size(), file) != generator.source.size() ||
            std::fclose(file) != 0) {
            std::fprintf(stderr, "cannot write %s\n", path.c_str());
            return 1;
        }
    }
    return 0;
}
