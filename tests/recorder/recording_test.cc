// The recording loop and the line drain through the real sulvet: what reaches
// the .in and .out files, the progress lines, failed calls and files, and the
// drain, checked against the stand-in's journal.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "sulvet_run.h"

using namespace sulvet_test;
using harness::file_exists;
using harness::json;

namespace {

json boards(json inbound, json outbound)
{
    json channels = json::object();
    if (!inbound.is_null())
        channels["1"] = inbound;
    if (!outbound.is_null())
        channels["2"] = outbound;
    return {{"channels", channels},
            {"switch", {{"connections", json::array({{{"source_type", 0}, {"source_channel", 9},
                                                      {"destination_type", 15}, {"destination_slot", 1}}})}}}};
}

std::vector<std::string> progress_lines(const std::string &out)
{
    std::vector<std::string> lines;
    for (const std::string &line : harness::split_lines(without_times(out)))
        if (line.rfind("Read ", 0) == 0 || line.rfind("STOP", 0) == 0 || line.rfind("Recording error", 0) == 0 ||
            line.rfind("Can't", 0) == 0)
            lines.push_back(line);
    return lines;
}

// The drain as "alert channel:N" (the line that the alert's address named)
// and "packet channel:N" words, in order.
std::vector<std::string> drain_order(const std::vector<json> &journal)
{
    std::vector<std::string> out;
    for (const json &entry : journal) {
        if (entry["fn"] == "ZolLineAlert")
            out.push_back("alert " + entry.value("line", json("none")).get<std::string>());
        else if (entry["fn"] == "ZolRcvProcessPkt")
            out.push_back("packet " + entry["handle"].get<std::string>());
    }
    return out;
}

const std::vector<std::string> default_drain = {"alert channel:1",  "packet channel:1", "packet channel:1",
                                                "packet channel:1", "alert channel:2",  "packet channel:2",
                                                "packet channel:2", "packet channel:2"};

const std::vector<std::string> both_lines = {"-t", "1", "-i", "1", "-o", "2"};

TEST(Recording, FilesHoldExactlyWhatTheLinesDeliveredInOrder)
{
    SulvetRun r;
    json description = boards(finite_channel(1, 1, 2000, {300, 1024, 17}), finite_channel(2, 2, 450, {200}));
    description["channels"]["1"]["packets"] = 2;
    description["channels"]["2"]["packets"] = 0;
    harness::Process p = r.run(description, both_lines);
    EXPECT_EQ(p.exit_code(), 0);

    EXPECT_EQ(harness::read_file(r.base() + ".in"), stream_bytes(1, 0, 2000));
    EXPECT_EQ(harness::read_file(r.base() + ".out"), stream_bytes(2, 0, 450));
    // One call per active direction per pass; a finished direction is not called again.
    EXPECT_EQ(progress_lines(p.out()),
              (std::vector<std::string>{"Read in: 300: T", "Read out: 200: T", "Read in: 1024: T", "Read out: 200: T",
                                        "Read in: 17: T", "Read out: 50: T", "Read in: 300: T", "Read out: 0: T",
                                        "Read in: 359: T", "Read in: 0: T"}));
    EXPECT_NE(p.out().find("Writing PID to " + r.pid_path() + "\nPRESS  ^C  TO STOP RECORDING!!!\nRead in: "),
              std::string::npos);

    std::vector<json> journal = r.journal();
    std::vector<json> data_calls = harness::calls(journal, "ZolSpeechRecordData");
    ASSERT_EQ(data_calls.size(), 10u);
    for (const json &call : data_calls) {
        // One record, filled once: only the library's status may differ from zero
        // beside the inputs, and the lines are marked before the first call.
        EXPECT_TRUE(call["zero"].get<bool>());
        EXPECT_EQ(call["in"]["record_setting_a"], 2);
        EXPECT_EQ(call["in"]["record_control"], 1);
        EXPECT_EQ(call["in"]["record_setting_b"], 3);
        EXPECT_EQ(call["in"]["buffer_size"], 1024);
        EXPECT_EQ(call["in"]["data_buffer"], data_calls[0]["in"]["data_buffer"]);
        for (const char *word : {"word_24", "word_28", "word_44", "word_48", "word_140", "word_148"})
            EXPECT_EQ(call["in"].value(word, 0), 0) << word;
        EXPECT_EQ(call["line_state"], 2);
    }
    // The drain: alert and packets of the inbound line, then of the outbound one.
    EXPECT_EQ(drain_order(journal), (std::vector<std::string>{"alert channel:1", "packet channel:1",
                                                              "packet channel:1", "packet channel:1",
                                                              "alert channel:2", "packet channel:2"}));
    std::vector<json> alerts = harness::calls(journal, "ZolLineAlert");
    ASSERT_EQ(alerts.size(), 2u);
    EXPECT_EQ(alerts[0]["in"]["app_address"], json({16, 1, 0, 0}));
    EXPECT_EQ(alerts[1]["in"]["app_address"], json({16, 2, 0, 0}));
    for (const json &alert : alerts)
        EXPECT_TRUE(alert["zero"].get<bool>());
    for (const json &packet : harness::calls(journal, "ZolRcvProcessPkt")) {
        EXPECT_TRUE(packet["zero"].get<bool>());
        EXPECT_EQ(packet["in"]["receive_setting"], 500);
    }
    EXPECT_FALSE(file_exists(r.pid_path()));
}

TEST(Recording, OneDirectionOnlyLeavesTheOtherLineUntouched)
{
    SulvetRun r;
    harness::Process p = r.run(boards(finite_channel(1, 1, 1500), finite_channel(2, 2, 1500)), {"-t", "1", "-i", "1"});
    EXPECT_EQ(p.exit_code(), 0);
    EXPECT_EQ(harness::read_file(r.base() + ".in"), stream_bytes(1, 0, 1500));
    EXPECT_FALSE(file_exists(r.base() + ".out"));
    EXPECT_EQ(progress_lines(p.out()), (std::vector<std::string>{"Read in: 1024: T", "Read in: 476: T", "Read in: 0: T"}));
    for (const json &entry : r.journal())
        EXPECT_NE(entry.value("handle", json()), "channel:2") << entry.dump();
    EXPECT_EQ(harness::calls(r.journal(), "ZolLineAlert").size(), 1u);
}

TEST(Recording, ALineThatDeliversNothingLeavesTheOtherGoingAlone)
{
    SulvetRun r;
    harness::Process p = r.run(boards(finite_channel(1, 1, 0), finite_channel(2, 2, 2048)), both_lines);
    EXPECT_EQ(p.exit_code(), 0);
    EXPECT_EQ(harness::read_file(r.base() + ".in"), "");
    EXPECT_EQ(harness::read_file(r.base() + ".out"), stream_bytes(2, 0, 2048));
    EXPECT_EQ(progress_lines(p.out()),
              (std::vector<std::string>{"Read in: 0: T", "Read out: 1024: T", "Read out: 1024: T", "Read out: 0: T"}));
}

struct FailedCallCase {
    const char *name;
    int failing_channel;
    int fail_at;
    std::vector<std::string> progress;
    size_t inbound_calls, outbound_calls;
    size_t inbound_bytes, outbound_bytes;
};

TEST(Recording, AFailedDataCallEndsTheLoopAndTheLinesAreStillDrained)
{
    const FailedCallCase cases[] = {
        {"outbound fails after inbound data in the same pass", 2, 2,
         {"Read in: 1024: T", "Read out: 1024: T", "Read in: 1024: T", "Recording error...(7)(speech failure)"},
         2, 2, 2048, 1024},
        {"inbound fails: outbound is not called in that pass", 1, 2,
         {"Read in: 1024: T", "Read out: 1024: T", "Recording error...(7)(speech failure)"},
         2, 1, 1024, 1024},
    };
    for (const FailedCallCase &c : cases) {
        SCOPED_TRACE(c.name);
        json description = boards(finite_channel(1, 1, 10000), finite_channel(2, 2, 10000));
        json &failing = description["channels"][std::to_string(c.failing_channel)];
        failing["speech"]["fail_at"] = c.fail_at;
        failing["speech"]["fail_status"] = 7;
        failing["error_text"] = "speech failure";
        SulvetRun r;
        harness::Process p = r.run(description, both_lines);
        EXPECT_EQ(p.exit_code(), 1);
        EXPECT_EQ(progress_lines(p.out()), c.progress);
        std::vector<json> journal = r.journal();
        EXPECT_EQ(calls_on(journal, "ZolSpeechRecordData", "channel:1").size(), c.inbound_calls);
        EXPECT_EQ(calls_on(journal, "ZolSpeechRecordData", "channel:2").size(), c.outbound_calls);
        EXPECT_EQ(harness::read_file(r.base() + ".in"), stream_bytes(1, 0, c.inbound_bytes));
        EXPECT_EQ(harness::read_file(r.base() + ".out"), stream_bytes(2, 0, c.outbound_bytes));
        std::string handle = "channel:" + std::to_string(c.failing_channel);
        std::vector<json> errors = calls_on(journal, "ZolErrorMessage", handle);
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_TRUE(errors[0]["same_record"].get<bool>());
        EXPECT_EQ(drain_order(journal), default_drain);
        EXPECT_NE(p.out().find("Channel [01] Disconnected\nChannel [02] Disconnected\n"), std::string::npos);
    }
}

TEST(Recording, NoLineAtAllMakesOnePassAndNoBoardCall)
{
    SulvetRun r;
    harness::Process p = r.run(boards(nullptr, nullptr), {});
    EXPECT_EQ(p.exit_code(), 0);
    EXPECT_EQ(p.out(), "Module -1(-1): doesn't support any channel\n"
                       "Writing PID to " + r.pid_path() + "\n"
                       "PRESS  ^C  TO STOP RECORDING!!!\n");
    EXPECT_FALSE(file_exists(r.base() + ".in"));
    EXPECT_FALSE(file_exists(r.base() + ".out"));
    for (const json &entry : r.journal())
        EXPECT_EQ(entry["fn"], "ZolModuleInfo");
}

TEST(Recording, CountsOutsideTheBufferWriteAtMostTheBufferAndBelowZeroFinish)
{
    SulvetRun r;
    json inbound = finite_channel(1, 1, 100000);
    inbound["speech"]["counts"] = {1500, 10, -3};
    json outbound = finite_channel(2, 2, 100000);
    outbound["speech"]["counts"] = {-1};
    harness::Process p = r.run(boards(inbound, outbound), both_lines);
    EXPECT_EQ(p.exit_code(), 0);
    EXPECT_EQ(progress_lines(p.out()),
              (std::vector<std::string>{"Read in: 1500: T", "Read out: -1: T", "Read in: 10: T", "Read in: -3: T"}));
    std::string in = harness::read_file(r.base() + ".in");
    ASSERT_EQ(in.size(), 1034u);
    EXPECT_EQ(in.substr(0, 1024), stream_bytes(1, 0, 1024));
    EXPECT_EQ(harness::read_file(r.base() + ".out"), "");
    EXPECT_EQ(calls_on(r.journal(), "ZolSpeechRecordData", "channel:2").size(), 1u);
}

// A recording file that cannot be opened: no data call for either line, the
// lines are still alerted, drained and torn down, and the run fails.
TEST(Recording, AnUnopenableRecordingFileIsReportedAndNothingIsRecorded)
{
    SulvetRun r;
    ASSERT_EQ(mkdir((r.base() + ".out").c_str(), 0755), 0);
    harness::Process p = r.run(boards(finite_channel(1, 1, 1000), finite_channel(2, 2, 1000)), both_lines);
    EXPECT_EQ(p.exit_code(), 1);
    std::string out = p.out();
    EXPECT_NE(out.find("Writing PID to " + r.pid_path() + "\nCan't open recording file " + r.base() +
                       ".out: Is a directory\nChannel [01] Disconnected\nChannel [02] Disconnected\n"),
              std::string::npos)
        << out;
    EXPECT_EQ(out.find("PRESS"), std::string::npos);
    std::vector<json> journal = r.journal();
    EXPECT_TRUE(harness::calls(journal, "ZolSpeechRecordData").empty());
    EXPECT_EQ(drain_order(journal), default_drain);
    EXPECT_EQ(harness::read_file(r.base() + ".in"), "");
}

TEST(Recording, AFailedWriteIsReportedAndEndsTheLoop)
{
    SulvetRun r;
    ASSERT_EQ(symlink("/dev/full", (r.base() + ".in").c_str()), 0);
    harness::Process p = r.run(boards(finite_channel(1, 1, 10000), finite_channel(2, 2, 10000)), both_lines);
    EXPECT_EQ(p.exit_code(), 1);
    EXPECT_EQ(progress_lines(p.out()),
              (std::vector<std::string>{"Can't write recording file " + r.base() + ".in: No space left on device"}));
    std::vector<json> journal = r.journal();
    EXPECT_EQ(harness::calls(journal, "ZolSpeechRecordData").size(), 1u);
    EXPECT_EQ(drain_order(journal), default_drain);
    EXPECT_NE(p.out().find("Channel [01] Disconnected\nChannel [02] Disconnected\n"), std::string::npos);
}

// A file size limit cuts one write short: the rest of the buffer is written
// at once, which the limit refuses, and that refusal ends the recording.
TEST(Recording, AShortWriteIsContinuedUntilTheWriteFails)
{
    SulvetRun r;
    const size_t limit = 100 * 1024 + 500;
    harness::Process p = r.run(boards(finite_channel(1, 1, 1000000), nullptr), {"-i", "1"},
                               {"/bin/sh", "-c", "trap '' XFSZ; exec prlimit --fsize=" + std::to_string(limit) + " \"$@\"",
                                "sh"});
    EXPECT_EQ(p.exit_code(), 1);
    EXPECT_EQ(harness::read_file(r.base() + ".in"), stream_bytes(1, 0, limit));
    // Had the short write been left as it was, the next pass would have run.
    EXPECT_EQ(harness::calls(r.journal(), "ZolSpeechRecordData").size(), 101u);
    std::vector<std::string> progress = progress_lines(p.out());
    ASSERT_EQ(progress.size(), 101u);
    EXPECT_EQ(progress.back(), "Can't write recording file " + r.base() + ".in: File too large");
}

// A whole run as an operator makes it: paced lines, stopped with SIGINT.
TEST(Recording, AWholeRunStoppedWithSigint)
{
    SulvetRun r;
    harness::Process p = harness::start(SULVET_BIN, r.sulvet_options(nullptr, {"-m", "5", "-t", "1", "-i", "1", "-o", "2"}));
    // The stop handler is in before the first pass.
    ASSERT_TRUE(harness::wait_for_stdout(p, "Read out: 1024:", harness::deadline_ms)) << p.out();
    ASSERT_TRUE(file_exists(r.pid_path()));
    harness::send_signal(p, SIGINT);
    ASSERT_TRUE(harness::wait_exit(p, harness::deadline_ms));
    EXPECT_EQ(p.exit_code(), 0);

    std::vector<std::string> lines = harness::split_lines(without_times(p.out()));
    std::vector<std::string> head(lines.begin(), lines.begin() + 17);
    EXPECT_EQ(head, (std::vector<std::string>{"Module 05: 24 CHANNELS (starting at 2)", "Channel [01] initialized",
                                              "Connection to 1", "Connection to 1", "Connection to 1", "Connection to 1",
                                              "Channel [01] Recording INBOUND slot 1 to channel 1",
                                              "Channel [02] initialized", "Connection to 2", "Connection to 2",
                                              "Connection to 2", "Connection to 2", "Channel 9 => 1",
                                              "Channel [02] Recording OUTBOUND slot 0 to channel 2",
                                              "Writing PID to " + r.pid_path(), "PRESS  ^C  TO STOP RECORDING!!!",
                                              "Read in: 1024: T"}));
    std::vector<std::string> tail(lines.end() - 2, lines.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"Channel [01] Disconnected", "Channel [02] Disconnected"}));

    // The passes: pairs of progress lines until the stop, then every pass starts
    // with STOP RECORDING until both lines have answered 0.
    std::vector<std::string> passes(lines.begin() + 16, lines.end() - 2);
    size_t first_stop = 0;
    while (first_stop < passes.size() && passes[first_stop] != "STOP RECORDING")
        ++first_stop;
    ASSERT_LT(first_stop, passes.size());
    ASSERT_EQ(first_stop % 2, 0u);
    for (size_t i = 0; i < first_stop; i += 2) {
        EXPECT_EQ(passes[i], "Read in: 1024: T");
        EXPECT_EQ(passes[i + 1], "Read out: 1024: T");
    }
    std::vector<std::string> after(passes.begin() + static_cast<long>(first_stop), passes.end());
    ASSERT_EQ(after.size() % 3, 0u);
    for (size_t i = 0; i < after.size(); i += 3)
        EXPECT_EQ(after[i], "STOP RECORDING");
    EXPECT_EQ(after[after.size() - 2], "Read in: 0: T");
    EXPECT_EQ(after[after.size() - 1], "Read out: 0: T");

    // The files: the lines' streams from the start, as far as they went.
    std::string in = harness::read_file(r.base() + ".in");
    std::string out = harness::read_file(r.base() + ".out");
    EXPECT_EQ(in, stream_bytes(1, 0, in.size()));
    EXPECT_EQ(out, stream_bytes(2, 0, out.size()));
    EXPECT_EQ(in.size(), 1024 * (first_stop / 2 + after.size() / 3 - 1));

    std::vector<json> data_calls = harness::calls(r.journal(), "ZolSpeechRecordData");
    size_t stop_calls = 0;
    for (const json &call : data_calls)
        stop_calls += call["in"]["record_control"] == 65535;
    EXPECT_EQ(stop_calls, 2 * (after.size() / 3));
    EXPECT_EQ(data_calls.back()["in"]["record_control"], 65535);
    EXPECT_FALSE(file_exists(r.pid_path()));
}

} // namespace
