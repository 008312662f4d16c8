// sulvet's start-up on the board side, against the stand-in: the module's
// channel report, and the attach and reset of each recording channel.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sulvet_run.h"

namespace {

using namespace sulvet_test;

// ---------------------------------------------------------------- module report

TEST_F(RecorderSpine, ModuleReport)
{
    struct Case {
        std::vector<std::string> args;
        json modules;
        std::string first_line;
        bool error_message_call;
        int exit_code;
    };
    const Case cases[] = {
        {{}, json::object(), "Module -1(-1): doesn't support any channel", false, 0},
        {{"-m", "5"}, {{"5", {{"channel_count", 24}}}}, "Module 05: 24 CHANNELS (starting at 2)", false, 0},
        {{"-m", "123"}, {{"123", {{"channel_count", 8}}}}, "Module 123: 8 CHANNELS (starting at 2)", false, 0},
        // the count is read back from the record, the parentheses too
        {{"-m", "12"}, {{"12", {{"channel_count", 0}, {"info_module_number", 42}}}},
         "Module 12(42): doesn't support any channel", false, 0},
        // a failed query: the error text, then the report on the same line
        {{"-m", "7"},
         {{"7", {{"channel_count", 30}, {"info_status", 3}, {"error_text", "module gone"}}}},
         "ZolModuleInfo:ERROR module goneModule 07: 30 CHANNELS (starting at 2)", true, 1},
        {{"-m", "8"},
         {{"8", {{"channel_count", 0}, {"info_status", -4}, {"info_module_number", 9},
                 {"error_text", "no such module"}}}},
         "ZolModuleInfo:ERROR no such moduleModule 08(9): doesn't support any channel", true, 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"-p", pid_path(), "rec"});
        Process process = run_sulvet(args, {{"modules", c.modules}});
        EXPECT_EQ(process.exit_code(), c.exit_code);
        auto lines = harness::split_lines(process.out());
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines[0], c.first_line);
        EXPECT_EQ(lines.size() > 1 ? lines[1] : "", "Writing PID to " + pid_path());

        auto info = harness::calls(journal, "ZolModuleInfo");
        ASSERT_EQ(info.size(), 1u);
        EXPECT_TRUE(info[0]["handle"].is_null());
        EXPECT_EQ(info[0]["zero"], true);
        auto errors = harness::calls(journal, "ZolErrorMessage");
        ASSERT_EQ(errors.size(), c.error_message_call ? 1u : 0u);
        if (c.error_message_call) {
            EXPECT_TRUE(errors[0]["handle"].is_null());
            EXPECT_EQ(errors[0]["same_record"], true);
        }
    }
}

// ---------------------------------------------------------------- attach and reset

// What the recorder did with a line right after its reset: how many state
// accesses came before the next call on it, and that next call.
struct AfterReset {
    int state_accesses = 0;
    json next_call;
};

AfterReset after_reset(const std::vector<json> &journal, const std::string &handle)
{
    AfterReset seen;
    bool reset_seen = false;
    for (const json &call : journal) {
        if (handle_of(call) != handle)
            continue;
        if (call["fn"] == "ZolLineReset") {
            reset_seen = true;
        } else if (reset_seen && call["fn"] == "ZolLineStateAccess") {
            ++seen.state_accesses;
        } else if (reset_seen) {
            seen.next_call = call;
            break;
        }
    }
    return seen;
}

