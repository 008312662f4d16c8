// The simulated state of the host library in one process: the handles given
// out, the switch lookup, the call-control starts and the last failure. It
// starts afresh whenever the board description is read again.
#ifndef HOST_SIM_HOST_STATE_H
#define HOST_SIM_HOST_STATE_H

#include <stdint.h>
#include <time.h>

#include <array>
#include <string>

#include "description.h"
#include "journal.h"

namespace host_sim {

struct SpeechState {
    int calls = 0;
    size_t next_count = 0, next_size = 0;
    int64_t delivered = 0;     // bytes handed out from `sizes`, against `total`
    uint64_t stream_pos = 0;   // bytes placed in buffers: position in the pattern
    bool stopping = false;
    int after_stop_left = 0;
    bool paced = false;
    timespec pace_start{};
    uint64_t paced_bytes = 0;
};

// What a handle points at. A module handle uses `next_feature`, a channel
// handle the rest.
struct Handle {
    bool channel = false;
    int number = 0;
    bool detached = false;
    size_t next_feature = 0;
    uint32_t state_word = 99;
    AddressBytes src_address{};
    SpeechState speech;
    int packets_returned = 0;
};

struct SwitchLookup {
    size_t next = 0;
    int calls = 0;
    bool have_last = false;
    std::array<uint8_t, switch_connection::size> last{};
};

struct HostState {
    SwitchLookup lookup;
    size_t call_ctrl_starts = 0;
    const void *failed_record = nullptr;
    std::string failure_text;
};

// To be called first by every entry point: rereads the description when its
// path changed (then the state starts afresh) and returns it.
const Description &begin_call();
HostState &host_state();

Handle *new_handle(bool channel, int number);
// The live handle behind a pointer, or null for null, unknown or stale ones.
Handle *find_handle(const void *pointer);
// Every handle that is attached now, for the lookup by address.
Handle *find_line_by_app_address(const AddressBytes &address);
const ModuleDesc *module_of(const Handle *handle);
const ChannelDesc *channel_of(const Handle *handle);

// A journal entry for a call on a handle: "handle" ("module:N", "channel:N",
// "bad" or null), "detached" for a detached one, and "line_state" on entry
// for a channel.
Entry handle_entry(const char *function, const void *handle);
nlohmann::ordered_json handle_name(const void *handle);

// Remembers the record and text of a failed call for ZolErrorMessage.
void record_failure(const void *record, const std::string &text);

AddressBytes address_bytes(const void *pointer);

} // namespace host_sim

#endif
