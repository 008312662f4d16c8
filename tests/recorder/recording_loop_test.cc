// The recording loop called directly, where a test must set the stop flag
// before the loop starts: a stop asked for before any data.
#include <stdio.h>

#include <gtest/gtest.h>

#include "in_process.h"
#include "recorder.h"
#include "sulvet_run.h"

using namespace sulvet_test;
using harness::json;

namespace {

class RecordingLoop : public harness::InProcessStandIn {};

TEST_F(RecordingLoop, AStopBeforeAnyDataIsCarriedByTheVeryFirstCalls)
{
    json endless = {{"sizes", {1024}}, {"total", nullptr}, {"after_stop", 2}, {"pace", false}};
    json description = {{"channels", {{"1", {{"unit", 1}, {"speech", endless}}},
                                      {"2", {{"unit", 2}, {"speech", endless}}}}}};
    description["channels"]["2"]["speech"]["seed"] = 2;
    use(description);
    ZolHandle inbound = attach_line(1);
    ZolHandle outbound = attach_line(2);
    ASSERT_TRUE(inbound && outbound);

    keep_recording = 0;
    std::string base = dir.file("rec");
    testing::internal::CaptureStdout();
    record_channels(inbound, outbound, base.c_str());
    fflush(stdout);
    std::string out = without_times(testing::internal::GetCapturedStdout());

    EXPECT_EQ(out, "PRESS  ^C  TO STOP RECORDING!!!\n"
                   "STOP RECORDING\nRead in: 1024: T\nRead out: 1024: T\n"
                   "STOP RECORDING\nRead in: 1024: T\nRead out: 1024: T\n"
                   "STOP RECORDING\nRead in: 0: T\nRead out: 0: T\n");
    EXPECT_EQ(harness::read_file(base + ".in"), stream_bytes(1, 0, 2048));
    EXPECT_EQ(harness::read_file(base + ".out"), stream_bytes(2, 0, 2048));
    std::vector<json> data_calls = calls("ZolSpeechRecordData");
    ASSERT_EQ(data_calls.size(), 6u);
    for (const json &call : data_calls)
        EXPECT_EQ(call["in"]["record_control"], 65535);
    EXPECT_EQ(failure_reported, 0);
}

} // namespace
