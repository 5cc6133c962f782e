// Writes the project's deterministic sample files into a folder.
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <string>

#include <CLI/CLI.hpp>

#include "samples/fits_samples.h"
#include "samples/text_samples.h"
#include "samples/xisf_samples.h"

int main(int argc, char** argv) {
    CLI::App app{"Writes Corvane's generated sample files"};
    std::string folder;
    bool large = false;
    app.add_option("folder", folder, "Output folder (created when missing)")->required();
    app.add_flag("--large", large, "Also write the 6000 x 4000 benchmark frames");
    CLI11_PARSE(app, argc, argv);

    try {
        std::filesystem::create_directories(folder);
        auto samples = cvsamples::fitsSamples(large);
        for (auto& sample : cvsamples::xisfSamples(large)) samples.push_back(std::move(sample));
        for (auto& sample : cvsamples::textSamples()) samples.push_back(std::move(sample));
        for (const auto& sample : samples) {
            const auto path = std::filesystem::path(folder) / sample.name;
            const std::string bytes = sample.build();
            const auto partial = path.string() + ".part";
            std::ofstream out(partial, std::ios::binary);
            out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
            out.close();
            if (!out) {
                std::fprintf(stderr, "cannot write %s\n", partial.c_str());
                return 1;
            }
            std::filesystem::rename(partial, path);
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    return 0;
}
