// The firmware scan through the real daemon: tarvold -f with no virtual board
// and no configuration file, so it scans and exits.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "harness.h"
#include "module_description.h"

using harness::json;

namespace {

harness::Process run_daemon(const harness::TempDir &dir, const json &boards, std::vector<std::string> args)
{
    harness::RunOptions options = harness::sim_options(dir, boards);
    args.push_back("-p");
    args.push_back(dir.file("tarvold.pid"));
    options.args = args;
    options.env["virtual_modules"] = "";
    return harness::run(TARVOLD_BIN, options);
}

// Modules 0 and 1 answer too, but lie outside the scan.
json scan_boards()
{
    json modules = {
        {"0", module_named("MERODAN")},
        {"1", module_named("MERODAN")},
        {"2", module_named("MERODAN", json::array(), 0, outcome(3, 8))},
        {"3", module_named("KQ4810 TALVERIN", json::array({{{"name", "V34Enab"}, {"value", 1}}}))},
        {"16", {{"attach", true}, {"presence_a", 0}, {"presence_b", 1}, {"board_name", "CASTOV"}}},
        {"17", {{"attach", false}}},
        {"42", module_named("KQ9999")},
        {"100", module_named("GOLVAR", json::array(), 0, outcome(0), outcome(5, 9))},
        {"127", module_named("CASTOV", json::array(), 24)},
    };
    return {{"modules", modules}};
}

TEST(FirmwareScan, ModulesTwoToOneTwentySevenInOrder)
{
    harness::TempDir dir;
    harness::Process daemon = run_daemon(dir, scan_boards(), {"-f", "/fw", "-n", "7"});
    EXPECT_EQ(daemon.exit_code(), 0) << daemon.err();

    EXPECT_EQ(harness::split_lines(daemon.err()), (std::vector<std::string>{
                                          "Module 0x2 [0,0]",
                                          "Loading firmware for module 0x2",
                                          "Loading PPC firmware [0] from /fw/cp.bin",
                                          "Unable to load PPC firmware (status:3, line_status:8)",
                                          "Unable to load firmware on module 0x2",
                                          "Module 0x3 [4,0]",
                                          "Loading firmware for module 0x3",
                                          "Loading PPC firmware [4] from /fw/cp.bin",
                                          "Loading DSP firmware [4] from /fw/dsp4800_v34.hex",
                                          "unknown mod_type: -1",
                                          "Module 0x64 [6,0]",
                                          "Loading firmware for module 0x64",
                                          "Loading PPC firmware [6] from /fw/cp.bin",
                                          "Loading DSP firmware [6] from /fw/dsp4862_ud.hex",
                                          "Unable to load DSP firmware (status:5, line_status:9)",
                                          "Unable to load firmware on module 0x64",
                                          "Module 0x7f [2,1]",
                                      }));

    const std::vector<json> journal = harness::read_journal(dir.file("journal.jsonl"));
    ASSERT_FALSE(journal.empty());
    EXPECT_EQ(journal.front()["fn"], "zol_driver_reinit");
    EXPECT_EQ(harness::calls(journal, "zol_driver_reinit").size(), 1u);

    // Cut the journal at every attach: each piece is one module's work.
    std::vector<std::vector<json>> modules;
    for (size_t i = 1; i < journal.size(); i++) {
        if (journal[i]["fn"] == "ZolSessionAttach")
            modules.emplace_back();
        ASSERT_FALSE(modules.empty()) << "call before the first attach: " << journal[i].dump();
        modules.back().push_back(journal[i]);
    }
    ASSERT_EQ(modules.size(), 126u);

    for (size_t m = 0; m < modules.size(); m++) {
        const std::vector<json> &calls = modules[m];
        const json &attach = calls.front();
        SCOPED_TRACE("module " + std::to_string(m + 2));
        EXPECT_EQ(attach["in"]["module_number"], m + 2);
        EXPECT_EQ(attach["in"]["attach_setting_a"], 1);
        EXPECT_EQ(attach["in"]["attach_setting_b"], 1);
        EXPECT_EQ(attach["zero"], true);
        if (attach["result"].is_null()) {
            EXPECT_EQ(calls.size(), 1u) << "no call on a module that did not attach";
            continue;
        }
        ASSERT_GE(calls.size(), 4u);
        EXPECT_EQ(calls[1]["fn"], "ZolLineReset");
        EXPECT_EQ(calls[1]["in"]["reset_setting_a"], 1);
        EXPECT_EQ(calls[1]["in"]["reset_setting_b"], 1);
        EXPECT_EQ(calls[1]["zero"], true);
        EXPECT_EQ(calls[2]["fn"], "ZolModuleInfo");
        EXPECT_EQ(calls[2]["in"]["module_number"], m + 2);
        EXPECT_EQ(harness::calls(calls, "ZolSessionDetach").size(), 1u);
        EXPECT_EQ(calls.back()["fn"], "ZolSessionDetach");
        EXPECT_EQ(calls.back()["handle"], attach["result"]);
        EXPECT_EQ(calls.back()["zero"], true);
        for (const json &request : harness::calls(calls, "ZolFirmwareDownload"))
            EXPECT_EQ(request["in"]["firmware_option"], request["in"]["image_kind"] == 2 ? 7 : 0);
    }

    std::vector<int> attached, downloaded_to;
    for (size_t m = 0; m < modules.size(); m++) {
        if (!modules[m].front()["result"].is_null())
            attached.push_back((int)m + 2);
        for (size_t k = 0; k < harness::calls(modules[m], "ZolFirmwareDownload").size(); k++)
            downloaded_to.push_back((int)m + 2);
    }
    EXPECT_EQ(attached, (std::vector<int>{2, 3, 16, 42, 100, 127}));
    EXPECT_EQ(downloaded_to, (std::vector<int>{2, 3, 3, 100, 100}));
}

TEST(FirmwareScan, NothingWithoutFirmwareDirectory)
{
    harness::TempDir dir;
    harness::Process daemon = run_daemon(dir, scan_boards(), {});
    EXPECT_EQ(daemon.exit_code(), 0) << daemon.err();
    const std::vector<json> journal = harness::read_journal(dir.file("journal.jsonl"));
    EXPECT_TRUE(harness::calls(journal, "zol_driver_reinit").empty());
    EXPECT_TRUE(harness::calls(journal, "ZolSessionAttach").empty());
}

// -n is read with strtol base 10 into a 32-bit word: text after the digits is
// ignored, no digits read as 0, and values beyond the word saturate.
TEST(FirmwareScan, FirmwareOptionAsStrtolReadsIt)
{
    const struct {
        const char *text;
        long long option;
    } cases[] = {{"abc", 0}, {"12abc", 12}, {" -3", -3}, {"99999999999", 2147483647LL}, {"-99999999999", -2147483648LL}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        harness::TempDir dir;
        json boards = {{"modules", {{"2", module_named("MERODAN")}}}};
        harness::Process daemon = run_daemon(dir, boards, {"-f", "/fw", "-n", c.text});
        EXPECT_EQ(daemon.exit_code(), 0) << daemon.err();
        std::vector<json> requests =
            harness::calls(harness::read_journal(dir.file("journal.jsonl")), "ZolFirmwareDownload");
        ASSERT_EQ(requests.size(), 2u) << daemon.err();
        EXPECT_EQ(requests[0]["in"]["firmware_option"], c.option);
        EXPECT_EQ(requests[1]["in"]["firmware_option"], 0);
    }
}

} // namespace
