// What each call of the stand-in answers, by default and with the failures
// that a board description injects.
#include <errno.h>
#include <time.h>

#include "sim_fixture.h"

namespace {

FirmwareDownloadArgs download_request(const std::string &path, int kind)
{
    FirmwareDownloadArgs args = zeroed<FirmwareDownloadArgs>();
    args.image_path = path.c_str();
    args.download_setting_a = 1;
    args.image_kind = kind;
    args.download_setting_b = -1;
    return args;
}

SpeechRecordArgs speech_request(void *buffer, int size)
{
    SpeechRecordArgs args = zeroed<SpeechRecordArgs>();
    args.record_setting_a = 2;
    args.record_control = RECORD_CONTROL_RUN;
    args.record_setting_b = 3;
    args.data_buffer = buffer;
    args.buffer_size = size;
    return args;
}

double seconds_since(const timespec &start)
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec - start.tv_sec) + (now.tv_nsec - start.tv_nsec) / 1e9;
}

} // namespace

TEST_F(Sim, DefaultBoardsServeWithoutDescription)
{
    unsetenv("HOST_SIM_BOARDS");
    const struct {
        int number;
        const char *name;
        uint32_t channels;
    } modules[] = {{2, "KQ4800 MERODAN", 0}, {3, "KQ4810 TALVERIN", 0},
                   {4, "KQ4862 GOLVAR", 0}, {5, "KQ4800 CASTOV", 24}};
    for (const auto &expected : modules) {
        ZolHandle module = attach_module(expected.number);
        ASSERT_NE(module, nullptr) << expected.number;
        ModuleInfoArgs info = zeroed<ModuleInfoArgs>();
        info.module_number = expected.number;
        ZolModuleInfo(module, &info);
        EXPECT_STREQ(info.board_name, expected.name);
        EXPECT_EQ(info.channel_count, expected.channels);
        EXPECT_NE(info.presence_a, 0u);
        EXPECT_NE(info.presence_b, 0u);
    }
    EXPECT_EQ(attach_module(6), nullptr);
    EXPECT_NE(attach_line(1), nullptr);
    EXPECT_NE(attach_line(2), nullptr);
    EXPECT_EQ(attach_line(3), nullptr);
}

TEST_F(Sim, ModuleFailuresComeBack)
{
    use(R"({"modules": {"6": {"attach": false},
                      "7": {"info_status": 3, "error_text": "no such board", "channel_count": 4,
                            "info_module_number": 9},
                      "8": {"ppc": {"status": 5, "line_status": 9}}}})"_json);
    EXPECT_EQ(attach_module(6), nullptr);
    EXPECT_EQ(attach_module(99), nullptr);

    ModuleInfoArgs info = zeroed<ModuleInfoArgs>();
    info.module_number = 7;
    ZolModuleInfo(nullptr, &info);
    EXPECT_EQ(info.status, 3);
    EXPECT_EQ(info.channel_count, 4u);
    EXPECT_EQ(info.module_number, 9);
    EXPECT_EQ(error_text(nullptr, &info), "no such board");
    EXPECT_EQ(last("ZolErrorMessage")["same_record"], true);
    ModuleInfoArgs other = zeroed<ModuleInfoArgs>();
    error_text(nullptr, &other);
    EXPECT_EQ(last("ZolErrorMessage")["same_record"], false);

    ModuleInfoArgs unlisted = zeroed<ModuleInfoArgs>();
    unlisted.module_number = 42;
    ZolModuleInfo(nullptr, &unlisted);
    EXPECT_EQ(unlisted.status, 0);
    EXPECT_EQ(unlisted.channel_count, 0u);
    EXPECT_EQ(unlisted.module_number, 42);

    ZolHandle module = attach_module(8);
    ASSERT_NE(module, nullptr);
    std::string image = dir.file("cp.bin");
    FirmwareDownloadArgs ppc = download_request(image, IMAGE_KIND_PPC);
    ZolFirmwareDownload(module, &ppc);
    EXPECT_EQ(ppc.status, 5);
    EXPECT_EQ(ppc.line_status, 9);

    // Without an outcome in the description the image file decides.
    std::string dsp_image = dir.file("dsp.hex");
    FirmwareDownloadArgs missing = download_request(dsp_image, IMAGE_KIND_DSP);
    ZolFirmwareDownload(module, &missing);
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.line_status, ENOENT);
    harness::write_file(dsp_image, "image");
    FirmwareDownloadArgs present = download_request(dsp_image, IMAGE_KIND_DSP);
    present.status = 77;
    present.line_status = 77;
    ZolFirmwareDownload(module, &present);
    EXPECT_EQ(present.status, 0);
    EXPECT_EQ(present.line_status, 0);
    EXPECT_EQ(last("ZolFirmwareDownload")["zero"], false) << "status was not zero on entry";
}

