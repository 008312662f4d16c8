// Firmware download to the board modules 2 to 127.
#ifndef FIRMWARE_H
#define FIRMWARE_H

#include "board_api.h"

extern int firmware_option; // -n, passed with each PPC image download

// What prepare_module reports for one module number.
enum { MODULE_PREPARED = 1, MODULE_FIRMWARE_RUNNING = 0, MODULE_ABSENT = 2 };

void run_firmware_scan(const char *firmware_dir);
int prepare_module(const char *firmware_dir, int module_number);
int download_module_firmware(ZolHandle module, const char *firmware_dir, int board_type);

#endif
