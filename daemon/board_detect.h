// Module attach and board family detection.
#ifndef BOARD_DETECT_H
#define BOARD_DETECT_H

#include "board_api.h"

ZolHandle attach_module(int module_number);
void detach_module(ZolHandle module);
int detect_board_type(ZolHandle module, int module_number, int *board_type, int *firmware_running);
int query_v34_feature(ZolHandle module, int *value);

#endif