TEST_F(Sim, FeaturesComeOnePerCallInOrder)
{
    use(R"({"modules": {"3": {"features": [{"name": "V34Enabled", "value": 0, "status": 0},
                                           {"name": "V34Enab", "value": 2, "status": 4}]}}})"_json);
    for (int round = 0; round < 2; ++round) { // a new attach starts the list anew
        ZolHandle module = attach_module(3);
        FeatureQueryArgs first = zeroed<FeatureQueryArgs>();
        ZolFeatureSetQuery(module, &first);
        EXPECT_STREQ(first.feature_name, "V34Enabled");
        FeatureQueryArgs second = zeroed<FeatureQueryArgs>();
        ZolFeatureSetQuery(module, &second);
        EXPECT_STREQ(second.feature_name, "V34Enab");
        EXPECT_EQ(+second.feature_value, 2);
        EXPECT_EQ(second.status, 4);
        FeatureQueryArgs end = zeroed<FeatureQueryArgs>();
        ZolFeatureSetQuery(module, &end);
        FeatureQueryArgs untouched = zeroed<FeatureQueryArgs>();
        EXPECT_EQ(memcmp(&end, &untouched, sizeof end), 0);
        LineSessionArgs detach = zeroed<LineSessionArgs>();
        ZolSessionDetach(module, &detach);
    }
}

TEST_F(Sim, LineResetAddressesStateAndAlert)
{
    use(R"({"channels": {"3": {"unit": 12, "app_address": [1, 2, 3, 4], "reset_result": -1,
                              "reset_status": 7}}})"_json);
    ZolHandle line = attach_line(3);
    ASSERT_NE(line, nullptr);
    LineSessionArgs reset = zeroed<LineSessionArgs>();
    EXPECT_EQ(ZolLineReset(line, &reset), -1);
    EXPECT_EQ(reset.reset_status, 7);

    EXPECT_EQ(ZolLineUnitGet(line), 12);
    LineAddress *source = ZolLineSrcAddrAccess(line);
    EXPECT_EQ(source->unit, 12);
    EXPECT_EQ(ZolLineDestAddrGet(line).unit, 12);
    LineAddress app = ZolLineAppAddrGet(line);
    EXPECT_EQ(memcmp(&app, "\x01\x02\x03\x04", 4), 0);

    uint32_t *state = ZolLineStateAccess(line);
    EXPECT_EQ(*state, 99u);
    *state = 2;
    ZolLineUnitGet(line);
    EXPECT_EQ(last("ZolLineUnitGet")["line_state"], 2);

    LineSessionArgs alert = zeroed<LineSessionArgs>();
    alert.app_address = app;
    EXPECT_EQ(ZolLineAlert(&alert), 0);
    EXPECT_EQ(last("ZolLineAlert")["line"], "channel:3");
    alert.app_address.unit = 13;
    EXPECT_EQ(ZolLineAlert(&alert), -1);
    EXPECT_TRUE(last("ZolLineAlert")["line"].is_null());
}

