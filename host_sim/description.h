// The board description that drives the stand-in: which modules and channels
// answer, what they report, and which calls fail. Read from the JSON file that
// HOST_SIM_BOARDS names, or the default boards when it is unset.
#ifndef HOST_SIM_DESCRIPTION_H
#define HOST_SIM_DESCRIPTION_H

#include <stdint.h>

#include <array>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "records.h"

namespace host_sim {

struct FeatureDesc {
    std::string name;
    int32_t value = 0;
    int32_t status = 0;
};

// Outcome of one image kind's download; absent: the image file is read.
struct DownloadOutcome {
    int32_t status = 0;
    int32_t line_status = 0;
};

struct ModuleDesc {
    bool attach = true;
    uint32_t presence_a = 1, presence_b = 1, channel_count = 0;
    std::string board_name;
    std::vector<FeatureDesc> features;
    std::optional<DownloadOutcome> ppc, dsp;
    int32_t info_status = 0;
    std::optional<int32_t> info_module_number;
    std::string error_text = "module query failed";
};

struct SpeechDesc {
    int seed = 0;
    std::vector<int32_t> sizes{1024};
    std::optional<int64_t> total;
    int after_stop = 2;
    bool pace = false;
    std::vector<int32_t> counts;
    int fail_at = 0;
    int32_t fail_status = 1;       // never 0: the recorder reads status 0 as success
};

using AddressBytes = std::array<uint8_t, 4>;

struct ChannelDesc {
    bool attach = true;
    int32_t reset_result = 0, reset_status = 0;
    int unit = 0;
    AddressBytes src_address{}, app_address{}, dest_address{};
    int32_t connect_result = 0, break_result = 0;
    std::string error_text = "line failure";
    SpeechDesc speech;
    int packets = 2;
};

// One connection of the switch: source type, channel, aux, slot, then the
// destination's four words, in record order.
struct ConnectionDesc {
    std::array<int32_t, switch_connection::endpoint_count> words{};
    int32_t result = 1;
};

struct SwitchDesc {
    std::vector<ConnectionDesc> connections;
    int error_at = 0;
    std::string error_text = "switch failure";
};

struct CallCtrlResult {
    int32_t result = 0, detail_a = 0, detail_b = 0;
};

struct VirtualBoardDesc {
    uint32_t start_code = 0;
    std::string start_text;
    uint32_t stop_code = 0;
    std::string stop_text = "stopped";
    int start_delay_ms = 0;
};

struct Description {
    std::map<int, ModuleDesc> modules;
    std::map<int, ChannelDesc> channels;
    SwitchDesc switch_board;
    std::vector<CallCtrlResult> call_ctrl;
    VirtualBoardDesc virtual_board;
};

// The description in force, (re)read when HOST_SIM_BOARDS names another path
// than the one read last. A description that cannot be read or parsed ends
// the process with status 70. `generation` grows with every (re)load, so the
// caller knows when to start its simulated state afresh.
const Description &current_description(unsigned *generation = nullptr);

} // namespace host_sim

#endif
