// The direction flag of connect_slot_to_channel, called in-process: 0 is the
// inbound direction, every other value the outbound one.
#include <stdio.h>

#include <gtest/gtest.h>

#include "in_process.h"
#include "recorder.h"

using harness::json;

namespace {

class DirectionFlag : public harness::InProcessStandIn {};

TEST_F(DirectionFlag, ZeroIsInboundAndAnyOtherValueOutbound)
{
    struct FlagCase {
        int32_t direction;
        bool outbound;
    };
    const FlagCase cases[] = {{0, false}, {1, true}, {-1, true}, {2, true}, {INT32_MIN, true}};
    for (const FlagCase &c : cases) {
        SCOPED_TRACE("direction " + std::to_string(c.direction));
        json feeds_slot_3 = {{"source_type", 0}, {"source_channel", 9}, {"destination_type", 15},
                             {"destination_slot", 3}};
        use({{"channels", {{"1", {{"unit", 1}}}}}, {"switch", {{"connections", {feeds_slot_3}}}}});
        ZolHandle line = attach_line(1);
        ASSERT_NE(line, nullptr);

        testing::internal::CaptureStdout();
        connect_slot_to_channel(line, 3, c.direction);
        fflush(stdout);
        std::string out = testing::internal::GetCapturedStdout();

        EXPECT_EQ(calls("ZolCallSWGetConns").empty(), !c.outbound) << "only the outbound direction looks up";
        json request = last("ZolCallSWConnect");
        ASSERT_FALSE(request.is_null());
        EXPECT_EQ(request["in"]["source_type"], c.outbound ? 0 : 15);
        EXPECT_EQ(request["in"]["source_channel"], c.outbound ? 9 : 0);
        EXPECT_EQ(request["in"]["source_slot"], c.outbound ? 0 : 3);
        EXPECT_NE(out.find(c.outbound ? "Recording OUTBOUND slot 0" : "Recording INBOUND slot 3"), std::string::npos)
            << out;
    }
}

} // namespace