TEST_F(Sim, ConnectAndBreakResultsAndPacketCount)
{
    use(R"({"channels": {"1": {"connect_result": -4, "break_result": 3, "packets": 3,
                              "error_text": "line broke"},
                        "2": {"attach": false}}})"_json);
    EXPECT_EQ(attach_line(2), nullptr);
    ZolHandle line = attach_line(1);
    SwitchConnectionArgs connect = zeroed<SwitchConnectionArgs>();
    connect.connect_flag = 1;
    EXPECT_EQ(ZolCallSWConnect(line, &connect), -4);
    EXPECT_EQ(error_text(line, &connect), "line broke");
    SwitchConnectionArgs brk = zeroed<SwitchConnectionArgs>();
    EXPECT_EQ(ZolCallSWConnect(line, &brk), 3);

    std::vector<int> results;
    for (int i = 0; i < 5; ++i) {
        ReceivePacketArgs packet = zeroed<ReceivePacketArgs>();
        packet.receive_setting = 500;
        results.push_back(ZolRcvProcessPkt(line, &packet));
    }
    EXPECT_EQ(results, (std::vector<int>{1, 1, 1, 0, 0}));
}

TEST_F(Sim, SwitchLookupWalksTheConnectionsAndFailsWhereTold)
{
    json first = {{"source_channel", 4}, {"destination_type", 15}, {"destination_slot", 2}};
    json second = {{"source_channel", 5}, {"destination_type", 15}, {"destination_slot", 3},
                   {"result", 7}};
    use({{"channels", R"({"1": {}})"_json}, {"switch", {{"connections", {first, second}}}}});
    ZolHandle line = attach_line(1);
    for (int round = 0; round < 2; ++round) { // a zero record starts again from the top
        SwitchConnectionArgs lookup = zeroed<SwitchConnectionArgs>();
        EXPECT_EQ(ZolCallSWGetConns(line, &lookup), 1);
        EXPECT_EQ(lookup.source_channel, 4);
        EXPECT_EQ(last("ZolCallSWGetConns")["zero"], true);
        EXPECT_EQ(ZolCallSWGetConns(line, &lookup), 7);
        EXPECT_EQ(lookup.source_channel, 5);
        EXPECT_EQ(lookup.destination_slot, 3);
        EXPECT_EQ(last("ZolCallSWGetConns")["unchanged"], true);
        EXPECT_EQ(ZolCallSWGetConns(line, &lookup), 0);
        EXPECT_EQ(lookup.source_channel, 5) << "the end writes nothing";
    }
    SwitchConnectionArgs lookup = zeroed<SwitchConnectionArgs>();
    ZolCallSWGetConns(line, &lookup);
    lookup.source_channel = 0; // a caller that meddles with the record between calls
    ZolCallSWGetConns(line, &lookup);
    EXPECT_EQ(last("ZolCallSWGetConns")["unchanged"], false);

    use({{"channels", R"({"1": {}})"_json},
         {"switch", {{"connections", {first}}, {"error_at", 2}, {"error_text", "no switch"}}}});
    line = attach_line(1);
    SwitchConnectionArgs failing = zeroed<SwitchConnectionArgs>();
    EXPECT_EQ(ZolCallSWGetConns(line, &failing), 1);
    EXPECT_EQ(ZolCallSWGetConns(line, &failing), -1);
    EXPECT_EQ(error_text(line, &failing), "no switch");
    EXPECT_EQ(last("ZolErrorMessage")["same_record"], true);
}

