// The virtual-board library keldvb.so, loaded at run time from the firmware
// directory. Each entry point takes one pointer to a VirtBoardArgs record.
#ifndef VIRT_BOARD_H
#define VIRT_BOARD_H

#include <stddef.h>
#include <stdint.h>

#pragma pack(push, 1)
struct VirtBoardArgs {
    int32_t module_number;
    int32_t start_setting;
    int32_t reserved_8;
    uint32_t result_code;
    char result_text[120];
};
#pragma pack(pop)

static_assert(offsetof(VirtBoardArgs, module_number) == 0, "VirtBoardArgs.module_number");
static_assert(offsetof(VirtBoardArgs, start_setting) == 4, "VirtBoardArgs.start_setting");
static_assert(offsetof(VirtBoardArgs, result_code) == 12, "VirtBoardArgs.result_code");
static_assert(offsetof(VirtBoardArgs, result_text) == 16, "VirtBoardArgs.result_text");
static_assert(sizeof(VirtBoardArgs) == 136, "VirtBoardArgs size");

// The start setting that every board is started with.
enum { VIRT_BOARD_START_SETTING = 1000 };

typedef int (*VirtBoardEntry)(VirtBoardArgs *args);

extern "C" {
int VirtBoardStart(VirtBoardArgs *args);
int VirtBoardStatus(VirtBoardArgs *args);
int VirtBoardStop(VirtBoardArgs *args);
}

#endif
