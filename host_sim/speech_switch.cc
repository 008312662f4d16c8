// keldlib_mt.so: the switch (connection lookup, connect and break) and the
// speech data of a line.
#include <errno.h>
#include <string.h>
#include <time.h>

#include "api.h"

using namespace host_sim;

namespace {

constexpr int32_t record_control_stop = 0xFFFF;
constexpr uint64_t bytes_per_second = 8000;
constexpr long max_pace_sleep_ns = 1000000000L; // a paced call never waits longer

// The count that the next data call on this line returns, or nullopt when
// this call is the one that fails.
std::optional<int32_t> next_count(SpeechState &speech, const SpeechDesc &desc, int32_t control)
{
    ++speech.calls;
    if (desc.fail_at > 0 && speech.calls == desc.fail_at)
        return std::nullopt;
    if (control == record_control_stop && !speech.stopping) {
        speech.stopping = true;
        speech.after_stop_left = desc.after_stop;
    }
    if (speech.stopping) {
        if (speech.after_stop_left <= 0)
            return 0;
        --speech.after_stop_left;
    }
    if (speech.next_count < desc.counts.size())
        return desc.counts[speech.next_count++];
    int64_t size = desc.sizes[speech.next_size++ % desc.sizes.size()];
    if (desc.total)
        size = std::min<int64_t>(size, std::max<int64_t>(*desc.total - speech.delivered, 0));
    speech.delivered += size;
    return static_cast<int32_t>(size);
}

void fill_pattern(SpeechState &speech, const SpeechDesc &desc, void *buffer, int32_t count,
                  int32_t buffer_size)
{
    if (!buffer || count <= 0 || buffer_size <= 0)
        return;
    int32_t length = std::min(count, buffer_size);
    uint8_t *bytes = static_cast<uint8_t *>(buffer);
    // Byte n of the stream is (seed + n) % 251; one division per buffer keeps
    // the stand-in from dominating the recorder's own cost.
    uint32_t value = static_cast<uint32_t>((desc.seed + speech.stream_pos) % 251);
    for (int32_t i = 0; i < length; ++i) {
        bytes[i] = static_cast<uint8_t>(value);
        if (++value == 251)
            value = 0;
    }
    speech.stream_pos += length;
}

// Sleeps until the line has had time to deliver its bytes at 8000 a second.
// A signal ends the sleep early, so that a stop request is seen at once.
void pace(SpeechState &speech, int32_t count)
{
    if (!speech.paced) {
        clock_gettime(CLOCK_MONOTONIC, &speech.pace_start);
        speech.paced = true;
    }
    if (count > 0)
        speech.paced_bytes += count;
    uint64_t due_ns = speech.paced_bytes * 1000000000ULL / bytes_per_second;
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    int64_t elapsed_ns = (now.tv_sec - speech.pace_start.tv_sec) * 1000000000LL +
                         (now.tv_nsec - speech.pace_start.tv_nsec);
    int64_t wait_ns = static_cast<int64_t>(due_ns) - elapsed_ns;
    // More than a second ahead (a huge count) or behind (a caller that kept
    // the line waiting): wait at most a second and start the pace again, so
    // no call blocks for long and no burst follows a pause.
    if (wait_ns > max_pace_sleep_ns || wait_ns < -max_pace_sleep_ns) {
        wait_ns = std::min<int64_t>(wait_ns, max_pace_sleep_ns);
        speech.paced = false;
        speech.paced_bytes = 0;
    }
    if (wait_ns <= 0)
        return;
    timespec pause = {static_cast<time_t>(wait_ns / 1000000000LL),
                      static_cast<long>(wait_ns % 1000000000LL)};
    nanosleep(&pause, nullptr);
}

} // namespace

int ZolCallSWGetConns(ZolHandle line, SwitchConnectionArgs *args)
{
    namespace s = switch_connection;
    const Description &description = begin_call();
    Entry entry = handle_entry("ZolCallSWGetConns", line);
    if (!args)
        return no_record(entry);
    SwitchLookup &lookup = host_state().lookup;
    bool zero = zero_except(args, s::size, {});
    entry["zero"] = zero;
    entry["unchanged"] = lookup.have_last && memcmp(args, lookup.last.data(), s::size) == 0;
    if (!channel_of(find_handle(line)))
        return finish(entry, -1);
    if (zero) { // a new lookup starts from the top
        lookup.next = 0;
        lookup.calls = 0;
    }
    const SwitchDesc &board = description.switch_board;
    int result = 0;
    if (++lookup.calls == board.error_at) {
        result = -1;
        record_failure(args, board.error_text);
    } else if (lookup.next < board.connections.size()) {
        const ConnectionDesc &connection = board.connections[lookup.next++];
        for (size_t i = 0; i < s::endpoint_count; ++i)
            set_i32(args, s::endpoints[i], connection.words[i]);
        result = connection.result;
        entry["connection"] = lookup.next - 1;
    }
    memcpy(lookup.last.data(), args, s::size);
    lookup.have_last = true;
    return finish(entry, result);
}

int ZolCallSWConnect(ZolHandle line, SwitchConnectionArgs *args)
{
    namespace s = switch_connection;
    begin_call();
    Entry entry = handle_entry("ZolCallSWConnect", line);
    if (!args)
        return no_record(entry);
    int32_t flag = get_i32(args, s::connect_flag);
    entry["in"] = input_fields(args, s::connect_inputs);
    entry["zero"] = zero_except(args, s::size, s::connect_inputs);
    const ChannelDesc *desc = channel_of(find_handle(line));
    if (!desc)
        return finish(entry, -1);
    int result = flag == s::flag_connect ? desc->connect_result : flag == s::flag_break ? desc->break_result : -1;
    if (result < 0)
        record_failure(args, desc->error_text);
    return finish(entry, result);
}

int ZolSpeechRecordData(ZolHandle line, SpeechRecordArgs *args)
{
    namespace r = speech_record;
    begin_call();
    Entry entry = handle_entry("ZolSpeechRecordData", line);
    if (!args)
        return no_record(entry);
    void *buffer = get_ptr(args, r::data_buffer);
    int32_t buffer_size = get_i32(args, r::buffer_size);
    int32_t control = get_i32(args, r::record_control);
    // One call per buffer of a recording: without a journal, skip describing it.
    if (journal_enabled()) {
        entry["in"] = input_fields(args, r::inputs);
        // The status is the library's own output, left in the reused record.
        entry["zero"] = zero_except(args, r::size, r::inputs, {r::status});
    }
    Handle *handle = find_handle(line);
    const ChannelDesc *desc = channel_of(handle);
    if (!desc)
        return finish(entry, -1);
    std::optional<int32_t> count = next_count(handle->speech, desc->speech, control);
    if (!count) {
        set_i32(args, r::status, desc->speech.fail_status);
        record_failure(args, desc->error_text);
        return finish(entry, 0);
    }
    set_i32(args, r::status, 0);
    fill_pattern(handle->speech, desc->speech, buffer, *count, buffer_size);
    if (desc->speech.pace)
        pace(handle->speech, *count);
    return finish(entry, *count);
}
