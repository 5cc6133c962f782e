// The corvane tool run as a user runs it: exit codes and JSON output.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <regex>

#include "corvane/version.h"
#include "samples/xisf_writer.h"
#include "samples/fits_writer.h"
#include "support/fits_builder.h"
#include "support/tool_runner.h"

namespace {

using cvtest::runTool;

class InfoCommand : public cvtest::ToolTest {};

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

TEST_F(InfoCommand, SaysWhereTheSamplesLie) {
    cvsamples::XisfBlock block;
    block.width = 40;
    block.height = 30;
    block.samples.assign(40 * 30 * 2, '\x11');
    block.placement = cvsamples::XisfBlock::Placement::Embedded;
    block.codec = "zstd";
    block.shuffleItemSize = 2;
    cvsamples::XisfWriter writer;
    writer.addImage(block);
    const auto embedded = runTool("info " + write("embedded.xisf", writer.bytes()));
    ASSERT_EQ(embedded.exitCode, 0);
    EXPECT_TRUE(std::regex_search(embedded.output,
                                  std::regex(", embedded, zstd\\+sh, [0-9]+ bytes, scale")))
        << embedded.output;
    const auto attached = runTool(
        "info " + write("frame.fits", cvtest::hdu(cvsamples::primaryImageHeader(8, {2, 2}), 4)));
    EXPECT_NE(attached.output.find(", data at 2880 (4 bytes), "), std::string::npos)
        << attached.output;
}

TEST_F(InfoCommand, PrintsItsVersion) {
    const auto run = runTool("--version");
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.output, "corvane " CORVANE_VERSION "\n");
}

TEST_F(InfoCommand, PrintsNoEscapeSequenceFromTheFile) {
    cvsamples::FitsHeader header = cvsamples::primaryImageHeader(8, {2, 2});
    header.raw("BAYERPAT= '\x1b[2J'");
    const auto run = runTool("info " + write("escape.fits", cvtest::hdu(header, 4)));
    ASSERT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.output.find('\x1b'), std::string::npos) << run.output;
    EXPECT_NE(run.output.find(", Bayer \xEF\xBF\xBD[2J"), std::string::npos) << run.output;
}

TEST_F(InfoCommand, JsonEscapesWhatATerminalWouldObeyAndKeepsTheValue) {
    const std::string controls = "\x7f\xc2\x9b\xe2\x80\xae\xe2\x81\xa6";
    cvsamples::FitsHeader header = cvsamples::primaryImageHeader(8, {2, 2});
    header.text("OBJECT", "M" + controls + "\xc2\xb0");
    const auto run = runTool("info --json " + write("c1.fits", cvtest::hdu(header, 4)));
    ASSERT_EQ(run.exitCode, 0);
    EXPECT_NE(run.output.find("M\\u007f\\u009b\\u202e\\u2066\xc2\xb0"), std::string::npos)
        << run.output;
    EXPECT_EQ(nlohmann::json::parse(run.output)["keywords"].back()["value"],
              "'M" + controls + "\xc2\xb0'");
}

TEST_F(InfoCommand, NonUtf8HeaderTextStillGivesValidJson) {
    cvsamples::FitsHeader header = cvsamples::primaryImageHeader(8, {2, 2});
    header.raw("OBJECT  = 'caf\xe9'");
    const auto run = runTool("info --json " + write("latin1.fits", cvtest::hdu(header, 4)));
    ASSERT_EQ(run.exitCode, 0);
    EXPECT_TRUE(nlohmann::json::accept(run.output));
}

}  // namespace

namespace {

class TextKinds : public cvtest::ToolTest {};

TEST_F(TextKinds, InfoNamesTheFamilyAndItsProperties) {
    const auto sequence =
        cvtest::runTool("info --json " + write("a.seq", "S 'a' 1 5 4 5 0 4\nI 1 1\n"));
    ASSERT_EQ(sequence.exitCode, 0);
    const auto json = nlohmann::json::parse(sequence.output);
    EXPECT_EQ(json["kind"], "Siril sequence");
    EXPECT_EQ(json["status"], "Ok");
    EXPECT_EQ(json["shellProperties"][1]["name"], "Corvane.Frames");
    EXPECT_EQ(json["shellProperties"][1]["value"], 5);

    const auto icons = cvtest::runTool(
        "info --json " + write("a.xpsm", "<xpsm><instance class='A' id='a'/></xpsm>"));
    ASSERT_EQ(icons.exitCode, 0);
    EXPECT_EQ(nlohmann::json::parse(icons.output)["kind"], "process icons");

    const auto broken =
        cvtest::runTool("info --json " + write("b.seq", "#Siril sequence file\nno header\n"));
    EXPECT_EQ(broken.exitCode, 1);
    EXPECT_EQ(nlohmann::json::parse(broken.output)["status"], "Malformed");
}

TEST_F(TextKinds, ListingPrintsTheFourTextsOrSaysWhyNot) {
    const auto listing = cvtest::runTool("listing " + write("a.seq", "S 'a' 1 1 1 5 0 4\nI 1 1\n"));
    ASSERT_EQ(listing.exitCode, 0);
    EXPECT_EQ(listing.output.substr(0, listing.output.find('\n')), "1 frame, 1 selected");
    EXPECT_NE(listing.output.find("Frame  Used\r\n    1   yes\r\n"), std::string::npos);
    EXPECT_EQ(
        cvtest::runTool("listing " + write("b.seq", "#Siril sequence file\nno header\n")).exitCode,
        1);
    EXPECT_EQ(cvtest::runTool("listing " + write("c.fits", "SIMPLE  = T")).exitCode, 1);
    EXPECT_EQ(cvtest::runTool("listing").exitCode, 2);
}

}  // namespace
