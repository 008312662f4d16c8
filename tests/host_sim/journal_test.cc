// The journal (one line per call, per process), reading another description,
// a description that cannot be used, and the virtual-board library.
#include <dlfcn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "sim_fixture.h"
#include "virt_board.h"

TEST_F(Sim, EveryCallWritesOneLineAndTheFirstHasTheVersions)
{
    use(R"({"channels": {"1": {}}})"_json);
    _zol_api_ver_compiled = 2706100;
    _zol_api_ver_bld_comp = 506100;
    _zol_api_ver_auto_comp = 90;
    ZolHandle module = attach_module(3);
    ZolHandle line = attach_line(1);
    LineSessionArgs session = zeroed<LineSessionArgs>();
    ModuleInfoArgs info = zeroed<ModuleInfoArgs>();
    FeatureQueryArgs feature = zeroed<FeatureQueryArgs>();
    FirmwareDownloadArgs download = zeroed<FirmwareDownloadArgs>();
    SwitchConnectionArgs connection = zeroed<SwitchConnectionArgs>();
    SpeechRecordArgs speech = zeroed<SpeechRecordArgs>();
    ReceivePacketArgs packet = zeroed<ReceivePacketArgs>();
    CallCtrlInitArgs start = zeroed<CallCtrlInitArgs>();
    ErrorTextBuffer text = zeroed<ErrorTextBuffer>();
    zol_driver_reinit();
    ZolDebugModeSet(-1);
    ZolDebugModeSetISDN(-1);
    ZolCallCtrlInit(&start);
    ZolCallCtrlClose();
    ZolLineReset(line, &session);
    ZolModuleInfo(module, &info);
    ZolFeatureSetQuery(module, &feature);
    ZolFirmwareDownload(module, &download);
    ZolLineStateAccess(line);
    ZolLineUnitGet(line);
    ZolLineSrcAddrAccess(line);
    ZolLineAppAddrGet(line);
    ZolLineDestAddrGet(line);
    ZolCallSWGetConns(line, &connection);
    ZolCallSWConnect(line, &connection);
    ZolSpeechRecordData(line, &speech);
    ZolLineAlert(&session);
    ZolRcvProcessPkt(line, &packet);
    ZolErrorMessage(line, &speech, &text);
    ZolSessionDetach(line, &session);

    const std::vector<std::string> expected = {
        "ZolSessionAttach",   "ZolLineAttach",      "zol_driver_reinit",   "ZolDebugModeSet",
        "ZolDebugModeSetISDN", "ZolCallCtrlInit",   "ZolCallCtrlClose",    "ZolLineReset",
        "ZolModuleInfo",      "ZolFeatureSetQuery", "ZolFirmwareDownload", "ZolLineStateAccess",
        "ZolLineUnitGet",     "ZolLineSrcAddrAccess", "ZolLineAppAddrGet", "ZolLineDestAddrGet",
        "ZolCallSWGetConns",  "ZolCallSWConnect",   "ZolSpeechRecordData", "ZolLineAlert",
        "ZolRcvProcessPkt",   "ZolErrorMessage",    "ZolSessionDetach"};
    std::vector<json> entries = journal();
    std::vector<std::string> functions;
    for (const json &entry : entries) {
        functions.push_back(entry["fn"]);
        EXPECT_EQ(entry["pid"], getpid());
        EXPECT_TRUE(entry.contains("result")) << entry.dump();
    }
    EXPECT_EQ(functions, expected);
    ASSERT_FALSE(entries.empty());
    EXPECT_EQ(entries[0]["versions"], json({2706100, 506100, 90}));
    for (size_t i = 1; i < entries.size(); ++i)
        EXPECT_FALSE(entries[i].contains("versions")) << entries[i].dump();
}

TEST_F(Sim, ForkedChildJournalsUnderItsOwnPid)
{
    zol_driver_reinit();
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ZolDebugModeSet(-1);
        ZolCallCtrlClose();
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    ZolDebugModeSetISDN(-1);

    std::vector<json> entries = journal();
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[0]["pid"], getpid());
    EXPECT_TRUE(entries[0].contains("versions"));
    EXPECT_EQ(entries[1]["pid"], child);
    EXPECT_EQ(entries[1]["fn"], "ZolDebugModeSet");
    EXPECT_TRUE(entries[1].contains("versions")) << "the child's first call";
    EXPECT_EQ(entries[2]["pid"], child);
    EXPECT_FALSE(entries[2].contains("versions"));
    EXPECT_EQ(entries[3]["pid"], getpid());
    EXPECT_FALSE(entries[3].contains("versions"));
}

TEST_F(Sim, ManyProcessesAppendWholeLines)
{
    const int children = 8, calls_each = 50;
    std::vector<pid_t> pids;
    for (int i = 0; i < children; ++i) {
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (int call = 0; call < calls_each; ++call)
                ZolDebugModeSet(call);
            _exit(0);
        }
        pids.push_back(child);
    }
    for (pid_t child : pids)
        waitpid(child, nullptr, 0);
    std::vector<json> entries = journal(); // every line parses
    EXPECT_EQ(entries.size(), static_cast<size_t>(children * calls_each));
}

TEST_F(Sim, AnotherDescriptionPathIsReadWithFreshState)
{
    use(R"({"modules": {"7": {"board_name": "FIRST"}}})"_json);
    ZolHandle first = attach_module(7);
    ASSERT_NE(first, nullptr);
    use(R"({"modules": {"8": {"board_name": "SECOND"}}})"_json);
    EXPECT_EQ(attach_module(7), nullptr);
    ZolHandle second = attach_module(8);
    ASSERT_NE(second, nullptr);
    ModuleInfoArgs info = zeroed<ModuleInfoArgs>();
    ZolModuleInfo(second, &info);
    EXPECT_STREQ(info.board_name, "SECOND");
    EXPECT_EQ(ZolModuleInfo(first, &info), -1);
    EXPECT_EQ(last("ZolModuleInfo")["handle"], "bad") << "handles from before the reload";
}

