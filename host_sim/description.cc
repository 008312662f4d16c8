#include "description.h"

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include <nlohmann/json.hpp>

namespace host_sim {

using json = nlohmann::json;

namespace {

// Thrown for a description of the wrong shape; caught in load_description,
// never passed to the caller of the library.
struct BadDescription : std::runtime_error {
    using std::runtime_error::runtime_error;
};

template <class T> void read(const json &object, const char *key, T &out)
{
    auto it = object.find(key);
    if (it != object.end() && !it->is_null())
        out = it->get<T>();
}

const json &section(const json &object, const char *key)
{
    static const json empty = json::object();
    auto it = object.find(key);
    if (it == object.end() || it->is_null())
        return empty;
    if (!it->is_object())
        throw BadDescription(std::string("\"") + key + "\" is not an object");
    return *it;
}

int number_key(const std::string &key)
{
    char *end = nullptr;
    long number = strtol(key.c_str(), &end, 10);
    if (key.empty() || *end != 0)
        throw BadDescription("\"" + key + "\" is not a decimal number");
    return static_cast<int>(number);
}

AddressBytes address(const json &value)
{
    std::vector<int> bytes = value.get<std::vector<int>>();
    if (bytes.size() != 4)
        throw BadDescription("an address has 4 bytes");
    AddressBytes result;
    for (size_t i = 0; i < 4; ++i)
        result[i] = static_cast<uint8_t>(bytes[i]);
    return result;
}

std::optional<DownloadOutcome> download_outcome(const json &module, const char *key)
{
    auto it = module.find(key);
    if (it == module.end() || it->is_null())
        return std::nullopt;
    DownloadOutcome outcome;
    read(*it, "status", outcome.status);
    read(*it, "line_status", outcome.line_status);
    return outcome;
}

ModuleDesc module_desc(const json &value)
{
    ModuleDesc module;
    read(value, "attach", module.attach);
    read(value, "presence_a", module.presence_a);
    read(value, "presence_b", module.presence_b);
    read(value, "channel_count", module.channel_count);
    read(value, "board_name", module.board_name);
    if (value.contains("features"))
        for (const json &entry : value.at("features")) {
            FeatureDesc feature;
            read(entry, "name", feature.name);
            read(entry, "value", feature.value);
            read(entry, "status", feature.status);
            module.features.push_back(feature);
        }
    module.ppc = download_outcome(value, "ppc");
    module.dsp = download_outcome(value, "dsp");
    read(value, "info_status", module.info_status);
    if (value.contains("info_module_number") && !value.at("info_module_number").is_null())
        module.info_module_number = value.at("info_module_number").get<int32_t>();
    read(value, "error_text", module.error_text);
    return module;
}

SpeechDesc speech_desc(const json &value, int seed, bool pace)
{
    SpeechDesc speech;
    speech.seed = seed;
    speech.pace = pace;
    read(value, "seed", speech.seed);
    read(value, "sizes", speech.sizes);
    if (value.contains("total") && !value.at("total").is_null())
        speech.total = value.at("total").get<int64_t>();
    read(value, "after_stop", speech.after_stop);
    read(value, "pace", speech.pace);
    read(value, "counts", speech.counts);
    read(value, "fail_at", speech.fail_at);
    read(value, "fail_status", speech.fail_status);
    if (speech.sizes.empty())
        throw BadDescription("\"sizes\" is empty");
    if (speech.fail_at > 0 && speech.fail_status == 0)
        throw BadDescription("\"fail_status\" 0 would not be a failure");
    return speech;
}

ChannelDesc channel_desc(int number, const json &value, bool pace)
{
    ChannelDesc channel;
    channel.unit = number;
    read(value, "attach", channel.attach);
    read(value, "reset_result", channel.reset_result);
    read(value, "reset_status", channel.reset_status);
    read(value, "unit", channel.unit);
    uint8_t unit = static_cast<uint8_t>(channel.unit);
    channel.src_address = {32, unit, 0, 0};
    channel.app_address = {16, unit, 0, 0};
    channel.dest_address = {48, unit, 0, 0};
    if (value.contains("src_address"))
        channel.src_address = address(value.at("src_address"));
    if (value.contains("app_address"))
        channel.app_address = address(value.at("app_address"));
    if (value.contains("dest_address"))
        channel.dest_address = address(value.at("dest_address"));
    read(value, "connect_result", channel.connect_result);
    read(value, "break_result", channel.break_result);
    read(value, "error_text", channel.error_text);
    channel.speech = speech_desc(section(value, "speech"), number, pace);
    read(value, "packets", channel.packets);
    return channel;
}

ConnectionDesc connection_desc(const json &value)
{
    ConnectionDesc connection;
    for (size_t i = 0; i < switch_connection::endpoint_count; ++i)
        read(value, switch_connection::endpoints[i].name, connection.words[i]);
    read(value, "result", connection.result);
    // An all-zero record is how a caller starts a new lookup, so an entry
    // that leaves the record all zero would hand out the list forever.
    if (std::all_of(connection.words.begin(), connection.words.end(), [](auto word) { return word == 0; }))
        throw BadDescription("a connection needs a non-zero endpoint word");
    return connection;
}

Description default_description()
{
    Description description;
    auto add_module = [&](int number, const char *name, uint32_t channels) {
        ModuleDesc module;
        module.board_name = name;
        module.channel_count = channels;
        description.modules[number] = module;
    };
    add_module(2, "KQ4800 MERODAN", 0);
    add_module(3, "KQ4810 TALVERIN", 0);
    description.modules[3].features.push_back({"V34Enab", 1, 0});
    add_module(4, "KQ4862 GOLVAR", 0);
    add_module(5, "KQ4800 CASTOV", 24);
    for (int number : {1, 2})
        description.channels[number] = channel_desc(number, json::object(), true);
    ConnectionDesc connection;
    connection.words = {0, 9, 0, 0, 15, 0, 0, 1};
    description.switch_board.connections.push_back(connection);
    return description;
}

// Sections that the description leaves out keep the defaults.
Description parse_description(const json &root)
{
    if (!root.is_object())
        throw BadDescription("the description is not a JSON object");
    Description description = default_description();
    if (root.contains("modules")) {
        description.modules.clear();
        for (const auto &[key, value] : section(root, "modules").items())
            description.modules[number_key(key)] = module_desc(value);
    }
    if (root.contains("channels")) {
        description.channels.clear();
        for (const auto &[key, value] : section(root, "channels").items()) {
            int number = number_key(key);
            description.channels[number] = channel_desc(number, value, false);
        }
    }
    if (root.contains("switch")) {
        const json &value = section(root, "switch");
        SwitchDesc &board = description.switch_board;
        if (value.contains("connections")) {
            board.connections.clear();
            for (const json &entry : value.at("connections"))
                board.connections.push_back(connection_desc(entry));
        }
        read(value, "error_at", board.error_at);
        read(value, "error_text", board.error_text);
    }
    const json &call_ctrl = section(root, "call_ctrl");
    if (call_ctrl.contains("results"))
        for (const json &entry : call_ctrl.at("results")) {
            CallCtrlResult result;
            read(entry, "result", result.result);
            read(entry, "detail_a", result.detail_a);
            read(entry, "detail_b", result.detail_b);
            description.call_ctrl.push_back(result);
        }
    const json &board = section(root, "virtual_board");
    VirtualBoardDesc &virtual_board = description.virtual_board;
    read(board, "start_code", virtual_board.start_code);
    read(board, "start_text", virtual_board.start_text);
    read(board, "stop_code", virtual_board.stop_code);
    read(board, "stop_text", virtual_board.stop_text);
    read(board, "start_delay_ms", virtual_board.start_delay_ms);
    return description;
}

[[noreturn]] void give_up(const std::string &path, const std::string &why)
{
    dprintf(2, "host_sim: board description %s: %s\n", path.c_str(), why.c_str());
    _exit(70);
}

Description load_description(const std::string &path)
{
    std::ifstream file(path);
    if (!file)
        give_up(path, "cannot be read");
    std::stringstream text;
    text << file.rdbuf();
    json root = json::parse(text.str(), nullptr, false);
    if (root.is_discarded())
        give_up(path, "is not valid JSON");
    try {
        return parse_description(root);
    } catch (const std::exception &error) {
        give_up(path, error.what());
    }
}

} // namespace

const Description &current_description(unsigned *generation)
{
    static Description description;
    static std::optional<std::string> loaded_path;
    static unsigned loads = 0;
    const char *env = getenv("HOST_SIM_BOARDS");
    std::optional<std::string> path;
    if (env && *env)
        path = env;
    if (loads == 0 || path != loaded_path) {
        description = path ? load_description(*path) : default_description();
        loaded_path = path;
        ++loads;
    }
    if (generation)
        *generation = loads;
    return description;
}

} // namespace host_sim
