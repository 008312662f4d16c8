// The board API of the maker's host library (keldlib_mt.so with udralib_mt.so),
// as both programs call it. The library is 32-bit x86 code: every record below
// is packed, little-endian and carries 4-byte pointers.
#ifndef BOARD_API_H
#define BOARD_API_H

#include <stddef.h>
#include <stdint.h>

static_assert(sizeof(void *) == 4, "the host library ABI is 32-bit x86: build with -m32");

#pragma pack(push, 1)

// A line's address as the library hands it out; only the unit byte has a meaning to us.
struct LineAddress {
    uint8_t opaque_0;
    uint8_t unit;
    uint8_t opaque_2[2];
};

struct CallCtrlInitArgs {
    uint8_t reserved_0[294];
    int32_t error_detail_a;
    int32_t error_detail_b;
    uint8_t reserved_302[1391];
    const char *config_path;
    uint8_t reserved_1697[8];
    int32_t init_setting;
    const char *ecc_log_path;
    uint8_t reserved_1713[125];
};

// CallCtrlInitArgs.init_setting is always this; ZolCallCtrlInit returns
// CALL_CTRL_NO_VALID_CONFIG when the configuration holds nothing it can use.
enum { CALL_CTRL_INIT_SETTING = 1, CALL_CTRL_NO_VALID_CONFIG = -5 };

struct ModuleInfoArgs {
    int32_t status;
    uint8_t reserved_4[4];
    int32_t module_number;
    uint32_t presence_a;
    uint32_t channel_count;
    uint32_t presence_b;
    uint8_t reserved_24[122];
    char board_name[230];
};

// One record type serves session attach, line attach, reset, alert and detach.
struct LineSessionArgs {
    uint8_t reserved_0[8];
    int32_t channel_number;
    uint8_t reserved_12[1];
    uint8_t attach_setting_a;
    uint8_t module_number;
    uint8_t reserved_15[1];
    LineAddress app_address;
    int32_t attach_setting_b;
    uint8_t reserved_24[20];
    const char *reset_text;
    uint8_t reserved_48[4];
    int32_t reset_status;
    uint8_t reserved_56[109];
    int32_t reset_setting_a;
    uint8_t reserved_169[4];
    int32_t reset_setting_b;
    uint8_t reserved_177[8];
};

struct FeatureQueryArgs {
    int32_t status;
    uint8_t reserved_4[16];
    char feature_name[13];
    int32_t feature_value;
    uint8_t reserved_37[132];
};

struct FirmwareDownloadArgs {
    int32_t status;
    int32_t line_status;
    uint32_t reserved_8;
    uint32_t reserved_12;
    const char *image_path;
    int32_t download_setting_a;
    int32_t image_kind;
    int32_t download_setting_b;
    int32_t firmware_option;
    uint32_t reserved_36;
};

enum { IMAGE_KIND_DSP = 1, IMAGE_KIND_PPC = 2 };
// The two fixed words of every download request.
enum { DOWNLOAD_SETTING_A = 1, DOWNLOAD_SETTING_B = -1 };

struct SwitchConnectionArgs {
    uint8_t reserved_0[16];
    int32_t source_type;
    int32_t source_channel;
    int32_t source_aux;
    int32_t source_slot;
    uint8_t reserved_32[4];
    int32_t destination_type;
    int32_t destination_channel;
    int32_t destination_aux;
    int32_t destination_slot;
    int32_t connect_flag;
    uint8_t reserved_56[540];
};

enum { ENDPOINT_CHANNEL = 0, ENDPOINT_T1_SLOT = 15 };
// SwitchConnectionArgs.connect_flag for ZolCallSWConnect.
enum { SWITCH_BREAK = 0, SWITCH_CONNECT = 1 };

struct SpeechRecordArgs {
    int32_t status;
    uint8_t reserved_4[8];
    int32_t record_setting_a;
    int32_t record_control;
    int32_t record_setting_b;
    int32_t word_24;
    int32_t word_28;
    uint8_t reserved_32[12];
    int32_t word_44;
    int32_t word_48;
    void *data_buffer;
    int32_t buffer_size;
    uint8_t reserved_60[80];
    int32_t word_140;
    uint8_t reserved_144[4];
    int32_t word_148;
    uint8_t reserved_152[20];
};