TEST_F(Sim, UnusableDescriptionEndsTheProcessWithStatus70)
{
    const struct {
        const char *name;
        const char *content; // null: no file
    } cases[] = {{"missing.json", nullptr},
                 {"garbage.json", "{\"modules\": "},
                 {"array.json", "[1, 2]"},
                 {"key.json", "{\"modules\": {\"three\": {}}}"},
                 {"type.json", "{\"channels\": {\"1\": {\"unit\": \"one\"}}}"},
                 // would restart every lookup, so a caller's walk would never end
                 {"zero_connection.json", "{\"switch\": {\"connections\": [{\"result\": 1}]}}"},
                 // status 0 reads as success: not the failure it claims to inject
                 {"zero_failure.json", "{\"channels\": {\"1\": {\"speech\": {\"fail_at\": 1, \"fail_status\": 0}}}}"}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        if (c.content)
            harness::write_file(dir.file(c.name), c.content);
        setenv("HOST_SIM_BOARDS", dir.file(c.name).c_str(), 1);
        EXPECT_EXIT(zol_driver_reinit(), ::testing::ExitedWithCode(70), "board description");
    }
}

TEST_F(Sim, VirtualBoardLibraryJournalsAndAnswersFromTheDescription)
{
    use(R"({"virtual_board": {"start_code": 3, "start_text": "no licence", "stop_code": 0,
                                 "stop_text": "board stopped"}})"_json);
    setenv("HOST_SIM_PROBE", "probe value", 1);
    void *library = dlopen(FIRMWARE_DIR "/keldvb.so", RTLD_NOW);
    ASSERT_NE(library, nullptr) << dlerror();
    auto start = reinterpret_cast<VirtBoardEntry>(dlsym(library, "VirtBoardStart"));
    auto status = reinterpret_cast<VirtBoardEntry>(dlsym(library, "VirtBoardStatus"));
    auto stop = reinterpret_cast<VirtBoardEntry>(dlsym(library, "VirtBoardStop"));
    ASSERT_TRUE(start && status && stop);

    VirtBoardArgs args = zeroed<VirtBoardArgs>();
    args.module_number = 65;
    args.start_setting = 1000;
    start(&args);
    EXPECT_EQ(args.result_code, 3u);
    EXPECT_STREQ(args.result_text, "no licence");
    args = zeroed<VirtBoardArgs>();
    status(&args);
    args.reserved_8 = 1; // a stop record that was not zero-filled
    stop(&args);
    EXPECT_EQ(args.result_code, 0u);
    EXPECT_STREQ(args.result_text, "board stopped");
    dlclose(library);
    unsetenv("HOST_SIM_PROBE");

    std::vector<json> entries = journal();
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[0]["fn"], "VirtBoardStart");
    EXPECT_EQ(entries[0]["in"], json({{"module_number", 65}, {"start_setting", 1000}}));
    EXPECT_EQ(entries[0]["zero"], true);
    EXPECT_EQ(entries[0]["probe"], "probe value");
    std::string cmdline = harness::read_file("/proc/self/cmdline");
    EXPECT_EQ(entries[0]["cmdline"], cmdline);
    EXPECT_EQ(entries[1]["fn"], "VirtBoardStatus");
    EXPECT_EQ(entries[1]["module"], 65);
    EXPECT_EQ(entries[1]["zero"], true);
    EXPECT_EQ(entries[2]["fn"], "VirtBoardStop");
    EXPECT_EQ(entries[2]["zero"], false);
    EXPECT_EQ(entries[3]["fn"], "keldvb_unload");
}

// The daemon, linked the way the programs are, against the stand-in: one
// journal line per call, all from its pid, and an injected download failure
// that comes back into its log.
TEST(SimThroughDaemon, JournalAndInjectedFailureOfARealRun)
{
    harness::TempDir dir;
    harness::RunOptions options = harness::sim_options(dir, R"({"modules": {
        "3": {"board_name": "KQ4810 TALVERIN", "ppc": {"status": 5, "line_status": 9}}}})"_json);
    options.env["virtual_modules"] = "";
    options.args = {"-f", FIRMWARE_DIR, "-p", dir.file("tarvold.pid")};
    harness::Process daemon = harness::run(TARVOLD_BIN, options);
    EXPECT_EQ(daemon.exit_code(), 0) << daemon.err();
    EXPECT_NE(daemon.err().find("Unable to load PPC firmware (status:5, line_status:9)"),
              std::string::npos)
        << daemon.err();

    std::vector<json> entries = harness::read_journal(dir.file("journal.jsonl"));
    ASSERT_FALSE(entries.empty());
    EXPECT_EQ(entries[0]["fn"], "zol_driver_reinit");
    EXPECT_TRUE(entries[0].contains("versions"));
    for (const json &entry : entries)
        EXPECT_EQ(entry["pid"], daemon.pid) << entry.dump();
    // Every module number 2 to 127 is asked for once; only module 3 answers.
    EXPECT_EQ(harness::calls(entries, "ZolSessionAttach").size(), 126u);
    std::vector<json> downloads = harness::calls(entries, "ZolFirmwareDownload");
    ASSERT_EQ(downloads.size(), 1u);
    EXPECT_EQ(downloads[0]["in"]["image_path"], std::string(FIRMWARE_DIR) + "/cp.bin");
    EXPECT_EQ(downloads[0]["zero"], true);
}
