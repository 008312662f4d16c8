// Module attach and board family detection.
#ifndef BOARD_DETECT_H
#define BOARD_DETECT_H

#include <stddef.h>

#include "board_api.h"

// One row of the board-name table: a family code name and the board type it
// gives. The split families give board_type_v34 when the module's V34Enab
// value is non-zero and board_type otherwise.
struct BoardFamily {
    const char *code_name;
    int split_by_v34;
    int board_type;
    int board_type_v34;
};

ZolHandle attach_module(int module_number);
void detach_module(ZolHandle module);
int detect_board_type(ZolHandle module, int module_number, int *board_type, int *firmware_running);
int query_v34_feature(ZolHandle module, int *value);

// The first family of the table whose code name stands in the board name, or
// null. Reads at most field_size bytes, whether or not they hold a NUL.
const BoardFamily *find_board_family(const char *board_name, size_t field_size);
int family_board_type(const BoardFamily *family, int v34_value);

#endif
