// Module attach and board family detection.
#ifndef BOARD_DETECT_H
#define BOARD_DETECT_H

#include <stddef.h>

#include "board_api.h"

// What a module's board name makes of it. The types up to BOARD_TYPE_ZEBK are
// the rows of the firmware table (firmware.cc), which gives their images; the
// families typed from BOARD_TYPE_VIRTUAL on have no images.
enum {
    BOARD_TYPE_UNKNOWN = -1,
    BOARD_TYPE_MERODAN = 0,
    BOARD_TYPE_ORVELLINE = 1,
    BOARD_TYPE_CASTOV = 2,
    BOARD_TYPE_TALVERIN = 3,
    BOARD_TYPE_TALVERIN_V34 = 4,
    BOARD_TYPE_GOLVAR_V34 = 5,
    BOARD_TYPE_GOLVAR = 6, // FENDO as well
    BOARD_TYPE_ZEBK = 7,
    BOARD_TYPE_VIRTUAL = 20,
    BOARD_TYPE_PRELLO = 21,
    BOARD_TYPE_DUNVAL = 22,
};

// One row of the board-name table: a family code name and the board type it
// gives. The split families give board_type_v34 when the module's V34Enab
// value is non-zero and board_type otherwise.
struct BoardFamily {
    const char *code_name;
    bool split_by_v34;
    int board_type;
    int board_type_v34;
};

ZolHandle attach_module(int module_number);
void detach_module(ZolHandle module);

// What detect_board_type makes of a module. NO_MODULE: a presence word is 0,
// and the firmware-running flag is left alone. FAMILY_UNKNOWN: the board name
// holds no code name, so the board type is BOARD_TYPE_UNKNOWN. A caller treats
// every negative result as NO_MODULE.
enum { NO_MODULE = -19, FAMILY_FOUND = 0, FAMILY_UNKNOWN = 1 };
int detect_board_type(ZolHandle module, int module_number, int *board_type, int *firmware_running);

// Sets value to the module's V34Enab value; leaves it alone when the module
// does not report the feature. Returns 1 either way: the outcome is in value.
int query_v34_feature(ZolHandle module, int *value);

// The first family of the table whose code name stands in the board name, or
// null. Reads at most field_size bytes, whether or not they hold a NUL.
const BoardFamily *find_board_family(const char *board_name, size_t field_size);

#endif
