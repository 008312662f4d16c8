// The outbound channel connects to whatever channel feeds the time slot,
// whatever its number: no number may stand for "not found".
#include <stdint.h>

#include <gtest/gtest.h>

#include "sulvet_run.h"

using namespace sulvet_test;
using harness::json;

namespace {

TEST(SlotLookup, AnySourceChannelNumberIsConnected)
{
    for (int source_channel : {INT32_MIN, -1, 0, INT32_MAX}) {
        SCOPED_TRACE(source_channel);
        json feed = {{"source_type", 0}, {"source_channel", source_channel}, {"destination_type", 15},
                     {"destination_slot", 5}};
        json description = {{"channels", {{"2", finite_channel(2, 2, 0)}}},
                            {"switch", {{"connections", json::array({feed})}}}};
        SulvetRun run;

        harness::Process sulvet = run.run(description, {"-o", "2", "-t", "5"});

        std::string out = sulvet.out();
        EXPECT_NE(out.find("Channel " + std::to_string(source_channel) + " => 5\n"), std::string::npos) << out;
        EXPECT_NE(out.find("Channel [02] Recording OUTBOUND slot 0 to channel 2\n"), std::string::npos) << out;
        EXPECT_EQ(out.find("not found"), std::string::npos) << out;
        std::vector<json> connects = harness::calls(run.journal(), "ZolCallSWConnect");
        ASSERT_EQ(connects.size(), 2u); // the connection, then its break
        EXPECT_EQ(connects[0]["in"]["connect_flag"], 1);
        EXPECT_EQ(connects[0]["in"]["source_channel"], source_channel);
        EXPECT_EQ(sulvet.exit_code(), 0);
    }
}

} // namespace
