// The stand-in reads and writes every record field at its own byte offset,
// so a record laid out wrongly by a caller shows up: an input at the wrong
// offset is seen as the wrong value (and as a non-zero byte elsewhere), an
// output read at the wrong offset reads the wrong value.
#include <functional>

#include "sim_fixture.h"

namespace {

int32_t word_at(const std::vector<uint8_t> &record, size_t offset)
{
    int32_t value;
    memcpy(&value, record.data() + offset, sizeof value);
    return value;
}

void put_word(std::vector<uint8_t> &record, size_t offset, int32_t value)
{
    memcpy(record.data() + offset, &value, sizeof value);
}

#pragma pack(push, 1)
// LineSessionArgs with channel_number four bytes late.
struct MislaidLineSession {
    uint8_t reserved_0[12];
    int32_t channel_number;
    uint8_t reserved_16[169];
};
// ModuleInfoArgs with channel_count and board_name one byte early.
struct MislaidModuleInfo {
    int32_t status;
    uint8_t reserved_4[4];
    int32_t module_number;
    uint8_t reserved_12[3];
    uint32_t channel_count;
    uint8_t reserved_19[126];
    char board_name[231];
};
#pragma pack(pop)
static_assert(sizeof(MislaidLineSession) == 185 && sizeof(MislaidModuleInfo) == 376);

} // namespace

TEST_F(Sim, MislaidInputFieldShowsInTheJournal)
{
    use(R"({"channels": {"1": {}}})"_json);
    MislaidLineSession mislaid = zeroed<MislaidLineSession>();
    mislaid.channel_number = 1;
    EXPECT_EQ(ZolLineAttach(reinterpret_cast<LineSessionArgs *>(&mislaid)), nullptr);
    json entry = last("ZolLineAttach");
    EXPECT_EQ(entry["in"]["channel_number"], 0);
    EXPECT_EQ(entry["zero"], false);
    EXPECT_TRUE(entry["result"].is_null());

    EXPECT_NE(attach_line(1), nullptr);
    entry = last("ZolLineAttach");
    EXPECT_EQ(entry["in"]["channel_number"], 1);
    EXPECT_EQ(entry["zero"], true);
    EXPECT_EQ(entry["result"], "channel:1");
}

TEST_F(Sim, MislaidOutputFieldReadsTheWrongValue)
{
    MislaidModuleInfo mislaid = zeroed<MislaidModuleInfo>();
    mislaid.module_number = 5;
    ZolModuleInfo(nullptr, reinterpret_cast<ModuleInfoArgs *>(&mislaid));
    EXPECT_NE(+mislaid.channel_count, 24u);
    EXPECT_STREQ(mislaid.board_name, ""); // byte 145 is not the name

    ModuleInfoArgs info = zeroed<ModuleInfoArgs>();
    info.module_number = 5;
    ZolModuleInfo(nullptr, &info);
    EXPECT_EQ(info.channel_count, 24u);
    EXPECT_STREQ(info.board_name, "KQ4800 CASTOV");
}

// One input field per case: set at its offset it is journalled with its
// value and the record counts as zero elsewhere; set one byte off, it is not.
struct InputCase {
    const char *function;
    const char *field;
    size_t size;
    size_t offset;
    std::function<void(void *record, ZolHandle module, ZolHandle line)> call;
};

