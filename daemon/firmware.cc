// Firmware download: the PPC image and then the DSP image of each module's
// board type, for every module from 2 to 127 whose firmware is not running.
// The daemon only names the image files; the host library reads them.
#include <stdio.h>
#include <string.h>

#include "board_detect.h"
#include "daemon.h"
#include "firmware.h"

enum { FIRST_MODULE = 2, LAST_MODULE = 127 };
enum { IMAGE_PATH_SIZE = 256, DOWNLOAD_FAILED = -5 };

struct FirmwareImages {
    char ppc_image[20];
    char dsp_image[28];
};

enum { FIRMWARE_TABLE_ROWS = BOARD_TYPE_ZEBK + 1 };

// Indexed by board type; the families typed from BOARD_TYPE_VIRTUAL on have
// no images.
static const FirmwareImages firmware_table[FIRMWARE_TABLE_ROWS] = {
    {"cp.bin", "dsp4800_ld.hex"},  // BOARD_TYPE_MERODAN
    {"cp.bin", "dsp4800_ld.hex"},  // BOARD_TYPE_ORVELLINE
    {"cp.bin", "dsp4800.hex"},     // BOARD_TYPE_CASTOV
    {"cp.bin", "dsp4800.hex"},     // BOARD_TYPE_TALVERIN
    {"cp.bin", "dsp4800_v34.hex"}, // BOARD_TYPE_TALVERIN_V34
    {"cp.bin", "dsp4800_ud.hex"},  // BOARD_TYPE_GOLVAR_V34
    {"cp.bin", "dsp4862_ud.hex"},  // BOARD_TYPE_GOLVAR
    {"cp.bin", "dsp4800_ld.hex"},  // BOARD_TYPE_ZEBK
};

static int image_path_fits(const char *firmware_dir, const char *image, size_t image_field_size)
{
    return strlen(firmware_dir) + 1 + strnlen(image, image_field_size) < IMAGE_PATH_SIZE;
}

// Both paths are checked before the first request, so that a directory too
// long for either image leaves the module untouched rather than half loaded.
static const char *image_too_long(const char *firmware_dir, const FirmwareImages *images)
{
    if (!image_path_fits(firmware_dir, images->ppc_image, sizeof images->ppc_image))
        return images->ppc_image;
    if (!image_path_fits(firmware_dir, images->dsp_image, sizeof images->dsp_image))
        return images->dsp_image;
    return nullptr;
}

static void write_image_path(char *path, const char *firmware_dir, const char *image)
{
    snprintf(path, IMAGE_PATH_SIZE, "%s/%s", firmware_dir, image);
}

// The record is refilled from zero for each request; only the PPC request
// carries the -n value.
static void download_image(ZolHandle module, FirmwareDownloadArgs *args, const char *path, int image_kind,
                           int option)
{
    memset(args, 0, sizeof *args);
    args->image_path = path;
    args->download_setting_a = DOWNLOAD_SETTING_A;
    args->image_kind = image_kind;
    args->download_setting_b = DOWNLOAD_SETTING_B;
    args->firmware_option = option;
    ZolFirmwareDownload(module, args);
}

int download_module_firmware(ZolHandle module, const char *firmware_dir, int board_type, int firmware_option)
{
    if (board_type < 0 || board_type >= FIRMWARE_TABLE_ROWS) {
        log_message("Unknown board type %d", board_type);
        return DOWNLOAD_FAILED;
    }
    const FirmwareImages *images = &firmware_table[board_type];
    const char *long_image = image_too_long(firmware_dir, images);
    if (long_image != nullptr) {
        log_message("Firmware path too long for image %s", long_image);
        return DOWNLOAD_FAILED;
    }

    char path[IMAGE_PATH_SIZE];
    FirmwareDownloadArgs args;

    write_image_path(path, firmware_dir, images->ppc_image);
    log_message("Loading PPC firmware [%d] from %s", board_type, path);
    download_image(module, &args, path, IMAGE_KIND_PPC, firmware_option);
    if (args.status != 0) {
        log_message("Unable to load PPC firmware (status:%d, line_status:%d)", args.status, args.line_status);
        return DOWNLOAD_FAILED;
    }

    write_image_path(path, firmware_dir, images->dsp_image);
    log_message("Loading DSP firmware [%d] from %s", board_type, path);
    download_image(module, &args, path, IMAGE_KIND_DSP, 0);
    if (args.status != 0) {
        log_message("Unable to load DSP firmware (status:%d, line_status:%d)", args.status, args.line_status);
        return DOWNLOAD_FAILED;
    }
    return 0;
}

int prepare_module(const char *firmware_dir, int module_number, int firmware_option)
{
    ZolHandle module = attach_module(module_number);
    if (module == nullptr)
        return MODULE_ABSENT;

    int board_type = BOARD_TYPE_UNKNOWN;
    int firmware_running = 0;
    // Any negative result counts as NO_MODULE: nothing answers there, and
    // nothing is said. FAMILY_UNKNOWN shows in the board type.
    if (detect_board_type(module, module_number, &board_type, &firmware_running) < FAMILY_FOUND) {
        detach_module(module);
        return MODULE_PREPARED;
    }
    if (board_type == BOARD_TYPE_UNKNOWN) {
        log_message("unknown mod_type: %d", board_type);
        detach_module(module);
        return MODULE_PREPARED;
    }

    // Kept on purpose: this one line names the module in lower-case hex, as
    // the daemon has always logged it; log readers match it as it stands.
    log_message("Module 0x%x [%d,%d]", module_number, board_type, firmware_running);
    if (firmware_running) {
        detach_module(module);
        return MODULE_FIRMWARE_RUNNING;
    }

    log_message("Loading firmware for module 0x%X", module_number);
    if (download_module_firmware(module, firmware_dir, board_type, firmware_option) < 0)
        log_message("Unable to load firmware on module 0x%X", module_number);
    detach_module(module);
    return MODULE_PREPARED;
}

void run_firmware_scan(const char *firmware_dir, int firmware_option)
{
    zol_driver_reinit();
    for (int module_number = FIRST_MODULE; module_number <= LAST_MODULE; module_number++)
        prepare_module(firmware_dir, module_number, firmware_option);
}
