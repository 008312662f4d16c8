// Firmware download to the board modules 2 to 127.
#ifndef FIRMWARE_H
#define FIRMWARE_H

#include "board_api.h"

// What prepare_module reports for one module number.
enum { MODULE_PREPARED = 1, MODULE_FIRMWARE_RUNNING = 0, MODULE_ABSENT = 2 };

// firmware_option is the -n value, passed with each PPC image download.
void run_firmware_scan(const char *firmware_dir, int firmware_option);
int prepare_module(const char *firmware_dir, int module_number, int firmware_option);
int download_module_firmware(ZolHandle module, const char *firmware_dir, int board_type, int firmware_option);

#endif