TEST_F(Sim, EveryInputFieldIsDecodedAtItsOffset)
{
    use(R"({"channels": {"1": {}}})"_json);
    ZolHandle module = attach_module(3);
    ZolHandle line = attach_line(1);
    ASSERT_NE(module, nullptr);
    ASSERT_NE(line, nullptr);
    auto session = [](void *r, ZolHandle, ZolHandle) { ZolSessionAttach(static_cast<LineSessionArgs *>(r)); };
    auto reset = [](void *r, ZolHandle, ZolHandle l) { ZolLineReset(l, static_cast<LineSessionArgs *>(r)); };
    auto download = [](void *r, ZolHandle m, ZolHandle) { ZolFirmwareDownload(m, static_cast<FirmwareDownloadArgs *>(r)); };
    auto connect = [](void *r, ZolHandle, ZolHandle l) { ZolCallSWConnect(l, static_cast<SwitchConnectionArgs *>(r)); };
    auto speech = [](void *r, ZolHandle, ZolHandle l) { ZolSpeechRecordData(l, static_cast<SpeechRecordArgs *>(r)); };
    const InputCase cases[] = {
        {"ZolLineAttach", "channel_number", 185, 8,
         [](void *r, ZolHandle, ZolHandle) { ZolLineAttach(static_cast<LineSessionArgs *>(r)); }},
        {"ZolSessionAttach", "attach_setting_b", 185, 20, session},
        {"ZolModuleInfo", "module_number", 376, 8,
         [](void *r, ZolHandle, ZolHandle) { ZolModuleInfo(nullptr, static_cast<ModuleInfoArgs *>(r)); }},
        {"ZolLineReset", "reset_setting_a", 185, 165, reset},
        {"ZolLineReset", "reset_setting_b", 185, 173, reset},
        {"ZolFirmwareDownload", "download_setting_a", 40, 20, download},
        {"ZolFirmwareDownload", "image_kind", 40, 24, download},
        {"ZolFirmwareDownload", "download_setting_b", 40, 28, download},
        {"ZolFirmwareDownload", "firmware_option", 40, 32, download},
        {"ZolCallSWConnect", "source_type", 596, 16, connect},
        {"ZolCallSWConnect", "source_slot", 596, 28, connect},
        {"ZolCallSWConnect", "destination_channel", 596, 40, connect},
        {"ZolCallSWConnect", "destination_slot", 596, 48, connect},
        {"ZolCallSWConnect", "connect_flag", 596, 52, connect},
        {"ZolSpeechRecordData", "record_setting_a", 172, 12, speech},
        {"ZolSpeechRecordData", "record_control", 172, 16, speech},
        {"ZolSpeechRecordData", "record_setting_b", 172, 20, speech},
        {"ZolSpeechRecordData", "buffer_size", 172, 56, speech},
        {"ZolRcvProcessPkt", "receive_setting", 180, 32,
         [](void *r, ZolHandle, ZolHandle l) { ZolRcvProcessPkt(l, static_cast<ReceivePacketArgs *>(r)); }},
        {"ZolCallCtrlInit", "init_setting", 1838, 1705,
         [](void *r, ZolHandle, ZolHandle) { ZolCallCtrlInit(static_cast<CallCtrlInitArgs *>(r)); }},
    };
    // The top byte is 0, so a shifted value never spills into a pointer field.
    const int32_t value = 0x00060708;
    for (const InputCase &c : cases) {
        SCOPED_TRACE(std::string(c.function) + "." + c.field);
        for (size_t shift : {0, 1}) {
            std::vector<uint8_t> record(c.size, 0);
            put_word(record, c.offset + shift, value);
            c.call(record.data(), module, line);
            json entry = last(c.function);
            EXPECT_EQ(entry["in"][c.field] == value, shift == 0) << entry.dump();
            if (shift == 0) {
                EXPECT_EQ(entry["zero"], true) << entry.dump();
            }
        }
    }
}

TEST_F(Sim, PointerFieldsAreReadAtTheirOffsets)
{
    ZolHandle module = attach_module(3);
    std::string path = dir.file("image.bin");
    harness::write_file(path, "image");
    const char *text = path.c_str();
    std::vector<uint8_t> record(40, 0);
    memcpy(record.data() + 16, &text, sizeof text);
    put_word(record, 24, 2);
    ZolFirmwareDownload(module, reinterpret_cast<FirmwareDownloadArgs *>(record.data()));
    EXPECT_EQ(last("ZolFirmwareDownload")["in"]["image_path"], path);
    EXPECT_EQ(word_at(record, 0), 0) << "the image at the path was read";

    std::vector<uint8_t> reset(185, 0);
    const char *reset_text = "line reset text";
    memcpy(reset.data() + 44, &reset_text, sizeof reset_text);
    ZolLineReset(module, reinterpret_cast<LineSessionArgs *>(reset.data()));
    EXPECT_EQ(last("ZolLineReset")["in"]["reset_text"], "line reset text");
}

