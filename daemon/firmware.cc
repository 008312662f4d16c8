// placeholder until the firmware scan is written
#include "firmware.h"
void run_firmware_scan(const char *) {}
