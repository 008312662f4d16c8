// The recording loop: the speech data of the inbound and the outbound line go
// to NAME.in and NAME.out until both lines stop delivering, then every line is
// alerted and its pending packets drained. A stop signal does not end the loop:
// it only asks the library, through the record, to wind the recording down.
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "recorder.h"

volatile sig_atomic_t keep_recording = 1;

// Kept on purpose: the drain's record lives in static storage, not on the
// stack, as the recorder has always handed it over: a library that holds on
// to its address after a call still finds the record there.
static ReceivePacketArgs receive_packet;

// One direction of the recording. A direction without a line takes no part at
// all: no file, no call, no output.
struct RecordingDirection {
    ZolHandle line;
    bool inbound;
    int file;
    int last_count;            // result of the last data call; 1 before the first
};

int elapsed_usec(const struct timeval *start, const struct timeval *end)
{
    // Unsigned arithmetic wraps modulo 2^32 where the signed one would
    // overflow; read back as signed, a clock set back shows as negative.
    // Cutting the 64-bit seconds to 32 bits first changes nothing modulo 2^32.
    uint32_t seconds = static_cast<uint32_t>(end->tv_sec) - static_cast<uint32_t>(start->tv_sec);
    uint32_t microseconds = static_cast<uint32_t>(end->tv_usec) - static_cast<uint32_t>(start->tv_usec);
    return static_cast<int32_t>(seconds * 1000000u + microseconds);
}

void handle_stop_signal(int)
{
    keep_recording = 0;
}

static bool direction_active(const RecordingDirection *direction)
{
    return direction->line && direction->last_count > 0;
}

static const char *recording_ending(const RecordingDirection *direction)
{
    return direction->inbound ? ".in" : ".out";
}

// The name is formatted into the recording buffer, which is free until the
// first data call.
static const char *recording_name(const RecordingDirection *direction, const char *base_name, char *buffer)
{
    snprintf(buffer, RECORDING_BUFFER_SIZE, "%s%s", base_name, recording_ending(direction));
    return buffer;
}

// A file we cannot open is reported: recording into it would lose the line's
// data without a word. It is not emptied here: if the other file cannot be
// opened, nothing is recorded, and this one keeps what it held.
static bool open_recording_file(RecordingDirection *direction, const char *base_name, char *buffer)
{
    direction->file = -1;
    if (!direction->line)
        return true;
    const char *name = recording_name(direction, base_name, buffer);
    direction->file = open(name, O_WRONLY | O_CREAT, 0644);
    if (direction->file >= 0)
        return true;
    printf("Can't open recording file %s: %s\n", name, strerror(errno));
    failure_reported = 1;
    return false;
}

// Once every file is open. Only a regular file has a length to cut: a FIFO or
// a device such as /dev/null is written as it is.
static bool empty_recording_file(const RecordingDirection *direction, const char *base_name, char *buffer)
{
    struct stat file_status;
    if (direction->file < 0 || fstat(direction->file, &file_status) != 0 || !S_ISREG(file_status.st_mode))
        return true;
    if (ftruncate(direction->file, 0) == 0)
        return true;
    printf("Can't empty recording file %s: %s\n", recording_name(direction, base_name, buffer), strerror(errno));
    failure_reported = 1;
    return false;
}

static void close_recording_file(RecordingDirection *direction)
{
    if (direction->file >= 0)
        close(direction->file);
    direction->file = -1;
}

static void fill_record(SpeechRecordArgs *record, char *buffer)
{
    // The words at bytes 24, 28, 44, 48, 140 and 148 are inputs too; they stay 0.
    memset(record, 0, sizeof *record);
    record->record_setting_a = RECORD_SETTING_A;
    record->record_control = RECORD_CONTROL_RUN;
    record->record_setting_b = RECORD_SETTING_B;
    record->data_buffer = buffer;
    record->buffer_size = RECORDING_BUFFER_SIZE;
}

static void mark_line_recording(ZolHandle line)
{
    if (!line)
        return;
    uint32_t *state = ZolLineStateAccess(line);
    if (state)
        *state = LINE_STATE_RECORDING;
}

