// The recorder's start-up on the board side: the module's channel report, and
// the attach and line reset of one recording channel.
#include <stdio.h>
#include <string.h>

#include "recorder.h"

// The host library writes the failure text from byte 31 on; every error
// message of the recorder prints it from there.
ErrorTextBuffer error_buffer;

// Set by every failure the run reports, wherever it is found; main turns it
// into the exit status.
int failure_reported = 0;

// The text is cut at the end of the buffer, so that a library that leaves it
// unterminated cannot make us print past it.
const char *board_error_text(ZolHandle handle_or_null, void *failed_record)
{
    ZolErrorMessage(handle_or_null, failed_record, &error_buffer);
    error_buffer.message_text[sizeof error_buffer.message_text - 1] = '\0';
    return error_buffer.message_text;
}

// The first channel number is the same on every module the recorder knows.
static const int first_channel_number = 2;

void report_module_channels(int module_number)
{
    ModuleInfoArgs info;
    memset(&info, 0, sizeof info);
    info.module_number = module_number;

    // The recorder holds no module handle: the library finds the module by the
    // number in the record.
    ZolModuleInfo(nullptr, &info);

    // Kept on purpose: no newline here. The report line below finishes this
    // output line, so a failed query still shows what the record came back
    // with.
    if (info.status != 0) {
        printf("ZolModuleInfo:ERROR %s", board_error_text(nullptr, &info));
        failure_reported = 1;
    }

    if (info.channel_count != 0) {
        printf("Module %02d: %d CHANNELS (starting at %d)\n", module_number,
               static_cast<int>(info.channel_count), first_channel_number);
    } else {
        int answered_module = info.module_number;
        printf("Module %02d(%d): doesn't support any channel\n", module_number, answered_module);
    }
}

// The reset result that says the reset did not happen, apart from any
// positive one.
static const int reset_expensive_failure = -1;

// Resets an attached line with the operator's reset text. Only a reset that
// worked clears the line's state word; a failed one leaves the line in use as
// it is, so its recording can still show what the line carries.
static void reset_line(ZolHandle line, int channel_number, const char *reset_text)
{
    LineSessionArgs session;
    memset(&session, 0, sizeof session);
    session.reset_text = reset_text;

    // The library answers a reset with 0 or a negative code on success; only a
    // positive code and exactly -1 mean the reset did not happen.
    // Kept on purpose: both failure lines end without a newline, as the
    // recorder has always printed them; the next line of output continues them.
    int result = ZolLineReset(line, &session);
    int reset_status = session.reset_status;

    if (result > 0) {
        printf("$$$$$ Reset channel Error. Reset Status(%d)", reset_status);
        failure_reported = 1;
    } else if (result == reset_expensive_failure) {
        printf("$$$$$ This could be an expensive failure. Reset Status(%d)", reset_status);
        failure_reported = 1;
    } else {
        uint32_t *line_state = ZolLineStateAccess(line);
        if (line_state != nullptr)
            *line_state = LINE_STATE_RESET;
        printf("Channel [%02d] initialized\n", channel_number);
    }
}

ZolHandle open_channel(int channel_number, const char *reset_text)
{
    // The channel number alone names the channel; the module plays no part.
    LineSessionArgs session;
    memset(&session, 0, sizeof session);
    session.channel_number = channel_number;

    ZolHandle line = ZolLineAttach(&session);
    if (line == nullptr) {
        puts("Can't do session attach to channel");
        failure_reported = 1;
        return nullptr;
    }

    reset_line(line, channel_number, reset_text);
    return line;
}