enum { RECORD_CONTROL_RUN = 1, RECORD_CONTROL_STOP = 0xFFFF };
// The record settings that a recording of one line's speech data takes.
enum { RECORD_SETTING_A = 2, RECORD_SETTING_B = 3 };

struct ReceivePacketArgs {
    uint8_t reserved_0[32];
    int32_t receive_setting;
    uint8_t reserved_36[144];
};

// ReceivePacketArgs.receive_setting; ZolRcvProcessPkt answers RECEIVE_MORE
// while packets are still pending.
enum { RECEIVE_SETTING = 500, RECEIVE_MORE = 1 };

// The library writes the NUL-terminated failure text from byte 31 on.
struct ErrorTextBuffer {
    uint8_t reserved_0[31];
    char message_text[129];
};

#pragma pack(pop)

#define BOARD_API_FIELD(record, field, offset) \
    static_assert(offsetof(record, field) == (offset), #record "." #field " is at the wrong offset")

BOARD_API_FIELD(LineAddress, unit, 1);
static_assert(sizeof(LineAddress) == 4, "LineAddress size");

BOARD_API_FIELD(CallCtrlInitArgs, error_detail_a, 294);
BOARD_API_FIELD(CallCtrlInitArgs, error_detail_b, 298);
BOARD_API_FIELD(CallCtrlInitArgs, config_path, 1693);
BOARD_API_FIELD(CallCtrlInitArgs, init_setting, 1705);
BOARD_API_FIELD(CallCtrlInitArgs, ecc_log_path, 1709);
static_assert(sizeof(CallCtrlInitArgs) == 1838, "CallCtrlInitArgs size");

BOARD_API_FIELD(ModuleInfoArgs, status, 0);
BOARD_API_FIELD(ModuleInfoArgs, module_number, 8);
BOARD_API_FIELD(ModuleInfoArgs, presence_a, 12);
BOARD_API_FIELD(ModuleInfoArgs, channel_count, 16);
BOARD_API_FIELD(ModuleInfoArgs, presence_b, 20);
BOARD_API_FIELD(ModuleInfoArgs, board_name, 146);
static_assert(sizeof(ModuleInfoArgs) == 376, "ModuleInfoArgs size");

BOARD_API_FIELD(LineSessionArgs, channel_number, 8);
BOARD_API_FIELD(LineSessionArgs, attach_setting_a, 13);
BOARD_API_FIELD(LineSessionArgs, module_number, 14);
BOARD_API_FIELD(LineSessionArgs, app_address, 16);
BOARD_API_FIELD(LineSessionArgs, attach_setting_b, 20);
BOARD_API_FIELD(LineSessionArgs, reset_text, 44);
BOARD_API_FIELD(LineSessionArgs, reset_status, 52);
BOARD_API_FIELD(LineSessionArgs, reset_setting_a, 165);
BOARD_API_FIELD(LineSessionArgs, reset_setting_b, 173);
static_assert(sizeof(LineSessionArgs) == 185, "LineSessionArgs size");

BOARD_API_FIELD(FeatureQueryArgs, status, 0);
BOARD_API_FIELD(FeatureQueryArgs, feature_name, 20);
BOARD_API_FIELD(FeatureQueryArgs, feature_value, 33);
static_assert(sizeof(FeatureQueryArgs) == 169, "FeatureQueryArgs size");

BOARD_API_FIELD(FirmwareDownloadArgs, status, 0);
BOARD_API_FIELD(FirmwareDownloadArgs, line_status, 4);
BOARD_API_FIELD(FirmwareDownloadArgs, image_path, 16);
BOARD_API_FIELD(FirmwareDownloadArgs, download_setting_a, 20);
BOARD_API_FIELD(FirmwareDownloadArgs, image_kind, 24);
BOARD_API_FIELD(FirmwareDownloadArgs, download_setting_b, 28);
BOARD_API_FIELD(FirmwareDownloadArgs, firmware_option, 32);
static_assert(sizeof(FirmwareDownloadArgs) == 40, "FirmwareDownloadArgs size");

BOARD_API_FIELD(SwitchConnectionArgs, source_type, 16);
BOARD_API_FIELD(SwitchConnectionArgs, source_channel, 20);
BOARD_API_FIELD(SwitchConnectionArgs, source_aux, 24);
BOARD_API_FIELD(SwitchConnectionArgs, source_slot, 28);
BOARD_API_FIELD(SwitchConnectionArgs, destination_type, 36);
BOARD_API_FIELD(SwitchConnectionArgs, destination_channel, 40);
BOARD_API_FIELD(SwitchConnectionArgs, destination_aux, 44);
BOARD_API_FIELD(SwitchConnectionArgs, destination_slot, 48);
BOARD_API_FIELD(SwitchConnectionArgs, connect_flag, 52);
static_assert(sizeof(SwitchConnectionArgs) == 596, "SwitchConnectionArgs size");

BOARD_API_FIELD(SpeechRecordArgs, status, 0);
BOARD_API_FIELD(SpeechRecordArgs, record_setting_a, 12);
BOARD_API_FIELD(SpeechRecordArgs, record_control, 16);
BOARD_API_FIELD(SpeechRecordArgs, record_setting_b, 20);
BOARD_API_FIELD(SpeechRecordArgs, word_24, 24);
BOARD_API_FIELD(SpeechRecordArgs, word_28, 28);
BOARD_API_FIELD(SpeechRecordArgs, word_44, 44);
BOARD_API_FIELD(SpeechRecordArgs, word_48, 48);
BOARD_API_FIELD(SpeechRecordArgs, data_buffer, 52);
BOARD_API_FIELD(SpeechRecordArgs, buffer_size, 56);
BOARD_API_FIELD(SpeechRecordArgs, word_140, 140);
BOARD_API_FIELD(SpeechRecordArgs, word_148, 148);
static_assert(sizeof(SpeechRecordArgs) == 172, "SpeechRecordArgs size");

BOARD_API_FIELD(ReceivePacketArgs, receive_setting, 32);
static_assert(sizeof(ReceivePacketArgs) == 180, "ReceivePacketArgs size");

BOARD_API_FIELD(ErrorTextBuffer, message_text, 31);
static_assert(sizeof(ErrorTextBuffer) == 160, "ErrorTextBuffer size");

#undef BOARD_API_FIELD

typedef void *ZolHandle; // opaque; NULL = no handle

extern "C" {
int zol_driver_reinit(void);
int ZolDebugModeSet(int mode);
int ZolDebugModeSetISDN(int mode);
int ZolCallCtrlInit(CallCtrlInitArgs *args);
int ZolCallCtrlClose(void);
ZolHandle ZolSessionAttach(LineSessionArgs *args);
ZolHandle ZolLineAttach(LineSessionArgs *args);
int ZolLineReset(ZolHandle line, LineSessionArgs *args);
int ZolSessionDetach(ZolHandle handle, LineSessionArgs *args);
int ZolModuleInfo(ZolHandle module_or_null, ModuleInfoArgs *args);
int ZolFeatureSetQuery(ZolHandle module, FeatureQueryArgs *args);
int ZolFirmwareDownload(ZolHandle module, FirmwareDownloadArgs *args);
uint32_t *ZolLineStateAccess(ZolHandle line);
int ZolLineUnitGet(ZolHandle line);
LineAddress *ZolLineSrcAddrAccess(ZolHandle line);
LineAddress ZolLineAppAddrGet(ZolHandle line);
LineAddress ZolLineDestAddrGet(ZolHandle line);
int ZolCallSWGetConns(ZolHandle line, SwitchConnectionArgs *args);
int ZolCallSWConnect(ZolHandle line, SwitchConnectionArgs *args);
int ZolSpeechRecordData(ZolHandle line, SpeechRecordArgs *args);
int ZolLineAlert(LineSessionArgs *args);
int ZolRcvProcessPkt(ZolHandle line, ReceivePacketArgs *args);
int ZolErrorMessage(ZolHandle handle_or_null, void *failed_args, ErrorTextBuffer *text);

extern int _zol_api_ver_compiled, _zol_api_ver_bld_comp, _zol_api_ver_auto_comp;
}

#endif