bool write_whole_buffer(int file, const char *data, size_t size)
{
    while (size > 0) {
        ssize_t written = write(file, data, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            if (written == 0) // no progress and no error: would loop for ever
                errno = EIO;
            return false;
        }
        data += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

// One data call of one direction and the write of what it delivered. False
// when the loop must end: a failed call or a failed write.
static bool record_one_buffer(RecordingDirection *direction, SpeechRecordArgs *record, const char *buffer,
                              const char *base_name)
{
    struct timeval start, end;
    gettimeofday(&start, nullptr);
    direction->last_count = ZolSpeechRecordData(direction->line, record);
    gettimeofday(&end, nullptr);

    if (record->status != 0) {
        int status = record->status;
        printf("Recording error...(%d)(%s)\n", status, board_error_text(direction->line, record));
        failure_reported = 1;
        return false;
    }

    // A count beyond the buffer cannot have been placed in it; a negative one
    // ends the direction like 0 and has nothing to write.
    int count = direction->last_count;
    size_t size = 0;
    if (count > RECORDING_BUFFER_SIZE)
        size = RECORDING_BUFFER_SIZE;
    else if (count > 0)
        size = static_cast<size_t>(count);
    if (!write_whole_buffer(direction->file, buffer, size)) {
        printf("Can't write recording file %s%s: %s\n", base_name, recording_ending(direction), strerror(errno));
        failure_reported = 1;
        return false;
    }

    long elapsed = elapsed_usec(&start, &end);
    if (direction->inbound)
        printf("Read in: %d: %ld\n", count, elapsed);
    else
        printf("Read out: %d: %ld\n", count, elapsed);
    return true;
}

// The first pass always runs, even with no line at all. Once a stop was asked
// for, every pass says so and carries the stop in the record, until each line
// has answered with 0.
static void run_recording_passes(RecordingDirection *directions, SpeechRecordArgs *record, const char *buffer,
                                 const char *base_name)
{
    do {
        if (!keep_recording) {
            puts("STOP RECORDING");
            record->record_control = RECORD_CONTROL_STOP;
        }
        for (int i = 0; i < 2; i++) {
            if (direction_active(&directions[i]) && !record_one_buffer(&directions[i], record, buffer, base_name))
                return;
        }
    } while (direction_active(&directions[0]) || direction_active(&directions[1]));
}

static void drain_line(ZolHandle line)
{
    if (!line)
        return;
    LineSessionArgs alert;
    memset(&alert, 0, sizeof alert);
    alert.app_address = ZolLineAppAddrGet(line);
    ZolLineAlert(&alert);
    do {
        memset(&receive_packet, 0, sizeof receive_packet);
        receive_packet.receive_setting = RECEIVE_SETTING;
    } while (ZolRcvProcessPkt(line, &receive_packet) == RECEIVE_MORE);
}

void record_channels(ZolHandle inbound, ZolHandle outbound, const char *base_name)
{
    // The one buffer of the whole recording: it holds the file names first,
    // then every buffer of both lines. Nothing is allocated once the loop runs.
    char buffer[RECORDING_BUFFER_SIZE];
    RecordingDirection directions[2] = {{inbound, true, -1, 1}, {outbound, false, -1, 1}};

    bool inbound_open = open_recording_file(&directions[0], base_name, buffer);
    bool outbound_open = open_recording_file(&directions[1], base_name, buffer);
    if (inbound_open && outbound_open && empty_recording_file(&directions[0], base_name, buffer) &&
        empty_recording_file(&directions[1], base_name, buffer)) {
        SpeechRecordArgs record;
        fill_record(&record, buffer);
        mark_line_recording(inbound);
        mark_line_recording(outbound);
        // Kept on purpose: the doubled blanks and the marks are the prompt
        // as operators and their scripts know it.
        puts("PRESS  ^C  TO STOP RECORDING!!!");
        run_recording_passes(directions, &record, buffer, base_name);
    }
    close_recording_file(&directions[0]);
    close_recording_file(&directions[1]);

    drain_line(inbound);
    drain_line(outbound);
}
