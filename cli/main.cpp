// corvane: the portable core on the command line.
#include <CLI/CLI.hpp>

#include "cli/info_command.h"

namespace {

constexpr int kBadUsage = 2;

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"Corvane: thumbnails and metadata of astronomical images"};
    app.require_subcommand(1);

    corvane_cli::InfoOptions info;
    auto* infoCommand = app.add_subcommand("info", "Print the decoded header of an image file");
    infoCommand->add_option("FILE", info.path, "FITS, XISF or project file")->required();
    infoCommand->add_flag("--json", info.json, "Print one JSON object");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        const int code = app.exit(error);
        return code == 0 ? 0 : kBadUsage;
    }
    if (infoCommand->parsed()) return corvane_cli::runInfo(info);
    return kBadUsage;
}
