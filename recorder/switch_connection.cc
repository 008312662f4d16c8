// Switch connection of the T1 time slot to the recording channels, and the break
// and detach at the end of the run. The inbound channel listens to the time slot
// itself; the outbound channel listens to whatever channel the switch currently
// feeds into that time slot.
#include <stdio.h>
#include <string.h>

#include "recorder.h"

static void print_line_addresses(ZolHandle line)
{
    printf("Connection to %d\n", ZolLineUnitGet(line));
    printf("Connection to %d\n", ZolLineSrcAddrAccess(line)->unit);
    printf("Connection to %d\n", ZolLineAppAddrGet(line).unit);
    printf("Connection to %d\n", ZolLineDestAddrGet(line).unit);
}

bool find_slot_connection(ZolHandle line, int time_slot, int *source_channel)
{
    // The library walks its list by what it left in this record, so it is
    // cleared once and handed back untouched on every further call.
    SwitchConnectionArgs connection;
    memset(&connection, 0, sizeof connection);

    int result;
    while ((result = ZolCallSWGetConns(line, &connection)) > 0) {
        if (connection.destination_type == ENDPOINT_T1_SLOT && connection.destination_slot == time_slot) {
            printf("Channel %d => %d\n", connection.source_channel, time_slot);
            *source_channel = connection.source_channel;
            return true;
        }
    }
    // Kept on purpose: the spelling, the leading blank and the missing
    // newline are the recorder's output as it has always been; the
    // not-found line below ends it.
    if (result < 0)
        printf(" %s: ERROR finding Connecitions to the target: %s", board_error_text(line, &connection),
               "ZolCallSWGetConns");
    printf("T1 Slot %d not found\n", time_slot);
    failure_reported = 1;
    return false;
}

void connect_slot_to_channel(ZolHandle line, int time_slot, int32_t direction)
{
    if (!line)
        return;
    print_line_addresses(line);
    bool outbound = direction != DIRECTION_INBOUND;

    SwitchConnectionArgs request;
    memset(&request, 0, sizeof request);
    request.connect_flag = SWITCH_CONNECT;
    if (outbound) {
        int source_channel;
        // Nothing feeds the time slot: a request with a made-up source would
        // connect the recording channel to some unrelated channel.
        if (!find_slot_connection(line, time_slot, &source_channel))
            return;
        request.source_type = ENDPOINT_CHANNEL;
        request.source_channel = source_channel;
    } else {
        request.source_type = ENDPOINT_T1_SLOT;
        request.source_slot = time_slot;
    }
    request.destination_type = ENDPOINT_CHANNEL;
    request.destination_channel = ZolLineDestAddrGet(line).unit;

    printf("Channel [%02d] Recording %s slot %d to channel %d\n", ZolLineUnitGet(line),
           outbound ? "OUTBOUND" : "INBOUND", request.source_slot, request.destination_channel);
    // Kept on purpose: the leading blank of the error line, here and at the
    // break below, is the recorder's output as it has always been.
    if (ZolCallSWConnect(line, &request) < 0) {
        printf(" %s: ERROR connecting to the target: %s\n", board_error_text(line, &request),
               "ZolCallSWConnect");
        failure_reported = 1;
    }
}

void disconnect_channel(ZolHandle line)
{
    if (!line)
        return;
    // Read before the detach: the handle means nothing afterwards.
    int unit = ZolLineUnitGet(line);

    // The zero-filled record, without endpoints, asks for a break (SWITCH_BREAK).
    SwitchConnectionArgs request;
    memset(&request, 0, sizeof request);
    // Kept on purpose: the leading blank, as at the connection.
    if (ZolCallSWConnect(line, &request) < 0) {
        printf(" %s: ERROR disconnecting the target: %s\n", board_error_text(line, &request),
               "ZolCallSWConnect");
        failure_reported = 1;
    }

    LineSessionArgs session;
    memset(&session, 0, sizeof session);
    ZolSessionDetach(line, &session);
    printf("Channel [%02d] Disconnected\n", unit);
}
