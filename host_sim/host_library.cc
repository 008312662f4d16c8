// keldlib_mt.so: the driver, debug and call-control calls, the module calls
// and the error text. The line calls are in line_calls.cc and speech_switch.cc.
#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include "api.h"

using namespace host_sim;

// Zero until a program writes them: the recorder stores its build's values.
int _zol_api_ver_compiled = 0;
int _zol_api_ver_bld_comp = 0;
int _zol_api_ver_auto_comp = 0;

namespace {

int plain_call(const char *function, nlohmann::ordered_json in = nullptr)
{
    begin_call();
    Entry entry = journal_entry(function);
    if (!in.is_null())
        entry["in"] = in;
    return finish(entry, 0);
}

bool readable(const void *path)
{
    if (!path)
        return false;
    int fd = open(static_cast<const char *>(path), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    close(fd);
    return true;
}

// Reads the whole image file; 0, or the errno that stopped it.
int read_image(const void *path)
{
    if (!path)
        return EFAULT;
    int fd = open(static_cast<const char *>(path), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return errno;
    char chunk[4096];
    ssize_t got;
    while ((got = read(fd, chunk, sizeof chunk)) > 0) {
    }
    int error = got < 0 ? errno : 0;
    close(fd);
    return error;
}

void write_module_info(void *args, const ModuleDesc &module, int32_t asked)
{
    namespace m = module_info;
    set_i32(args, m::status, module.info_status);
    set_i32(args, m::module_number, module.info_module_number.value_or(asked));
    set_u32(args, m::presence_a, module.presence_a);
    set_u32(args, m::channel_count, module.channel_count);
    set_u32(args, m::presence_b, module.presence_b);
    set_text(args, m::board_name, module.board_name);
}

} // namespace

int zol_driver_reinit(void)
{
    return plain_call("zol_driver_reinit");
}

int ZolDebugModeSet(int mode)
{
    return plain_call("ZolDebugModeSet", {{"mode", mode}});
}

int ZolDebugModeSetISDN(int mode)
{
    return plain_call("ZolDebugModeSetISDN", {{"mode", mode}});
}

int ZolCallCtrlInit(CallCtrlInitArgs *args)
{
    namespace c = call_ctrl_init;
    const Description &description = begin_call();
    Entry entry = journal_entry("ZolCallCtrlInit");
    if (!args)
        return no_record(entry);
    const void *config = get_ptr(args, c::config_path);
    entry["in"] = input_fields(args, c::inputs);
    entry["zero"] = zero_except(args, c::size, c::inputs);
    HostState &state = host_state();
    CallCtrlResult outcome;
    if (state.call_ctrl_starts < description.call_ctrl.size())
        outcome = description.call_ctrl[state.call_ctrl_starts];
    else
        outcome.result = readable(config) ? 0 : c::no_valid_configuration;
    ++state.call_ctrl_starts;
    if (outcome.result != 0 && outcome.result != c::no_valid_configuration) {
        set_i32(args, c::error_detail_a, outcome.detail_a);
        set_i32(args, c::error_detail_b, outcome.detail_b);
    }
    // A mark of the library's own, so that a record reused without being
    // zero-filled again shows in the next start's "zero".
    set_u32(args, c::library_mark, 0x5a5a5a5a);
    if (outcome.result != 0)
        record_failure(args, "call control did not start");
    return finish(entry, outcome.result);
}

int ZolCallCtrlClose(void)
{
    return plain_call("ZolCallCtrlClose");
}

ZolHandle ZolSessionAttach(LineSessionArgs *args)
{
    namespace l = line_session;
    const Description &description = begin_call();
    Entry entry = journal_entry("ZolSessionAttach");
    if (!args) {
        no_record(entry);
        return nullptr;
    }
    uint8_t number = get_u8(args, l::module_number);
    entry["in"] = input_fields(args, l::session_attach_inputs);
    entry["zero"] = zero_except(args, l::size, l::session_attach_inputs);
    Handle *handle = nullptr;
    auto it = description.modules.find(number);
    if (it != description.modules.end() && it->second.attach)
        handle = new_handle(false, number);
    entry["result"] = handle_name(handle);
    journal_write(entry);
    return handle;
}

int ZolSessionDetach(ZolHandle handle, LineSessionArgs *args)
{
    begin_call();
    Entry entry = handle_entry("ZolSessionDetach", handle);
    if (args)
        entry["zero"] = zero_except(args, line_session::size, {});
    Handle *target = find_handle(handle);
    if (!target)
        return finish(entry, -1);
    target->detached = true;
    return finish(entry, 0);
}

int ZolModuleInfo(ZolHandle module_or_null, ModuleInfoArgs *args)
{
    namespace m = module_info;
    const Description &description = begin_call();
    Entry entry = handle_entry("ZolModuleInfo", module_or_null);
    if (!args)
        return no_record(entry);
    int32_t asked = get_i32(args, m::module_number);
    entry["in"] = input_fields(args, m::inputs);
    entry["zero"] = zero_except(args, m::size, m::inputs);
    const ModuleDesc *module = nullptr;
    if (module_or_null) {
        module = module_of(find_handle(module_or_null));
        if (!module)
            return finish(entry, -1);
    } else {
        auto it = description.modules.find(asked);
        if (it != description.modules.end())
            module = &it->second;
    }
    if (!module) { // an unlisted module: no channels, no failure
        set_i32(args, m::status, 0);
        set_u32(args, m::channel_count, 0);
        return finish(entry, 0);
    }
    write_module_info(args, *module, asked);
    if (module->info_status != 0)
        record_failure(args, module->error_text);
    return finish(entry, module->info_status == 0 ? 0 : -1);
}

int ZolFeatureSetQuery(ZolHandle module, FeatureQueryArgs *args)
{
    namespace f = feature_query;
    begin_call();
    Entry entry = handle_entry("ZolFeatureSetQuery", module);
    if (!args)
        return no_record(entry);
    entry["zero"] = zero_except(args, f::size, {});
    Handle *handle = find_handle(module);
    const ModuleDesc *desc = module_of(handle);
    if (!desc)
        return finish(entry, -1);
    if (handle->next_feature >= desc->features.size()) {
        entry["feature"] = nullptr;
        return finish(entry, 0);
    }
    const FeatureDesc &feature = desc->features[handle->next_feature++];
    set_i32(args, f::status, feature.status);
    set_text(args, f::feature_name, feature.name);
    set_i32(args, f::feature_value, feature.value);
    entry["feature"] = feature.name;
    return finish(entry, 0);
}

int ZolFirmwareDownload(ZolHandle module, FirmwareDownloadArgs *args)
{
    namespace d = firmware_download;
    begin_call();
    Entry entry = handle_entry("ZolFirmwareDownload", module);
    if (!args)
        return no_record(entry);
    const void *path = get_ptr(args, d::image_path);
    int32_t kind = get_i32(args, d::image_kind);
    entry["in"] = input_fields(args, d::inputs);
    entry["zero"] = zero_except(args, d::size, d::inputs);
    const ModuleDesc *desc = module_of(find_handle(module));
    if (!desc)
        return finish(entry, -1);
    const std::optional<DownloadOutcome> &given = kind == d::ppc_image ? desc->ppc : desc->dsp;
    DownloadOutcome outcome;
    if (kind != d::dsp_image && kind != d::ppc_image)
        outcome = {1, EINVAL};
    else if (given)
        outcome = *given;
    else if (int error = read_image(path))
        outcome = {1, error};
    set_i32(args, d::status, outcome.status);
    set_i32(args, d::line_status, outcome.line_status);
    if (outcome.status != 0)
        record_failure(args, "firmware download failed");
    return finish(entry, outcome.status == 0 ? 0 : -1);
}

int ZolErrorMessage(ZolHandle handle_or_null, void *failed_args, ErrorTextBuffer *text)
{
    namespace e = error_text;
    begin_call();
    Entry entry = handle_entry("ZolErrorMessage", handle_or_null);
    const HostState &state = host_state();
    entry["same_record"] = state.failed_record != nullptr && failed_args == state.failed_record;
    if (!text)
        return finish(entry, -1);
    // Always NUL-ended: at most 128 characters of the failure text.
    std::string message = state.failure_text.substr(0, e::message_text.width - 1);
    set_text(text, e::message_text, message);
    entry["text"] = message;
    return finish(entry, 0);
}
