// Firmware download for one module, called in-process against the stand-in:
// the images of each board type, the two requests, the image paths, and the
// log lines of every outcome.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "board_detect.h"
#include "daemon.h"
#include "firmware.h"
#include "module_description.h"
#include "in_process.h"

using harness::json;
using lines = std::vector<std::string>;

namespace {

class Download : public harness::InProcessStandIn {
protected:
    // Downloads one board type's images to a module that loads everything.
    lines download(const std::string &firmware_dir, int board_type, int expected_result, int firmware_option = 0)
    {
        use({{"modules", {{"2", module_named("MERODAN")}}}});
        ZolHandle module = attach_module(2);
        EXPECT_NE(module, nullptr);
        lines logged = logged_lines([&] {
            EXPECT_EQ(download_module_firmware(module, firmware_dir.c_str(), board_type, firmware_option),
                      expected_result);
        });
        detach_module(module);
        return logged;
    }

    std::vector<std::string> image_paths() const
    {
        std::vector<std::string> paths;
        for (const json &request : calls("ZolFirmwareDownload"))
            paths.push_back(request["in"]["image_path"]);
        return paths;
    }
};

TEST_F(Download, ImagesOfEachBoardType)
{
    const char *dsp_images[8] = {"dsp4800_ld.hex", "dsp4800_ld.hex", "dsp4800.hex",    "dsp4800.hex",
                                 "dsp4800_v34.hex", "dsp4800_ud.hex", "dsp4862_ud.hex", "dsp4800_ld.hex"};
    use({{"modules", {{"2", module_named("MERODAN")}}}});
    ZolHandle module = attach_module(2);
    ASSERT_NE(module, nullptr);
    for (int board_type = 0; board_type < 8; board_type++) {
        SCOPED_TRACE("board type " + std::to_string(board_type));
        const size_t before = calls("ZolFirmwareDownload").size();
        const std::string dsp_path = std::string("/fw/") + dsp_images[board_type];
        lines logged = logged_lines([&] { EXPECT_EQ(download_module_firmware(module, "/fw", board_type, 0), 0); });
        EXPECT_EQ(logged, (lines{"Loading PPC firmware [" + std::to_string(board_type) + "] from /fw/cp.bin",
                                 "Loading DSP firmware [" + std::to_string(board_type) + "] from " + dsp_path}));
        std::vector<std::string> paths = image_paths();
        paths.erase(paths.begin(), paths.begin() + (long)before);
        EXPECT_EQ(paths, (std::vector<std::string>{"/fw/cp.bin", dsp_path}));
    }
    detach_module(module);
}

TEST_F(Download, PpcThenDspRequest)
{
    download("/fw", BOARD_TYPE_TALVERIN, 0, 9);

    const std::vector<json> requests = calls("ZolFirmwareDownload");
    ASSERT_EQ(requests.size(), 2u);
    const json expected_ppc = {{"image_path", "/fw/cp.bin"}, {"download_setting_a", 1}, {"image_kind", 2},
                               {"download_setting_b", -1},   {"firmware_option", 9}};
    const json expected_dsp = {{"image_path", "/fw/dsp4800.hex"}, {"download_setting_a", 1}, {"image_kind", 1},
                               {"download_setting_b", -1},        {"firmware_option", 0}};
    for (const auto &[request, expected] : {std::pair{requests[0], expected_ppc}, {requests[1], expected_dsp}}) {
        for (const auto &[field, value] : expected.items())
            EXPECT_EQ(request["in"][field], value) << field;
        EXPECT_EQ(request["zero"], true);
        EXPECT_EQ(request["handle"], requests[0]["handle"]);
    }
}

TEST_F(Download, ImagePathsJoinTheDirectoryUnchanged)
{
    struct PathCase {
        const char *label;
        std::string firmware_dir;
        int board_type;
    };
    const PathCase cases[] = {
        {"empty directory", "", 0},
        {"trailing slash kept", "fw/", 2},
        {"relative with a space", "my fw", 5},
        {"DSP path of exactly 255 characters", std::string(239, 'd'), 4},
        {"DSP path of 255 characters, 14-character name", std::string(240, 'd'), 0},
    };
    for (const PathCase &c : cases) {
        SCOPED_TRACE(c.label);
        download(c.firmware_dir, c.board_type, 0);
        const std::vector<std::string> paths = image_paths();
        ASSERT_EQ(paths.size(), 2u);
        EXPECT_EQ(paths[0], c.firmware_dir + "/cp.bin");
        EXPECT_EQ(paths[1].substr(0, c.firmware_dir.size() + 1), c.firmware_dir + "/");
    }
}

// A directory too long for either image path: nothing is sent, one line names the image.
TEST_F(Download, ImagePathTooLongDownloadsNothing)
{
    struct LongCase {
        const char *label;
        size_t dir_length;
        int board_type;
        const char *image;
    };
    const LongCase cases[] = {
        {"PPC path of 256 characters", 249, 0, "cp.bin"},
        {"DSP path of 256 characters", 240, 4, "dsp4800_v34.hex"},
        {"far too long", 600, 6, "cp.bin"},
    };
    for (const LongCase &c : cases) {
        SCOPED_TRACE(c.label);
        lines logged = download(std::string(c.dir_length, 'd'), c.board_type, -5);
        ASSERT_EQ(logged.size(), 1u);
        EXPECT_NE(logged[0].find("too long"), std::string::npos) << logged[0];
        EXPECT_NE(logged[0].find(c.image), std::string::npos) << logged[0];
        EXPECT_TRUE(calls("ZolFirmwareDownload").empty());
    }
}

struct PrepareCase {
    const char *label;
    int module_number;
    json module; // null: not listed, so no module answers there
    int result;
    lines logged;
    size_t downloads;
};

TEST_F(Download, PrepareModuleOutcomes)
{
    const json absent = {{"attach", false}};
    const json no_presence = {{"attach", true}, {"presence_a", 1}, {"presence_b", 0}, {"board_name", "CASTOV"}};
    const PrepareCase cases[] = {
        {"no module", 0x1a, absent, MODULE_ABSENT, {}, 0},
        {"no module, not listed", 0x1b, nullptr, MODULE_ABSENT, {}, 0},
        {"detection fails", 0x1c, no_presence, MODULE_PREPARED, {}, 0},
        {"family not recognised", 0x1d, module_named("KQ9999"), MODULE_PREPARED, {"unknown mod_type: -1"}, 0},
        {"firmware already running", 0x1e, module_named("CASTOV", json::array(), 24), MODULE_FIRMWARE_RUNNING,
         {"Module 0x1e [2,1]"}, 0},
        {"running, type 22", 0x1f, module_named("DUNVAL", json::array(), 2), MODULE_FIRMWARE_RUNNING,
         {"Module 0x1f [22,1]"}, 0},
        {"both images loaded", 0x2a,
         module_named("KQ4810 TALVERIN", json::array({{{"name", "V34Enab"}, {"value", 1}}})),
         MODULE_PREPARED,
         {"Module 0x2a [4,0]", "Loading firmware for module 0x2A", "Loading PPC firmware [4] from /fw/cp.bin",
          "Loading DSP firmware [4] from /fw/dsp4800_v34.hex"},
         2},
        {"PPC download failed", 0x3b, module_named("MERODAN", json::array(), 0, outcome(3, 8)),
         MODULE_PREPARED,
         {"Module 0x3b [0,0]", "Loading firmware for module 0x3B", "Loading PPC firmware [0] from /fw/cp.bin",
          "Unable to load PPC firmware (status:3, line_status:8)", "Unable to load firmware on module 0x3B"},
         1},
        {"DSP download failed", 0x4c, module_named("GOLVAR", json::array(), 0, outcome(0), outcome(-2, 11)),
         MODULE_PREPARED,
         {"Module 0x4c [6,0]", "Loading firmware for module 0x4C", "Loading PPC firmware [6] from /fw/cp.bin",
          "Loading DSP firmware [6] from /fw/dsp4862_ud.hex", "Unable to load DSP firmware (status:-2, line_status:11)",
          "Unable to load firmware on module 0x4C"},
         2},
        {"type 20 not running", 0x5d, module_named("VIRTUAL"), MODULE_PREPARED,
         {"Module 0x5d [20,0]", "Loading firmware for module 0x5D", "Unknown board type 20",
          "Unable to load firmware on module 0x5D"},
         0},
        {"type 21 not running", 0x6e, module_named("PRELLO"), MODULE_PREPARED,
         {"Module 0x6e [21,0]", "Loading firmware for module 0x6E", "Unknown board type 21",
          "Unable to load firmware on module 0x6E"},
         0},
        {"type 22 not running", 0x7f, module_named("DUNVAL"), MODULE_PREPARED,
         {"Module 0x7f [22,0]", "Loading firmware for module 0x7F", "Unknown board type 22",
          "Unable to load firmware on module 0x7F"},
         0},
    };
    json modules = json::object();
    for (const PrepareCase &c : cases)
        if (!c.module.is_null())
            modules[std::to_string(c.module_number)] = c.module;
    use({{"modules", modules}});

    for (const PrepareCase &c : cases) {
        SCOPED_TRACE(c.label);
        const size_t before = journal().size();
        lines logged = logged_lines([&] { EXPECT_EQ(prepare_module("/fw", c.module_number, 0), c.result); });
        EXPECT_EQ(logged, c.logged);

        std::vector<json> entries = journal();
        entries.erase(entries.begin(), entries.begin() + (long)before);
        ASSERT_FALSE(entries.empty());
        EXPECT_EQ(entries.front()["fn"], "ZolSessionAttach");
        EXPECT_EQ(harness::calls(entries, "ZolFirmwareDownload").size(), c.downloads);
        if (c.result == MODULE_ABSENT) {
            EXPECT_EQ(entries.size(), 1u) << "an absent module gets no further call";
        } else {
            EXPECT_EQ(harness::calls(entries, "ZolSessionDetach").size(), 1u);
            EXPECT_EQ(entries.back()["fn"], "ZolSessionDetach");
            EXPECT_EQ(entries.back()["handle"], entries.front()["result"]);
        }
    }
}

} // namespace