// Each output, with a value of its own from the description, lands at its
// offset in a raw record.
TEST_F(Sim, OutputFieldsAreWrittenAtTheirOffsets)
{
    use(R"({
        "modules": {"3": {"presence_a": 17, "presence_b": 34, "channel_count": 51,
                          "board_name": "NAME", "info_module_number": 60,
                          "features": [{"name": "V34Enab", "value": 68, "status": 85}],
                          "dsp": {"status": 102, "line_status": 119}}},
        "channels": {"1": {"reset_status": 136, "reset_result": 0}},
        "switch": {"connections": [{"source_type": 1, "source_channel": 2, "source_aux": 3,
                                    "source_slot": 4, "destination_type": 5,
                                    "destination_channel": 6, "destination_aux": 7,
                                    "destination_slot": 8}]},
        "call_ctrl": {"results": [{"result": -3, "detail_a": 153, "detail_b": 170}]}})"_json);
    ZolHandle module = attach_module(3);
    ZolHandle line = attach_line(1);

    std::vector<uint8_t> info(376, 0);
    ZolModuleInfo(module, reinterpret_cast<ModuleInfoArgs *>(info.data()));
    EXPECT_EQ(word_at(info, 8), 60);
    EXPECT_EQ(word_at(info, 12), 17);
    EXPECT_EQ(word_at(info, 16), 51);
    EXPECT_EQ(word_at(info, 20), 34);
    EXPECT_STREQ(reinterpret_cast<const char *>(info.data() + 146), "NAME");

    std::vector<uint8_t> feature(169, 0);
    ZolFeatureSetQuery(module, reinterpret_cast<FeatureQueryArgs *>(feature.data()));
    EXPECT_EQ(word_at(feature, 0), 85);
    EXPECT_STREQ(reinterpret_cast<const char *>(feature.data() + 20), "V34Enab");
    EXPECT_EQ(word_at(feature, 33), 68);

    std::vector<uint8_t> download(40, 0);
    put_word(download, 24, 1);
    ZolFirmwareDownload(module, reinterpret_cast<FirmwareDownloadArgs *>(download.data()));
    EXPECT_EQ(word_at(download, 0), 102);
    EXPECT_EQ(word_at(download, 4), 119);

    std::vector<uint8_t> reset(185, 0);
    ZolLineReset(line, reinterpret_cast<LineSessionArgs *>(reset.data()));
    EXPECT_EQ(word_at(reset, 52), 136);

    std::vector<uint8_t> lookup(596, 0);
    EXPECT_EQ(ZolCallSWGetConns(line, reinterpret_cast<SwitchConnectionArgs *>(lookup.data())), 1);
    const size_t words[8] = {16, 20, 24, 28, 36, 40, 44, 48};
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(word_at(lookup, words[i]), i + 1) << "endpoint word at " << words[i];

    std::vector<uint8_t> start(1838, 0);
    EXPECT_EQ(ZolCallCtrlInit(reinterpret_cast<CallCtrlInitArgs *>(start.data())), -3);
    EXPECT_EQ(word_at(start, 294), 153);
    EXPECT_EQ(word_at(start, 298), 170);

    std::vector<uint8_t> text(160, 0);
    ZolErrorMessage(nullptr, start.data(), reinterpret_cast<ErrorTextBuffer *>(text.data()));
    EXPECT_EQ(text[30], 0);
    EXPECT_STRNE(reinterpret_cast<const char *>(text.data() + 31), "");
}

TEST_F(Sim, BoardNameOfTheFullFieldHasNoNul)
{
    std::string name(240, 'N');
    use({{"modules", {{"7", {{"board_name", name}}}}}});
    std::vector<uint8_t> info(377, 0xEE); // one guard byte past the record
    memset(info.data(), 0, 376);
    put_word(info, 8, 7);
    ZolModuleInfo(nullptr, reinterpret_cast<ModuleInfoArgs *>(info.data()));
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(info.data() + 146), 230), name.substr(0, 230));
    EXPECT_EQ(info[376], 0xEE);
}
