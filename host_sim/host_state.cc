#include "host_state.h"

#include <string.h>

#include <deque>
#include <map>

namespace host_sim {

namespace {

// Handles are never freed or reused: a stale pointer (detached, or from
// before a reload) stays a distinct address that is simply not found.
struct Store {
    std::deque<Handle> handles;
    std::map<const void *, Handle *> current; // handles of this description
    HostState state;
    unsigned generation = 0;
};

Store &store()
{
    static Store instance;
    return instance;
}

Handle *known_handle(const void *pointer)
{
    auto it = store().current.find(pointer);
    return it == store().current.end() ? nullptr : it->second;
}

} // namespace

const Description &begin_call()
{
    unsigned generation = 0;
    const Description &description = current_description(&generation);
    Store &s = store();
    if (generation != s.generation) {
        s.current.clear();
        s.state = HostState();
        s.generation = generation;
    }
    return description;
}

HostState &host_state()
{
    return store().state;
}

Handle *new_handle(bool channel, int number)
{
    Store &s = store();
    Handle &handle = s.handles.emplace_back();
    handle.channel = channel;
    handle.number = number;
    if (const ChannelDesc *desc = channel_of(&handle))
        handle.src_address = desc->src_address;
    s.current[&handle] = &handle;
    return &handle;
}

Handle *find_handle(const void *pointer)
{
    Handle *handle = known_handle(pointer);
    return handle && !handle->detached ? handle : nullptr;
}

Handle *find_line_by_app_address(const AddressBytes &address)
{
    for (auto &[pointer, handle] : store().current)
        if (handle->channel && !handle->detached) {
            const ChannelDesc *desc = channel_of(handle);
            if (desc && desc->app_address == address)
                return handle;
        }
    return nullptr;
}

const ModuleDesc *module_of(const Handle *handle)
{
    if (!handle || handle->channel)
        return nullptr;
    const auto &modules = current_description().modules;
    auto it = modules.find(handle->number);
    return it == modules.end() ? nullptr : &it->second;
}

const ChannelDesc *channel_of(const Handle *handle)
{
    if (!handle || !handle->channel)
        return nullptr;
    const auto &channels = current_description().channels;
    auto it = channels.find(handle->number);
    return it == channels.end() ? nullptr : &it->second;
}

nlohmann::ordered_json handle_name(const void *pointer)
{
    if (!pointer)
        return nullptr;
    const Handle *handle = known_handle(pointer);
    if (!handle)
        return "bad";
    return std::string(handle->channel ? "channel:" : "module:") + std::to_string(handle->number);
}

Entry handle_entry(const char *function, const void *pointer)
{
    Entry entry = journal_entry(function);
    entry["handle"] = handle_name(pointer);
    const Handle *handle = known_handle(pointer);
    if (handle && handle->detached)
        entry["detached"] = true;
    if (handle && handle->channel)
        entry["line_state"] = handle->state_word;
    return entry;
}

void record_failure(const void *record, const std::string &text)
{
    host_state().failed_record = record;
    host_state().failure_text = text;
}

AddressBytes address_bytes(const void *pointer)
{
    AddressBytes bytes;
    memcpy(bytes.data(), pointer, bytes.size());
    return bytes;
}

} // namespace host_sim
