// Byte-offset access to the argument records of the board API. The stand-in
// never uses board_api/'s structs for this: it reads and writes each field at
// the offset that the record layouts give, so a field that board_api/ puts at
// a wrong offset shows up as a wrong value instead of cancelling out.
#ifndef HOST_SIM_RECORDS_H
#define HOST_SIM_RECORDS_H

#include <stddef.h>
#include <stdint.h>

#include <initializer_list>
#include <string>
#include <vector>

namespace host_sim {

// How a field is read, and how the journal shows it.
enum class Kind {
    i32,     // a signed 32-bit word
    u8,      // one byte
    text,    // a 4-byte pointer to NUL-ended text: the text, or null
    address, // a 4-byte pointer to data: the address as a number
    bytes,   // bytes as they stand: a list of numbers
    chars,   // characters held in the record itself
};

// A field of a record: its name in board_api/ (and in the journal), where it
// stands and how wide it is, and its kind.
struct Field {
    const char *name;
    size_t offset;
    size_t width;
    Kind kind;
};
using Fields = std::vector<Field>;

// Each record's fields that the library reads or writes, and for each call the
// fields its caller sets: these are the journal's "in", and the rest of the
// record must be zero.
namespace call_ctrl_init {
constexpr size_t size = 1838;
// The start's result when the configuration holds nothing it can use.
constexpr int32_t no_valid_configuration = -5;
// The stand-in's mark in the first four bytes: see ZolCallCtrlInit.
constexpr Field library_mark{"library_mark", 0, 4, Kind::i32};
constexpr Field error_detail_a{"error_detail_a", 294, 4, Kind::i32},
    error_detail_b{"error_detail_b", 298, 4, Kind::i32}, config_path{"config_path", 1693, 4, Kind::text},
    init_setting{"init_setting", 1705, 4, Kind::i32}, ecc_log_path{"ecc_log_path", 1709, 4, Kind::text};
inline const Fields inputs = {config_path, init_setting, ecc_log_path};
}
namespace module_info {
constexpr size_t size = 376;
constexpr Field status{"status", 0, 4, Kind::i32}, module_number{"module_number", 8, 4, Kind::i32},
    presence_a{"presence_a", 12, 4, Kind::i32}, channel_count{"channel_count", 16, 4, Kind::i32},
    presence_b{"presence_b", 20, 4, Kind::i32}, board_name{"board_name", 146, 230, Kind::chars};
inline const Fields inputs = {module_number};
}
namespace line_session {
constexpr size_t size = 185;
constexpr Field channel_number{"channel_number", 8, 4, Kind::i32},
    attach_setting_a{"attach_setting_a", 13, 1, Kind::u8}, module_number{"module_number", 14, 1, Kind::u8},
    app_address{"app_address", 16, 4, Kind::bytes}, attach_setting_b{"attach_setting_b", 20, 4, Kind::i32},
    reset_text{"reset_text", 44, 4, Kind::text}, reset_status{"reset_status", 52, 4, Kind::i32},
    reset_setting_a{"reset_setting_a", 165, 4, Kind::i32}, reset_setting_b{"reset_setting_b", 173, 4, Kind::i32};
inline const Fields session_attach_inputs = {attach_setting_a, module_number, attach_setting_b};
inline const Fields line_attach_inputs = {channel_number};
inline const Fields reset_inputs = {reset_text, reset_setting_a, reset_setting_b};
inline const Fields alert_inputs = {app_address};
}
namespace feature_query {
constexpr size_t size = 169;
constexpr Field status{"status", 0, 4, Kind::i32}, feature_name{"feature_name", 20, 13, Kind::chars},
    feature_value{"feature_value", 33, 4, Kind::i32};
}
namespace firmware_download {
constexpr size_t size = 40;
constexpr Field status{"status", 0, 4, Kind::i32}, line_status{"line_status", 4, 4, Kind::i32},
    image_path{"image_path", 16, 4, Kind::text}, download_setting_a{"download_setting_a", 20, 4, Kind::i32},
    image_kind{"image_kind", 24, 4, Kind::i32}, download_setting_b{"download_setting_b", 28, 4, Kind::i32},
    firmware_option{"firmware_option", 32, 4, Kind::i32};
inline const Fields inputs = {image_path, download_setting_a, image_kind, download_setting_b, firmware_option};
// The image_kind of each of a module's two images.
constexpr int32_t dsp_image = 1, ppc_image = 2;
}
namespace switch_connection {
constexpr size_t size = 596;
constexpr Field source_type{"source_type", 16, 4, Kind::i32}, source_channel{"source_channel", 20, 4, Kind::i32},
    source_aux{"source_aux", 24, 4, Kind::i32}, source_slot{"source_slot", 28, 4, Kind::i32},
    destination_type{"destination_type", 36, 4, Kind::i32},
    destination_channel{"destination_channel", 40, 4, Kind::i32},
    destination_aux{"destination_aux", 44, 4, Kind::i32}, destination_slot{"destination_slot", 48, 4, Kind::i32},
    connect_flag{"connect_flag", 52, 4, Kind::i32};
// What ZolCallSWConnect does by the connect flag; any other flag is refused.
constexpr int32_t flag_break = 0, flag_connect = 1;
// A connection's eight endpoint words, in record order: what a lookup writes
// and a connect reads, and the names a board description gives them.
constexpr size_t endpoint_count = 8;
inline const Fields endpoints = {source_type,      source_channel,      source_aux,      source_slot,
                                 destination_type, destination_channel, destination_aux, destination_slot};
inline const Fields connect_inputs = [] {
    Fields fields = endpoints;
    fields.push_back(connect_flag);
    return fields;
}();
}
namespace speech_record {
constexpr size_t size = 172;
constexpr Field status{"status", 0, 4, Kind::i32}, record_setting_a{"record_setting_a", 12, 4, Kind::i32},
    record_control{"record_control", 16, 4, Kind::i32}, record_setting_b{"record_setting_b", 20, 4, Kind::i32},
    word_24{"word_24", 24, 4, Kind::i32}, word_28{"word_28", 28, 4, Kind::i32}, word_44{"word_44", 44, 4, Kind::i32},
    word_48{"word_48", 48, 4, Kind::i32}, data_buffer{"data_buffer", 52, 4, Kind::address},
    buffer_size{"buffer_size", 56, 4, Kind::i32}, word_140{"word_140", 140, 4, Kind::i32},
    word_148{"word_148", 148, 4, Kind::i32};
inline const Fields inputs = {record_setting_a, record_control, record_setting_b, word_24,  word_28, word_44,
                              word_48,          data_buffer,    buffer_size,      word_140, word_148};
}
namespace receive_packet {
constexpr size_t size = 180;
constexpr Field receive_setting{"receive_setting", 32, 4, Kind::i32};
inline const Fields inputs = {receive_setting};
}
namespace error_text {
constexpr size_t size = 160;
constexpr Field message_text{"message_text", 31, 129, Kind::chars};
}
namespace virt_board {
constexpr size_t size = 136;
constexpr Field module_number{"module_number", 0, 4, Kind::i32}, start_setting{"start_setting", 4, 4, Kind::i32},
    result_code{"result_code", 12, 4, Kind::i32}, result_text{"result_text", 16, 120, Kind::chars};
inline const Fields start_inputs = {module_number, start_setting};
}

int32_t get_i32(const void *record, const Field &field);
uint8_t get_u8(const void *record, const Field &field);
void set_i32(void *record, const Field &field, int32_t value);
void set_u32(void *record, const Field &field, uint32_t value);
// The 4-byte pointer the field holds.
void *get_ptr(const void *record, const Field &field);
// Copies text into a field of characters: NUL-ended when it fits, else the
// first `width` characters with no NUL.
void set_text(void *record, const Field &field, const std::string &text);
// Whether every byte of the record outside the given fields, and outside the
// other fields named (the library's own output in a record callers reuse), is zero.
bool zero_except(const void *record, size_t size, const Fields &fields, std::initializer_list<Field> also = {});

} // namespace host_sim

#endif