TEST_F(Sim, CallControlResultsInTurnThenTheConfigurationDecides)
{
    use(R"({"call_ctrl": {"results": [{"result": -3, "detail_a": 4, "detail_b": 5},
                                      {"result": -5, "detail_a": 8, "detail_b": 9}]}})"_json);
    std::string config = dir.file("tarvol.cfg");
    harness::write_file(config, "config");
    auto start = [&](const std::string &path, CallCtrlInitArgs &args) {
        memset(&args, 0, sizeof args);
        args.config_path = path.c_str();
        args.init_setting = 1;
        args.ecc_log_path = "";
        return ZolCallCtrlInit(&args);
    };
    CallCtrlInitArgs args;
    EXPECT_EQ(start(config, args), -3);
    EXPECT_EQ(+args.error_detail_a, 4);
    EXPECT_EQ(+args.error_detail_b, 5);
    EXPECT_EQ(start(config, args), -5);
    EXPECT_EQ(+args.error_detail_a, 0) << "-5 writes no details";
    EXPECT_EQ(start(config, args), 0);
    EXPECT_EQ(start(dir.file("missing.cfg"), args), -5);
    json entry = last("ZolCallCtrlInit");
    EXPECT_EQ(entry["in"]["config_path"], dir.file("missing.cfg"));
    EXPECT_EQ(entry["in"]["init_setting"], 1);
    EXPECT_EQ(entry["in"]["ecc_log_path"], "");
    EXPECT_EQ(entry["zero"], true);

    // A record started again without being zero-filled shows it.
    args.config_path = config.c_str();
    ZolCallCtrlInit(&args);
    EXPECT_EQ(last("ZolCallCtrlInit")["zero"], false);
}

TEST_F(Sim, SpeechStreamFollowsSizesAndTotal)
{
    use(R"({"channels": {"1": {"speech": {"seed": 7, "sizes": [100, 300], "total": 700}}}})"_json);
    ZolHandle line = attach_line(1);
    uint8_t buffer[1024];
    SpeechRecordArgs args = speech_request(buffer, sizeof buffer);
    std::vector<int> counts;
    std::vector<uint8_t> stream;
    for (int i = 0; i < 5; ++i) {
        int count = ZolSpeechRecordData(line, &args);
        EXPECT_EQ(args.status, 0);
        counts.push_back(count);
        stream.insert(stream.end(), buffer, buffer + std::max(count, 0));
    }
    EXPECT_EQ(counts, (std::vector<int>{100, 300, 100, 200, 0}));
    ASSERT_EQ(stream.size(), 700u);
    for (size_t k = 0; k < stream.size(); ++k)
        ASSERT_EQ(stream[k], (7 + k) % 251) << "byte " << k;
    EXPECT_EQ(last("ZolSpeechRecordData")["zero"], true);
}

TEST_F(Sim, SpeechStopDeliversAfterStopBuffersThenZero)
{
    use(R"({"channels": {"1": {"speech": {"sizes": [10], "after_stop": 2}}}})"_json);
    ZolHandle line = attach_line(1);
    uint8_t buffer[1024];
    SpeechRecordArgs args = speech_request(buffer, sizeof buffer);
    std::vector<int> counts;
    for (int32_t control : {1, 1, 0xFFFF, 0xFFFF, 0xFFFF, 1})
        counts.push_back((args.record_control = control, ZolSpeechRecordData(line, &args)));
    EXPECT_EQ(counts, (std::vector<int>{10, 10, 10, 10, 0, 0}));
}

TEST_F(Sim, SpeechCountsAreWrittenOnlyAsFarAsTheBuffer)
{
    use(R"({"channels": {"1": {"speech": {"counts": [5000, -3, 0], "seed": 0}}}})"_json);
    ZolHandle line = attach_line(1);
    uint8_t buffer[32];
    memset(buffer, 0xEE, sizeof buffer);
    SpeechRecordArgs args = speech_request(buffer, 16);
    EXPECT_EQ(ZolSpeechRecordData(line, &args), 5000);
    EXPECT_EQ(buffer[15], 15);
    EXPECT_EQ(buffer[16], 0xEE);
    memset(buffer, 0xEE, sizeof buffer);
    EXPECT_EQ(ZolSpeechRecordData(line, &args), -3);
    EXPECT_EQ(buffer[0], 0xEE);
    EXPECT_EQ(ZolSpeechRecordData(line, &args), 0);
    EXPECT_EQ(ZolSpeechRecordData(line, &args), 1024) << "then the sizes";
}

