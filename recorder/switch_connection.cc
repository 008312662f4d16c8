// placeholder until the switch connection is written
#include "recorder.h"
void connect_slot_to_channel(ZolHandle, int, int) {}
void disconnect_channel(ZolHandle) {}
