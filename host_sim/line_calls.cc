// keldlib_mt.so: attach, reset, addresses, state word, alert and packet
// drain of a channel's line.
#include <string.h>

#include "api.h"

using namespace host_sim;

namespace {

// Where a call on a bad handle points: somewhere harmless, never null, so a
// caller that goes on regardless does not crash inside the test.
uint32_t scratch_state_word;
uint8_t scratch_address[4];

LineAddress address_value(const AddressBytes &bytes)
{
    LineAddress address;
    static_assert(sizeof address == 4, "LineAddress is 4 bytes");
    memcpy(&address, bytes.data(), 4);
    return address;
}

nlohmann::ordered_json address_json(const AddressBytes &bytes)
{
    return {bytes[0], bytes[1], bytes[2], bytes[3]};
}

LineAddress address_call(const char *function, ZolHandle line, bool destination)
{
    begin_call();
    Entry entry = handle_entry(function, line);
    AddressBytes bytes{};
    if (const ChannelDesc *desc = channel_of(find_handle(line)))
        bytes = destination ? desc->dest_address : desc->app_address;
    entry["result"] = address_json(bytes);
    journal_write(entry);
    return address_value(bytes);
}

} // namespace

ZolHandle ZolLineAttach(LineSessionArgs *args)
{
    namespace l = line_session;
    const Description &description = begin_call();
    Entry entry = journal_entry("ZolLineAttach");
    if (!args) {
        no_record(entry);
        return nullptr;
    }
    int32_t number = get_i32(args, l::channel_number);
    entry["in"] = input_fields(args, l::line_attach_inputs);
    entry["zero"] = zero_except(args, l::size, l::line_attach_inputs);
    Handle *handle = nullptr;
    auto it = description.channels.find(number);
    if (it != description.channels.end() && it->second.attach)
        handle = new_handle(true, number);
    entry["result"] = handle_name(handle);
    journal_write(entry);
    return handle;
}

// Resets a channel's line, or a module's (the daemon resets each module
// right after its attach).
int ZolLineReset(ZolHandle line, LineSessionArgs *args)
{
    namespace l = line_session;
    begin_call();
    Entry entry = handle_entry("ZolLineReset", line);
    if (!args)
        return no_record(entry);
    entry["in"] = input_fields(args, l::reset_inputs);
    entry["zero"] = zero_except(args, l::size, l::reset_inputs);
    Handle *handle = find_handle(line);
    if (!handle)
        return finish(entry, -1);
    const ChannelDesc *desc = channel_of(handle);
    if (!desc) {
        set_i32(args, l::reset_status, 0);
        return finish(entry, 0);
    }
    set_i32(args, l::reset_status, desc->reset_status);
    return finish(entry, desc->reset_result);
}

uint32_t *ZolLineStateAccess(ZolHandle line)
{
    begin_call();
    Entry entry = handle_entry("ZolLineStateAccess", line);
    Handle *handle = find_handle(line);
    bool ok = handle && handle->channel;
    entry["result"] = ok ? "state_word" : "scratch";
    journal_write(entry);
    return ok ? &handle->state_word : &scratch_state_word;
}

int ZolLineUnitGet(ZolHandle line)
{
    begin_call();
    Entry entry = handle_entry("ZolLineUnitGet", line);
    const ChannelDesc *desc = channel_of(find_handle(line));
    return finish(entry, desc ? desc->unit : -1);
}

LineAddress *ZolLineSrcAddrAccess(ZolHandle line)
{
    begin_call();
    Entry entry = handle_entry("ZolLineSrcAddrAccess", line);
    Handle *handle = find_handle(line);
    bool ok = handle && handle->channel;
    uint8_t *bytes = ok ? handle->src_address.data() : scratch_address;
    entry["result"] = address_json(address_bytes(bytes));
    journal_write(entry);
    return reinterpret_cast<LineAddress *>(bytes);
}

LineAddress ZolLineAppAddrGet(ZolHandle line)
{
    return address_call("ZolLineAppAddrGet", line, false);
}

LineAddress ZolLineDestAddrGet(ZolHandle line)
{
    return address_call("ZolLineDestAddrGet", line, true);
}

int ZolLineAlert(LineSessionArgs *args)
{
    namespace l = line_session;
    begin_call();
    Entry entry = journal_entry("ZolLineAlert");
    if (!args)
        return no_record(entry);
    AddressBytes address = address_bytes(static_cast<uint8_t *>(static_cast<void *>(args)) +
                                         l::app_address.offset);
    entry["in"] = input_fields(args, l::alert_inputs);
    entry["zero"] = zero_except(args, l::size, l::alert_inputs);
    Handle *handle = find_line_by_app_address(address);
    entry["line"] = handle_name(handle);
    return finish(entry, handle ? 0 : -1);
}

int ZolRcvProcessPkt(ZolHandle line, ReceivePacketArgs *args)
{
    namespace r = receive_packet;
    begin_call();
    Entry entry = handle_entry("ZolRcvProcessPkt", line);
    if (!args)
        return no_record(entry);
    entry["in"] = input_fields(args, r::inputs);
    entry["zero"] = zero_except(args, r::size, r::inputs);
    Handle *handle = find_handle(line);
    const ChannelDesc *desc = channel_of(handle);
    if (!desc)
        return finish(entry, -1);
    if (handle->packets_returned >= desc->packets)
        return finish(entry, 0);
    ++handle->packets_returned;
    return finish(entry, 1);
}
