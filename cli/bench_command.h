#pragma once

#include <string>
#include <vector>

namespace corvane_cli {

struct BenchOptions {
    std::vector<std::string> paths;
    std::uint32_t size = 256;
    unsigned repeats = 10;
};

// Renders each file repeatedly as a thumbnail and prints time per picture,
// throughput and bytes read, beside the time to read the whole file.
int runBench(const BenchOptions& options);

}  // namespace corvane_cli
