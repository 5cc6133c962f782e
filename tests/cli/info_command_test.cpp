// The corvane tool run as a user runs it: exit codes and JSON output.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "samples/fits_writer.h"
#include "support/fits_builder.h"

namespace {

struct ToolRun {
    int exitCode;
    std::string output;
};

ToolRun runTool(const std::string& arguments) {
    const std::string command = std::string(CORVANE_TOOL) + " " + arguments + " 2>/dev/null";
    ToolRun run{-1, ""};
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return run;
    char buffer[4096];
    std::size_t got = 0;
    while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0) run.output.append(buffer, got);
    const int status = pclose(pipe);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

class InfoCommand : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = std::filesystem::temp_directory_path() /
                  ("corvane-info-" + std::to_string(::getpid()) + "-" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(folder_);
    }
    void TearDown() override { std::filesystem::remove_all(folder_); }

    std::string write(const std::string& name, const std::string& bytes) {
        const auto path = folder_ / name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path.string();
    }

    std::filesystem::path folder_;
};

TEST_F(InfoCommand, PrintsTheDecodedHeaderAsJson) {
    cvsamples::FitsHeader header = cvsamples::primaryImageHeader(16, {60, 40});
    header.real("BZERO", 32768.0).text("BAYERPAT", "RGGB").text("OBJECT", "M 42");
    const auto path = write("frame.fits", cvtest::hdu(header, 60 * 40 * 2));
    const auto run = runTool("info --json " + path);
    ASSERT_EQ(run.exitCode, 0) << run.output;
    const auto json = nlohmann::json::parse(run.output);
    EXPECT_EQ(json["status"], "Ok");
    EXPECT_EQ(json["kind"], "FITS");
    EXPECT_EQ(json["image"]["width"], 60);
    EXPECT_EQ(json["image"]["sampleFormat"], "Int16");
    EXPECT_EQ(json["image"]["location"], "attachment");
    EXPECT_EQ(json["image"]["position"], 2880);
    EXPECT_EQ(json["image"]["scale"].get<float>(), static_cast<float>(1.0 / 65535.0));
    EXPECT_EQ(json["cfaPattern"], "RGGB");
    EXPECT_EQ(json["headerLength"], 2880);
    EXPECT_EQ(json["hasThumbnail"], false);
    EXPECT_FALSE(json.contains("thumbnail"));
    EXPECT_EQ(json["keywords"].back()["name"], "OBJECT");
    EXPECT_EQ(json["keywords"].back()["value"], "'M 42    '");
    EXPECT_TRUE(json["properties"].empty());
}

TEST_F(InfoCommand, ExitsWithOneAndNamesTheStatusForABadFile) {
    std::string cut = cvsamples::primaryImageHeader(8, {2, 2}).bytes();
    cut.replace(cut.find("END     "), 8, "        ");
    const auto path = write("cut.fits", cut);
    const auto run = runTool("info --json " + path);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(nlohmann::json::parse(run.output)["status"], "Malformed");
    EXPECT_EQ(runTool("info " + write("text.fits", "hello")).exitCode, 1);
    EXPECT_EQ(runTool("info " + (folder_ / "missing.fits").string()).exitCode, 1);
}

TEST_F(InfoCommand, ExitsWithTwoForBadUsage) {
    EXPECT_EQ(runTool("").exitCode, 2);
    EXPECT_EQ(runTool("info").exitCode, 2);
    EXPECT_EQ(runTool("info --bogus x").exitCode, 2);
    EXPECT_EQ(runTool("frobnicate x").exitCode, 2);
}

TEST_F(InfoCommand, NonUtf8HeaderTextStillGivesValidJson) {
    cvsamples::FitsHeader header = cvsamples::primaryImageHeader(8, {2, 2});
    header.raw("OBJECT  = 'caf\xe9'");
    const auto run = runTool("info --json " + write("latin1.fits", cvtest::hdu(header, 4)));
    ASSERT_EQ(run.exitCode, 0);
    EXPECT_TRUE(nlohmann::json::accept(run.output));
}

}  // namespace
