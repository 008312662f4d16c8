// Switch connection of the T1 time slot: the trace lines, the inbound and
// outbound requests, the lookup of the channel that feeds the slot, and the
// break and detach at the end, through the real sulvet and the stand-in.
#include <gtest/gtest.h>

#include "sulvet_run.h"

using namespace sulvet_test;
using harness::json;

namespace {

// Channel 1 (unit 7) records inbound, channel 2 (unit 2) outbound. The address
// units above 127 show that they are read as bytes, 0 to 255.
json two_channels(json connections = json::array({{{"source_type", 0}, {"source_channel", 9},
                                                    {"destination_type", 15}, {"destination_slot", 1}}}))
{
    json inbound = finite_channel(7, 1, 0);
    inbound["src_address"] = {32, 200, 0, 0};
    inbound["app_address"] = {16, 201, 0, 0};
    inbound["dest_address"] = {48, 255, 0, 0};
    json outbound = finite_channel(2, 2, 0);
    outbound["src_address"] = {32, 12, 0, 0};
    outbound["app_address"] = {16, 22, 0, 0};
    outbound["dest_address"] = {48, 32, 0, 0};
    return {{"channels", {{"1", inbound}, {"2", outbound}}}, {"switch", {{"connections", connections}}}};
}

json connection(int source_channel, int destination_type, int destination_slot, int result = 1)
{
    return {{"source_type", 0}, {"source_channel", source_channel}, {"destination_type", destination_type},
            {"destination_slot", destination_slot}, {"result", result}};
}

json request(int source_type, int source_channel, int source_slot, int destination_channel, int connect_flag)
{
    return {{"source_type", source_type},         {"source_channel", source_channel},
            {"source_aux", 0},                    {"source_slot", source_slot},
            {"destination_type", 0},              {"destination_channel", destination_channel},
            {"destination_aux", 0},               {"destination_slot", 0},
            {"connect_flag", connect_flag}};
}

// The request fields of every ZolCallSWConnect call, with the line it went to.
std::vector<json> connect_requests(const std::vector<json> &journal)
{
    std::vector<json> out;
    for (const json &entry : harness::calls(journal, "ZolCallSWConnect")) {
        json fields = request(0, 0, 0, 0, 0);
        for (auto &[name, value] : fields.items())
            value = entry["in"].value(name, json());
        out.push_back({{"handle", entry["handle"]}, {"in", fields}, {"zero", entry["zero"]}});
    }
    return out;
}

json on_line(const std::string &handle, json fields)
{
    return {{"handle", handle}, {"in", fields}, {"zero", true}};
}

const std::string inbound_setup = "Channel [01] initialized\n"
                                  "Connection to 7\n"
                                  "Connection to 200\n"
                                  "Connection to 201\n"
                                  "Connection to 255\n"
                                  "Channel [07] Recording INBOUND slot 1 to channel 255\n"
                                  "Channel [02] initialized\n"
                                  "Connection to 2\n"
                                  "Connection to 12\n"
                                  "Connection to 22\n"
                                  "Connection to 32\n";

TEST(SwitchConnection, ConnectsTheSlotInboundAndItsSourceOutboundThenBreaksBoth)
{
    SulvetRun r;
    harness::Process p = r.run(two_channels(), {"-t", "1", "-i", "1", "-o", "2"});
    EXPECT_EQ(p.exit_code(), 0);
    EXPECT_EQ(without_times(p.out()), "Module -1(-1): doesn't support any channel\n" + inbound_setup +
                                          "Channel 9 => 1\n"
                                          "Channel [02] Recording OUTBOUND slot 0 to channel 32\n"
                                          "Writing PID to " + r.pid_path() + "\n"
                                          "PRESS  ^C  TO STOP RECORDING!!!\n"
                                          "Read in: 0: T\n"
                                          "Read out: 0: T\n"
                                          "Channel [07] Disconnected\n"
                                          "Channel [02] Disconnected\n");

    std::vector<json> journal = r.journal();
    EXPECT_EQ(connect_requests(journal),
              (std::vector<json>{on_line("channel:1", request(15, 0, 1, 255, 1)),
                                 on_line("channel:2", request(0, 9, 0, 32, 1)),
                                 on_line("channel:1", request(0, 0, 0, 0, 0)),
                                 on_line("channel:2", request(0, 0, 0, 0, 0))}));
    // The inbound connection is made before the outbound lookup walks the switch,
    // and each line's unit is read before its break, which comes before its detach.
    EXPECT_EQ(call_order(journal, {"ZolCallSWConnect", "ZolCallSWGetConns", "ZolSessionDetach"}),
              (std::vector<std::string>{"ZolCallSWConnect channel:1", "ZolCallSWGetConns channel:2",
                                        "ZolCallSWConnect channel:2", "ZolCallSWConnect channel:1",
                                        "ZolSessionDetach channel:1", "ZolCallSWConnect channel:2",
                                        "ZolSessionDetach channel:2"}));
    for (const json &detach : harness::calls(journal, "ZolSessionDetach"))
        EXPECT_TRUE(detach["zero"].get<bool>());
}

struct LookupCase {
    const char *name;
    json connections;
    int error_at;
    int expected_source;          // -1: nothing found
    size_t expected_lookup_calls;
};

TEST(SwitchConnection, LookupTakesTheFirstConnectionToTheSlot)
{
    const LookupCase cases[] = {
        {"passes over another type and another slot",
         {connection(5, 0, 1), connection(6, 15, 2), connection(8, 15, 1)}, 0, 8, 3},
        {"first of several wins", {connection(8, 15, 1), connection(9, 15, 1)}, 0, 8, 1},
        {"any positive result is one connection", {connection(6, 15, 3, 5), connection(8, 15, 1, 42)}, 0, 8, 2},
        {"end of the list", {connection(5, 0, 1), connection(6, 15, 2)}, 0, -1, 3},
        {"empty list", json::array(), 0, -1, 1},
        {"error after one connection", {connection(5, 0, 1), connection(8, 15, 1)}, 2, -1, 2},
    };
    for (const LookupCase &c : cases) {
        SCOPED_TRACE(c.name);
        json description = two_channels(c.connections);
        description["switch"]["error_at"] = c.error_at;
        description["switch"]["error_text"] = "switch failure";
        SulvetRun r;
        harness::Process p = r.run(description, {"-t", "1", "-i", "1", "-o", "2"});
        std::string out = without_times(p.out());
        std::vector<json> journal = r.journal();

        std::vector<json> lookups = calls_on(journal, "ZolCallSWGetConns", "channel:2");
        ASSERT_EQ(lookups.size(), c.expected_lookup_calls);
        // The lookup record is cleared once and handed back as the library left it.
        EXPECT_TRUE(lookups[0]["zero"].get<bool>());
        for (size_t i = 1; i < lookups.size(); ++i)
            EXPECT_TRUE(lookups[i]["unchanged"].get<bool>()) << "call " << i + 1;

        std::vector<json> outbound = calls_on(journal, "ZolCallSWConnect", "channel:2");
        if (c.expected_source >= 0) {
            EXPECT_EQ(p.exit_code(), 0);
            EXPECT_NE(out.find(inbound_setup + "Channel 8 => 1\n"
                                               "Channel [02] Recording OUTBOUND slot 0 to channel 32\n"
                                               "Writing PID"),
                      std::string::npos)
                << out;
            ASSERT_EQ(outbound.size(), 2u);
            EXPECT_EQ(outbound[0]["in"]["source_channel"], c.expected_source);
        } else {
            // Nothing feeds the slot: no outbound connection, but the line is
            // still recorded and torn down, and the run ends with status 1.
            std::string error = c.error_at ? " switch failure: ERROR finding Connecitions to the target: "
                                             "ZolCallSWGetConns"
                                           : "";
            EXPECT_NE(out.find(inbound_setup + error + "T1 Slot 1 not found\nWriting PID"), std::string::npos) << out;
            EXPECT_EQ(out.find("OUTBOUND"), std::string::npos);
            EXPECT_EQ(p.exit_code(), 1);
            ASSERT_EQ(outbound.size(), 1u);
            EXPECT_EQ(outbound[0]["in"]["connect_flag"], 0);
            EXPECT_EQ(calls_on(journal, "ZolSpeechRecordData", "channel:2").size(), 1u);
            EXPECT_NE(out.find("Read out: 0: T\nChannel [07] Disconnected\nChannel [02] Disconnected\n"),
                      std::string::npos);
        }
    }
}

TEST(SwitchConnection, ErrorOnTheFirstLookupCallPrintsTheErrorThenNotFound)
{
    json description = two_channels();
    description["switch"]["error_at"] = 1;
    description["switch"]["error_text"] = "switch failure";
    SulvetRun r;
    harness::Process p = r.run(description, {"-t", "1", "-i", "1", "-o", "2"});
    EXPECT_NE(p.out().find("Connection to 32\n"
                           " switch failure: ERROR finding Connecitions to the target: ZolCallSWGetConns"
                           "T1 Slot 1 not found\n"
                           "Writing PID"),
              std::string::npos)
        << p.out();
    std::vector<json> journal = r.journal();
    EXPECT_EQ(harness::calls(journal, "ZolCallSWGetConns").size(), 1u);
    std::vector<json> errors = calls_on(journal, "ZolErrorMessage", "channel:2");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_TRUE(errors[0]["same_record"].get<bool>());
    EXPECT_EQ(p.exit_code(), 1);
}

TEST(SwitchConnection, WithoutASlotBothDirectionsUseSlotMinusOne)
{
    SulvetRun r;
    harness::Process p = r.run(two_channels({connection(8, 15, 1), connection(4, 15, -1)}), {"-i", "1", "-o", "2"});
    EXPECT_EQ(p.exit_code(), 0);
    std::string out = p.out();
    EXPECT_NE(out.find("Channel [07] Recording INBOUND slot -1 to channel 255\n"), std::string::npos) << out;
    EXPECT_NE(out.find("Channel 4 => -1\nChannel [02] Recording OUTBOUND slot 0 to channel 32\n"), std::string::npos)
        << out;
    std::vector<json> requests = connect_requests(r.journal());
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_EQ(requests[0], on_line("channel:1", request(15, 0, -1, 255, 1)));
    EXPECT_EQ(requests[1], on_line("channel:2", request(0, 4, 0, 32, 1)));
}

TEST(SwitchConnection, OnlyANegativeConnectResultIsReported)
{
    struct ConnectCase {
        int result;
        bool reported;
    };
    for (ConnectCase c : {ConnectCase{0, false}, ConnectCase{3, false}, ConnectCase{-2, true}}) {
        SCOPED_TRACE(c.result);
        json description = two_channels();
        description["channels"]["1"]["connect_result"] = c.result;
        description["channels"]["1"]["error_text"] = "line failure";
        SulvetRun r;
        harness::Process p = r.run(description, {"-t", "1", "-i", "1", "-o", "2"});
        std::string out = without_times(p.out());
        const std::string recording_line = "Channel [07] Recording INBOUND slot 1 to channel 255\n";
        const std::string error = " line failure: ERROR connecting to the target: ZolCallSWConnect\n";
        EXPECT_NE(out.find(recording_line + (c.reported ? error : "") + "Channel [02] initialized\n"),
                  std::string::npos)
            << out;
        EXPECT_EQ(p.exit_code(), c.reported ? 1 : 0);
        // The request is not repeated; the line is recorded and torn down as usual.
        std::vector<json> journal = r.journal();
        EXPECT_EQ(calls_on(journal, "ZolCallSWConnect", "channel:1").size(), 2u);
        EXPECT_EQ(calls_on(journal, "ZolSpeechRecordData", "channel:1").size(), 1u);
        EXPECT_NE(out.find("Channel [07] Disconnected\nChannel [02] Disconnected\n"), std::string::npos);
    }
}

TEST(SwitchConnection, FailedBreakStillDetachesWithTheUnitReadBefore)
{
    json description = two_channels();
    description["channels"]["1"]["break_result"] = -1;
    description["channels"]["1"]["error_text"] = "line failure";
    SulvetRun r;
    harness::Process p = r.run(description, {"-t", "1", "-i", "1", "-o", "2"});
    EXPECT_EQ(p.exit_code(), 1);
    std::string out = without_times(p.out());
    EXPECT_NE(out.find("Read out: 0: T\n"
                       " line failure: ERROR disconnecting the target: ZolCallSWConnect\n"
                       "Channel [07] Disconnected\n"
                       "Channel [02] Disconnected\n"),
              std::string::npos)
        << out;
    std::vector<json> journal = r.journal();
    std::vector<std::string> teardown = call_order(journal, {"ZolLineUnitGet", "ZolCallSWConnect",
                                                             "ZolErrorMessage", "ZolSessionDetach"});
    std::vector<std::string> last(teardown.end() - 7, teardown.end());
    EXPECT_EQ(last, (std::vector<std::string>{"ZolLineUnitGet channel:1", "ZolCallSWConnect channel:1",
                                              "ZolErrorMessage channel:1", "ZolSessionDetach channel:1",
                                              "ZolLineUnitGet channel:2", "ZolCallSWConnect channel:2",
                                              "ZolSessionDetach channel:2"}));
}

TEST(SwitchConnection, ALineWhoseAttachFailedGetsNoConnection)
{
    json description = two_channels();
    description["channels"]["1"]["attach"] = false;
    SulvetRun r;
    harness::Process p = r.run(description, {"-t", "1", "-i", "1", "-o", "2"});
    std::string out = p.out();
    EXPECT_NE(out.find("Can't do session attach to channel\nChannel [02] initialized\nConnection to 2\n"),
              std::string::npos)
        << out;
    std::vector<json> journal = r.journal();
    EXPECT_EQ(connect_requests(journal),
              (std::vector<json>{on_line("channel:2", request(0, 9, 0, 32, 1)),
                                 on_line("channel:2", request(0, 0, 0, 0, 0))}));
}

} // namespace