TEST_F(RecorderSpine, ResetOutcomes)
{
    struct Case {
        int reset_result;
        const char *reset_text;      // -f, or none
        std::string message;         // what follows the module report line
        bool success;
    };
    const Case cases[] = {
        {0, "line-reset.txt", "Channel [03] initialized\n", true},
        {-2, nullptr, "Channel [03] initialized\n", true},
        {-1, nullptr, "$$$$$ This could be an expensive failure. Reset Status(17)", false},
        {1, "x", "$$$$$ Reset channel Error. Reset Status(17)", false},
        {40, nullptr, "$$$$$ Reset channel Error. Reset Status(17)", false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.reset_result);
        std::vector<std::string> args = {"-i", "3", "-t", "1", "-p", pid_path()};
        if (c.reset_text != nullptr)
            args.insert(args.end(), {"-f", c.reset_text});
        args.push_back("rec");
        // unit 7: the message names the channel asked for, not the line's unit
        json line = finite_line(7, {{"reset_result", c.reset_result}, {"reset_status", 17}});
        Process process = run_sulvet(args, {{"channels", {{"3", line}}}});
        EXPECT_EQ(process.exit_code(), c.success ? 0 : 1) << process.out();

        std::string out = process.out();
        size_t report_end = out.find('\n');
        ASSERT_NE(report_end, std::string::npos);
        ASSERT_EQ(out.compare(report_end + 1, c.message.size(), c.message), 0) << out;
        if (!c.success) {
            // The failure line has no newline of its own: the next output goes on after it.
            size_t after = report_end + 1 + c.message.size();
            ASSERT_LT(after, out.size());
            EXPECT_NE(out[after], '\n');
            EXPECT_EQ(out.find("initialized"), std::string::npos);
        }

        auto attaches = harness::calls(journal, "ZolLineAttach");
        ASSERT_EQ(attaches.size(), 1u);
        EXPECT_EQ(attaches[0]["in"], json({{"channel_number", 3}}));
        EXPECT_EQ(attaches[0]["zero"], true);

        auto resets = harness::calls(journal, "ZolLineReset");
        ASSERT_EQ(resets.size(), 1u);
        EXPECT_EQ(resets[0]["handle"], "channel:3");
        EXPECT_EQ(resets[0]["in"]["reset_text"], c.reset_text ? json(c.reset_text) : json(nullptr));
        EXPECT_EQ(resets[0]["in"]["reset_setting_a"], 0);
        EXPECT_EQ(resets[0]["in"]["reset_setting_b"], 0);
        EXPECT_EQ(resets[0]["zero"], true);

        // Only a reset that worked clears the state word; the line goes on either way.
        AfterReset seen = after_reset(journal, "channel:3");
        EXPECT_EQ(seen.state_accesses, c.success ? 1 : 0);
        ASSERT_FALSE(seen.next_call.is_null());
        EXPECT_EQ(seen.next_call["line_state"], c.success ? 0 : 99) << seen.next_call.dump();
        EXPECT_EQ(handles_of(journal, "ZolSessionDetach"), std::vector<std::string>{"channel:3"});
    }
}

TEST_F(RecorderSpine, ChannelWhoseAttachFailsIsLeftOut)
{
    json channels = {{"3", finite_line(3)}, {"4", finite_line(4, {{"attach", false}})}};
    Process process = run_sulvet({"-i", "4", "-o", "3", "-t", "1", "-p", pid_path(), "rec"},
                                 {{"channels", channels}});
    EXPECT_EQ(process.exit_code(), 1) << process.out();

    // Only its own line for the failed channel, then the outbound channel's set-up.
    auto lines = harness::split_lines(process.out());
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[1], "Can't do session attach to channel");
    EXPECT_EQ(lines[2], "Channel [03] initialized");

    EXPECT_EQ(attached_channels(journal), (std::vector<int>{4, 3}));
    EXPECT_EQ(handles_of(journal, "ZolLineReset"), std::vector<std::string>{"channel:3"});
    EXPECT_EQ(handles_of(journal, "ZolSessionDetach"), std::vector<std::string>{"channel:3"});
    for (const json &call : journal)
        EXPECT_NE(handle_of(call), "channel:4") << call.dump();
    EXPECT_FALSE(file_exists(dir.file("rec.in")));
    EXPECT_TRUE(file_exists(dir.file("rec.out")));
}

TEST_F(RecorderSpine, BothAttachesFailing)
{
    Process process = run_sulvet({"-i", "4", "-o", "6", "-p", pid_path(), "rec"},
                                 {{"channels", {{"3", finite_line(3)}}}});
    EXPECT_EQ(process.exit_code(), 1);
    auto lines = harness::split_lines(process.out());
    ASSERT_GE(lines.size(), 4u) << process.out();
    EXPECT_EQ(lines[1], "Can't do session attach to channel");
    EXPECT_EQ(lines[2], "Can't do session attach to channel");
    EXPECT_EQ(lines[3], "Writing PID to " + pid_path());
    EXPECT_TRUE(harness::calls(journal, "ZolLineReset").empty());
    EXPECT_TRUE(harness::calls(journal, "ZolSessionDetach").empty());
    EXPECT_FALSE(file_exists(pid_path()));
}

} // namespace
