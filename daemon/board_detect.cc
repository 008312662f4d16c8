// Module attach and board family detection: which module answers at a
// number, what family its board name says it is, and whether its firmware
// already runs.
#include <string.h>

#include "board_detect.h"

// The fixed words of the session attach and of the reset that follows it.
enum { ATTACH_SETTING_A = 1, ATTACH_SETTING_B = 1, RESET_SETTING_A = 1, RESET_SETTING_B = 1 };

// A module with more channels than this has its firmware running already.
enum { CHANNELS_WITHOUT_FIRMWARE = 1 };

// Searched in this order and the first match decides, so a name that holds
// two code names gets the type of the row that comes first here.
static const BoardFamily board_families[] = {
    {"TALVERIN", true, BOARD_TYPE_TALVERIN, BOARD_TYPE_TALVERIN_V34},
    {"MERODAN", false, BOARD_TYPE_MERODAN, BOARD_TYPE_MERODAN},
    {"ORVELLINE", false, BOARD_TYPE_ORVELLINE, BOARD_TYPE_ORVELLINE},
    {"CASTOV", false, BOARD_TYPE_CASTOV, BOARD_TYPE_CASTOV},
    {"PRELLO", false, BOARD_TYPE_PRELLO, BOARD_TYPE_PRELLO},
    {"DUNVAL", false, BOARD_TYPE_DUNVAL, BOARD_TYPE_DUNVAL},
    {"GOLVAR", true, BOARD_TYPE_GOLVAR, BOARD_TYPE_GOLVAR_V34},
    {"ZEBK", false, BOARD_TYPE_ZEBK, BOARD_TYPE_ZEBK},
    {"FENDO", false, BOARD_TYPE_GOLVAR, BOARD_TYPE_GOLVAR},
    {"VIRTUAL", false, BOARD_TYPE_VIRTUAL, BOARD_TYPE_VIRTUAL},
};

static const char v34_feature_name[] = "V34Enab";

ZolHandle attach_module(int module_number)
{
    LineSessionArgs args;
    memset(&args, 0, sizeof args);
    args.attach_setting_a = ATTACH_SETTING_A;
    args.module_number = static_cast<uint8_t>(module_number & 0xFF);
    args.attach_setting_b = ATTACH_SETTING_B;
    ZolHandle module = ZolSessionAttach(&args);
    if (module == nullptr)
        return nullptr;

    // A failed reset does not keep us from using the module, so its result
    // is not looked at.
    memset(&args, 0, sizeof args);
    args.reset_setting_a = RESET_SETTING_A;
    args.reset_setting_b = RESET_SETTING_B;
    ZolLineReset(module, &args);
    return module;
}

void detach_module(ZolHandle module)
{
    if (module == nullptr)
        return;
    LineSessionArgs args;
    memset(&args, 0, sizeof args);
    ZolSessionDetach(module, &args);
}

static int is_v34_entry(const FeatureQueryArgs *args)
{
    return args->status == 0 && memcmp(args->feature_name, v34_feature_name, sizeof v34_feature_name) == 0;
}

// The library keeps the position in the feature list; every call hands out
// the next entry, and a call that writes nothing leaves the name empty.
int query_v34_feature(ZolHandle module, int *value)
{
    FeatureQueryArgs args;
    for (;;) {
        memset(&args, 0, sizeof args);
        ZolFeatureSetQuery(module, &args);
        if (is_v34_entry(&args)) {
            *value = args.feature_value;
            return 1;
        }
        if (args.feature_name[0] == '\0')
            return 1;
    }
}

static int contains_code_name(const char *text, size_t length, const char *code_name)
{
    return memmem(text, length, code_name, strlen(code_name)) != nullptr;
}

const BoardFamily *find_board_family(const char *board_name, size_t field_size)
{
    size_t length = strnlen(board_name, field_size);
    for (size_t i = 0; i < sizeof board_families / sizeof board_families[0]; i++)
        if (contains_code_name(board_name, length, board_families[i].code_name))
            return &board_families[i];
    return nullptr;
}

static int family_board_type(const BoardFamily *family, int v34_value)
{
    if (family->split_by_v34 && v34_value != 0)
        return family->board_type_v34;
    return family->board_type;
}

int detect_board_type(ZolHandle module, int module_number, int *board_type, int *firmware_running)
{
    *board_type = BOARD_TYPE_UNKNOWN;

    ModuleInfoArgs info;
    memset(&info, 0, sizeof info);
    info.module_number = module_number;
    ZolModuleInfo(module, &info);
    if (info.presence_a == 0 || info.presence_b == 0)
        return NO_MODULE;

    *firmware_running = info.channel_count > CHANNELS_WITHOUT_FIRMWARE ? 1 : 0;

    const BoardFamily *family = find_board_family(info.board_name, sizeof info.board_name);
    if (family == nullptr)
        return FAMILY_UNKNOWN;

    int v34_value = 0;
    if (family->split_by_v34)
        query_v34_feature(module, &v34_value);
    *board_type = family_board_type(family, v34_value);
    return FAMILY_FOUND;
}
