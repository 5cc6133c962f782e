// corvane: the portable core on the command line.
#include <CLI/CLI.hpp>

#include <map>

#include "cli/bench_command.h"
#include "cli/info_command.h"
#include "cli/listing_command.h"
#include "cli/thumbnail_command.h"
#include "corvane/version.h"

namespace {

constexpr int kBadUsage = 2;

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"Corvane: thumbnails and metadata of astronomical images"};
    app.require_subcommand(1);
    app.set_version_flag("--version", "corvane " CORVANE_VERSION);

    corvane_cli::InfoOptions info;
    auto* infoCommand = app.add_subcommand("info", "Print the decoded header of an image file");
    infoCommand->add_option("FILE", info.path, "FITS, XISF or project file")->required();
    infoCommand->add_flag("--json", info.json, "Print one JSON object");

    corvane_cli::ThumbnailOptions thumbnail;
    auto* thumbnailCommand =
        app.add_subcommand("thumbnail", "Render a file as the thumbnail provider does, to PNG");
    thumbnailCommand->add_option("FILE", thumbnail.path, "FITS, XISF or project file")->required();
    thumbnailCommand->add_option("-o,--output", thumbnail.output, "PNG file to write")->required();
    thumbnailCommand->add_option("--size", thumbnail.size, "Longest side in pixels (0 means 256)");
    bool noStretch = false;
    thumbnailCommand->add_flag("--no-stretch", noStretch,
                               "Show the data as stored, without the automatic stretch");
    thumbnailCommand
        ->add_option("--brightness", thumbnail.settings.brightness, "darker, standard or brighter")
        ->transform(CLI::CheckedTransformer(
            std::map<std::string, cv::Brightness>{{"darker", cv::Brightness::Darker},
                                                  {"standard", cv::Brightness::Standard},
                                                  {"brighter", cv::Brightness::Brighter}}));
    thumbnailCommand
        ->add_option("--cfa", thumbnail.settings.cfaMode,
                     "Colour from Bayer data: auto, color or mono")
        ->transform(CLI::CheckedTransformer(
            std::map<std::string, cv::CfaMode>{{"auto", cv::CfaMode::Automatic},
                                               {"color", cv::CfaMode::AlwaysColor},
                                               {"mono", cv::CfaMode::AlwaysMono}}));
    thumbnailCommand->add_flag("--preview", thumbnail.preview,
                               "Render as the preview pane's full pass (1400 px)");
    thumbnailCommand->add_flag("--report", thumbnail.report, "Print the render report as JSON");

    corvane_cli::BenchOptions bench;
    auto* benchCommand =
        app.add_subcommand("bench", "Time thumbnails of files against reading them whole");
    benchCommand->add_option("FILES", bench.paths, "Image files")->required();
    benchCommand->add_option("--size", bench.size, "Longest side in pixels");
    benchCommand->add_option("--repeats", bench.repeats, "Renders per file")
        ->check(CLI::Range(1u, 10000u));

    std::string listingPath;
    auto* listingCommand = app.add_subcommand(
        "listing", "Print the preview listing of a sequence or process-icon file");
    listingCommand->add_option("FILE", listingPath, "Siril .seq or PixInsight .xpsm file")
        ->required();

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        const int code = app.exit(error);
        return code == 0 ? 0 : kBadUsage;
    }
    if (infoCommand->parsed()) return corvane_cli::runInfo(info);
    if (benchCommand->parsed()) return corvane_cli::runBench(bench);
    if (listingCommand->parsed()) return corvane_cli::runListing(listingPath);
    if (thumbnailCommand->parsed()) {
        thumbnail.settings.autoStretch = !noStretch;
        return corvane_cli::runThumbnail(thumbnail);
    }
    return kBadUsage;
}
