// placeholder until the recording loop is written
#include "recorder.h"
volatile sig_atomic_t keep_recording = 1;
void handle_stop_signal(int) { keep_recording = 0; }
void record_channels(ZolHandle, ZolHandle, const char *) {}
