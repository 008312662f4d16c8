// Module attach, board family detection and the V34Enab feature walk, called
// in-process against the stand-in.
#include <string.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "board_detect.h"
#include "in_process.h"
#include "module_description.h"

using harness::json;

namespace {

json feature(const std::string &name, int value, int status = 0)
{
    return json{{"name", name}, {"value", value}, {"status", status}};
}

json v34(int value) { return json::array({feature("V34Enab", value)}); }

struct DetectCase {
    const char *label;
    json module;
    int result;
    int board_type;
    int firmware_running;   // 77: the flag must keep the caller's value
    size_t feature_queries; // ZolFeatureSetQuery calls the detection makes
};

std::vector<DetectCase> detect_cases()
{
    const std::string a225(225, 'A');
    return {
        {"merodan", module_named("KQ4800 MERODAN", v34(1)), FAMILY_FOUND, BOARD_TYPE_MERODAN, 0, 0},
        {"orvelline", module_named("ORVELLINE"), FAMILY_FOUND, BOARD_TYPE_ORVELLINE, 0, 0},
        {"castov", module_named("KQ CASTOV 2"), FAMILY_FOUND, BOARD_TYPE_CASTOV, 0, 0},
        {"talverin without feature", module_named("KQ4810 TALVERIN"), FAMILY_FOUND, BOARD_TYPE_TALVERIN, 0, 1},
        {"talverin v34 0", module_named("KQ4810 TALVERIN", v34(0)), FAMILY_FOUND, BOARD_TYPE_TALVERIN, 0, 1},
        {"talverin v34 1", module_named("KQ4810 TALVERIN", v34(1)), FAMILY_FOUND, BOARD_TYPE_TALVERIN_V34, 0, 1},
        {"prello", module_named("PRELLO"), FAMILY_FOUND, BOARD_TYPE_PRELLO, 0, 0},
        {"dunval", module_named("DUNVAL"), FAMILY_FOUND, BOARD_TYPE_DUNVAL, 0, 0},
        {"golvar without feature", module_named("KQ4862 GOLVAR"), FAMILY_FOUND, BOARD_TYPE_GOLVAR, 0, 1},
        {"golvar v34 0", module_named("KQ4862 GOLVAR", v34(0)), FAMILY_FOUND, BOARD_TYPE_GOLVAR, 0, 1},
        {"golvar v34 1", module_named("KQ4862 GOLVAR", v34(1)), FAMILY_FOUND, BOARD_TYPE_GOLVAR_V34, 0, 1},
        {"golvar v34 2", module_named("KQ4862 GOLVAR", v34(2)), FAMILY_FOUND, BOARD_TYPE_GOLVAR_V34, 0, 1},
        {"golvar v34 -1", module_named("KQ4862 GOLVAR", v34(-1)), FAMILY_FOUND, BOARD_TYPE_GOLVAR_V34, 0, 1},
        {"zebk", module_named("ZEBK"), FAMILY_FOUND, BOARD_TYPE_ZEBK, 0, 0},
        {"fendo", module_named("FENDO", v34(1)), FAMILY_FOUND, BOARD_TYPE_GOLVAR, 0, 0},
        {"virtual", module_named("VIRTUAL"), FAMILY_FOUND, BOARD_TYPE_VIRTUAL, 0, 0},
        {"virtual before talverin", module_named("VIRTUAL TALVERIN"), FAMILY_FOUND, BOARD_TYPE_TALVERIN, 0, 1},
        {"talverin before virtual", module_named("TALVERIN VIRTUAL", v34(1)),
         FAMILY_FOUND, BOARD_TYPE_TALVERIN_V34, 0, 1},
        {"fendo before zebk in the text", module_named("FENDO ZEBK"), FAMILY_FOUND, BOARD_TYPE_ZEBK, 0, 0},
        {"inside a longer word", module_named("XXFENDOXX"), FAMILY_FOUND, BOARD_TYPE_GOLVAR, 0, 0},
        {"lower case only", module_named("kq4810 talverin fendo", v34(1)), FAMILY_UNKNOWN, BOARD_TYPE_UNKNOWN, 0, 0},
        {"mixed case", module_named("Merodan"), FAMILY_UNKNOWN, BOARD_TYPE_UNKNOWN, 0, 0},
        {"empty name", module_named("", json::array(), 5), FAMILY_UNKNOWN, BOARD_TYPE_UNKNOWN, 1, 0},
        {"unknown name, firmware running", module_named("KQ9999", json::array(), 2),
         FAMILY_UNKNOWN, BOARD_TYPE_UNKNOWN, 1, 0},
        {"230 bytes without NUL", module_named(a225 + "FENDO"), FAMILY_FOUND, BOARD_TYPE_GOLVAR, 0, 0},
        {"code name cut by the field end", module_named(a225 + "AAFENDO"), FAMILY_UNKNOWN, BOARD_TYPE_UNKNOWN, 0, 0},
        {"one channel", module_named("CASTOV", json::array(), 1), FAMILY_FOUND, BOARD_TYPE_CASTOV, 0, 0},
        {"two channels", module_named("CASTOV", json::array(), 2), FAMILY_FOUND, BOARD_TYPE_CASTOV, 1, 0},
        {"channel count 4294967295", module_named("CASTOV", json::array(), 4294967295ull),
         FAMILY_FOUND, BOARD_TYPE_CASTOV, 1, 0},
        {"running with type 21", module_named("PRELLO", json::array(), 24), FAMILY_FOUND, BOARD_TYPE_PRELLO, 1, 0},
        {"presence_a 0", json{{"presence_a", 0}, {"presence_b", 1}, {"board_name", "CASTOV"}},
         NO_MODULE, BOARD_TYPE_UNKNOWN, 77, 0},
        {"presence_b 0", json{{"presence_a", 1}, {"presence_b", 0}, {"board_name", "CASTOV"}},
         NO_MODULE, BOARD_TYPE_UNKNOWN, 77, 0},
        {"both presence words 0", json{{"presence_a", 0}, {"presence_b", 0}, {"board_name", "CASTOV"}},
         NO_MODULE, BOARD_TYPE_UNKNOWN, 77, 0},
    };
}

class BoardDetect : public harness::InProcessStandIn {};

TEST_F(BoardDetect, BoardNameTableGivesTypeAndFlag)
{
    const std::vector<DetectCase> cases = detect_cases();
    json modules = json::object();
    for (size_t i = 0; i < cases.size(); i++) {
        json module = cases[i].module;
        module["attach"] = true;
        modules[std::to_string(i + 2)] = module;
    }
    use({{"modules", modules}});

    for (size_t i = 0; i < cases.size(); i++) {
        const DetectCase &c = cases[i];
        SCOPED_TRACE(c.label);
        const int module_number = (int)i + 2;
        ZolHandle module = attach_module(module_number);
        ASSERT_NE(module, nullptr);
        const size_t queries_before = calls("ZolFeatureSetQuery").size();

        int board_type = 55, firmware_running = 77;
        EXPECT_EQ(detect_board_type(module, module_number, &board_type, &firmware_running), c.result);
        EXPECT_EQ(board_type, c.board_type);
        EXPECT_EQ(firmware_running, c.firmware_running);
        EXPECT_EQ(calls("ZolFeatureSetQuery").size() - queries_before, c.feature_queries);
        detach_module(module);
    }
}

// The pure search, for what the stand-in cannot show: bytes past the field
// that would complete a code name.
TEST(BoardFamilySearch, StaysWithinTheField)
{
    struct SearchCase {
        const char *label;
        size_t name_at;
        std::string text;
        const char *code_name; // null: no family
    };
    const SearchCase cases[] = {
        {"code name ends at the last byte", 225, "FENDO", "FENDO"},
        {"code name runs past the last byte", 227, "FENDO", nullptr},
        {"text after the NUL is not searched", 0, std::string("KQ\0MERODAN", 10), nullptr},
    };
    for (const SearchCase &c : cases) {
        SCOPED_TRACE(c.label);
        char record[240];
        memset(record, 'A', sizeof record);
        memcpy(record + c.name_at, c.text.data(), c.text.size());
        const BoardFamily *family = find_board_family(record, 230);
        if (c.code_name == nullptr) {
            EXPECT_EQ(family, nullptr);
        } else {
            ASSERT_NE(family, nullptr);
            EXPECT_STREQ(family->code_name, c.code_name);
        }
    }
}

struct WalkCase {
    const char *label;
    json features;
    int value;    // after the walk; starts at 42
    size_t calls; // ZolFeatureSetQuery calls
};

TEST_F(BoardDetect, FeatureWalk)
{
    const WalkCase cases[] = {
        {"entry that only begins with V34Enab", json::array({feature("V34Enabled", 7), feature("V34Enab", 3)}), 3, 2},
        {"exact entry with non-zero status", json::array({feature("V34Enab", 1, 4)}), 42, 2},
        {"failed entry, then a valid one", json::array({feature("V34Enab", 1, 4), feature("V34Enab", 5)}), 5, 2},
        {"list without the entry", json::array({feature("A", 1), feature("B", 1), feature("C", 0)}), 42, 4},
        {"value 2, later entries not asked for", json::array({feature("V34Enab", 2), feature("Later", 1)}), 2, 1},
        {"value 0", json::array({feature("X", 1), feature("V34Enab", 0)}), 0, 2},
        {"empty name ends the walk", json::array({feature("", 1), feature("V34Enab", 1)}), 42, 1},
        {"empty list", json::array(), 42, 1},
    };
    json modules = json::object();
    for (size_t i = 0; i < std::size(cases); i++)
        modules[std::to_string(i + 2)] = module_named("KQ4810 TALVERIN", cases[i].features);
    use({{"modules", modules}});

    for (size_t i = 0; i < std::size(cases); i++) {
        const WalkCase &c = cases[i];
        SCOPED_TRACE(c.label);
        ZolHandle module = attach_module((int)i + 2);
        ASSERT_NE(module, nullptr);
        const size_t before = calls("ZolFeatureSetQuery").size();
        int value = 42;
        EXPECT_EQ(query_v34_feature(module, &value), 1) << "the outcome is in the value alone";
        EXPECT_EQ(value, c.value);
        const std::vector<json> queries = calls("ZolFeatureSetQuery");
        ASSERT_EQ(queries.size() - before, c.calls);
        for (size_t q = before; q < queries.size(); q++)
            EXPECT_EQ(queries[q]["zero"], true) << "query " << q - before;
        detach_module(module);
    }
}

TEST_F(BoardDetect, AttachResetAndDetachRecords)
{
    use({{"modules", {{"44", module_named("CASTOV")}}}});

    ZolHandle module = attach_module(300);
    ASSERT_NE(module, nullptr);
    int board_type = 0, firmware_running = 0;
    EXPECT_EQ(detect_board_type(module, 300, &board_type, &firmware_running), FAMILY_FOUND);
    detach_module(module);

    const std::vector<json> entries = journal();
    std::vector<std::string> functions;
    for (const json &e : entries)
        functions.push_back(e["fn"]);
    EXPECT_EQ(functions, (std::vector<std::string>{"ZolSessionAttach", "ZolLineReset", "ZolModuleInfo",
                                                   "ZolSessionDetach"}));
    ASSERT_EQ(entries.size(), 4u);

    const json &attach = entries[0];
    EXPECT_EQ(attach["in"]["attach_setting_a"], 1);
    EXPECT_EQ(attach["in"]["module_number"], 44);
    EXPECT_EQ(attach["in"]["attach_setting_b"], 1);
    EXPECT_EQ(attach["zero"], true);

    const json &reset = entries[1];
    EXPECT_EQ(reset["handle"], attach["result"]);
    EXPECT_EQ(reset["in"]["reset_setting_a"], 1);
    EXPECT_EQ(reset["in"]["reset_setting_b"], 1);
    EXPECT_EQ(reset["in"]["reset_text"], nullptr);
    EXPECT_EQ(reset["zero"], true);

    EXPECT_EQ(entries[2]["in"]["module_number"], 300);
    EXPECT_EQ(entries[2]["zero"], true);

    EXPECT_EQ(entries[3]["handle"], attach["result"]);
    EXPECT_EQ(entries[3]["zero"], true);
}

TEST_F(BoardDetect, AbsentModuleGetsNoResetAndNullNeedsNoDetach)
{
    use({{"modules", {{"7", {{"attach", false}}}}}});

    EXPECT_EQ(attach_module(7), nullptr);
    EXPECT_EQ(attach_module(8), nullptr);
    detach_module(nullptr);

    std::vector<std::string> functions;
    for (const json &e : journal())
        functions.push_back(e["fn"]);
    EXPECT_EQ(functions, (std::vector<std::string>{"ZolSessionAttach", "ZolSessionAttach"}));
}

} // namespace