TEST_F(Sim, SpeechFailureComesBackWithStatusAndText)
{
    use(R"({"channels": {"1": {"error_text": "no carrier",
                              "speech": {"sizes": [64], "fail_at": 2, "fail_status": 6}}}})"_json);
    ZolHandle line = attach_line(1);
    uint8_t buffer[1024];
    SpeechRecordArgs args = speech_request(buffer, sizeof buffer);
    EXPECT_EQ(ZolSpeechRecordData(line, &args), 64);
    memset(buffer, 0xEE, sizeof buffer);
    EXPECT_EQ(ZolSpeechRecordData(line, &args), 0);
    EXPECT_EQ(args.status, 6);
    EXPECT_EQ(buffer[0], 0xEE);
    EXPECT_EQ(error_text(line, &args), "no carrier");
    EXPECT_EQ(last("ZolErrorMessage")["same_record"], true);
    EXPECT_EQ(ZolSpeechRecordData(line, &args), 64);
    EXPECT_EQ(args.status, 0);
    EXPECT_EQ(last("ZolSpeechRecordData")["zero"], true) << "the status is the library's own";
}

TEST_F(Sim, DefaultChannelsArePacedAtTheLineRate)
{
    unsetenv("HOST_SIM_BOARDS");
    ZolHandle line = attach_line(2);
    uint8_t buffer[1024];
    SpeechRecordArgs args = speech_request(buffer, sizeof buffer);
    timespec start;
    clock_gettime(CLOCK_MONOTONIC, &start);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(ZolSpeechRecordData(line, &args), 1024);
    double elapsed = seconds_since(start);
    EXPECT_GE(elapsed, 4 * 1024 / 8000.0 - 0.02);
    EXPECT_LT(elapsed, 1.5);
}

TEST_F(Sim, PacedCallWithAHugeCountStillReturns)
{
    use(R"({"channels": {"1": {"speech": {"pace": true, "counts": [400000]}}}})"_json);
    ZolHandle line = attach_line(1);
    uint8_t buffer[1024];
    SpeechRecordArgs args = speech_request(buffer, sizeof buffer);
    timespec start;
    clock_gettime(CLOCK_MONOTONIC, &start);
    EXPECT_EQ(ZolSpeechRecordData(line, &args), 400000);
    EXPECT_LT(seconds_since(start), 1.5);
}

TEST_F(Sim, BadHandlesAndRecordsNeverAbortTheCaller)
{
    ZolHandle bogus = reinterpret_cast<ZolHandle>(0x1234);
    ModuleInfoArgs info = zeroed<ModuleInfoArgs>();
    EXPECT_EQ(ZolModuleInfo(bogus, &info), -1);
    EXPECT_EQ(last("ZolModuleInfo")["handle"], "bad");
    EXPECT_NE(ZolLineStateAccess(bogus), nullptr);
    EXPECT_NE(ZolLineSrcAddrAccess(nullptr), nullptr);
    EXPECT_EQ(ZolLineUnitGet(bogus), -1);
    EXPECT_EQ(ZolLineDestAddrGet(bogus).unit, 0);
    EXPECT_EQ(ZolSpeechRecordData(bogus, nullptr), -1);
    EXPECT_TRUE(last("ZolSpeechRecordData")["in"].is_null());
    EXPECT_EQ(ZolLineAttach(nullptr), nullptr);
    EXPECT_EQ(ZolErrorMessage(nullptr, nullptr, nullptr), -1);

    ZolHandle line = attach_line(1);
    LineSessionArgs detach = zeroed<LineSessionArgs>();
    EXPECT_EQ(ZolSessionDetach(line, &detach), 0);
    EXPECT_EQ(ZolLineUnitGet(line), -1);
    json entry = last("ZolLineUnitGet");
    EXPECT_EQ(entry["handle"], "channel:1");
    EXPECT_EQ(entry["detached"], true);
    EXPECT_EQ(ZolSessionDetach(line, &detach), -1);
}
