// State and operations that the parts of the recorder share.
#ifndef RECORDER_H
#define RECORDER_H

#include <signal.h>
#include <stdint.h>
#include <sys/time.h>

#include "board_api.h"

extern ErrorTextBuffer error_buffer;
// The library's text for the failed call on this record, held in error_buffer.
const char *board_error_text(ZolHandle handle_or_null, void *failed_record);
extern volatile sig_atomic_t keep_recording;
extern int failure_reported;                 // set by every failure the run reports; gives exit status 1

void report_module_channels(int module_number);
ZolHandle open_channel(int channel_number, const char *reset_text);

// The library's line state word, to which ZolLineStateAccess points.
enum { LINE_STATE_RESET = 0, LINE_STATE_RECORDING = 2 };

// The direction flag of connect_slot_to_channel: 0 is inbound, any other
// value outbound.
const int32_t DIRECTION_INBOUND = 0;
const int32_t DIRECTION_OUTBOUND = 1;

void connect_slot_to_channel(ZolHandle line, int time_slot, int32_t direction);
// False when nothing feeds the time slot; otherwise its source channel, which
// may be any number, is in *source_channel.
bool find_slot_connection(ZolHandle line, int time_slot, int *source_channel);
void disconnect_channel(ZolHandle line);

// Writes all of data, going on after a short write; false with errno set
// when the file takes no more.
bool write_whole_buffer(int file, const char *data, size_t size);

// The one buffer of a recording: each data call fills at most this much,
// and the file names are formatted in it first, so a name must fit it too.
enum { RECORDING_BUFFER_SIZE = 1024 };

void record_channels(ZolHandle inbound, ZolHandle outbound, const char *base_name);
int elapsed_usec(const struct timeval *start, const struct timeval *end);
void handle_stop_signal(int signal_number);

// From the start: SIGXFSZ ignored, SIGPIPE and SIGHUP (unless ignored when
// we were started) stop requests.
void catch_signals_at_start(void);
// SIGTERM and SIGINT, once the set-up is done.
void catch_stop_signals(void);

#endif
