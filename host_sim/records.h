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

namespace host_sim {

// Offsets (and sizes) of the fields that the library reads or writes.
namespace call_ctrl_init {
constexpr size_t size = 1838, error_detail_a = 294, error_detail_b = 298, config_path = 1693,
                 init_setting = 1705, ecc_log_path = 1709;
}
namespace module_info {
constexpr size_t size = 376, status = 0, module_number = 8, presence_a = 12, channel_count = 16,
                 presence_b = 20, board_name = 146, board_name_size = 230;
}
namespace line_session {
constexpr size_t size = 185, channel_number = 8, attach_setting_a = 13, module_number = 14,
                 app_address = 16, attach_setting_b = 20, reset_text = 44, reset_status = 52,
                 reset_setting_a = 165, reset_setting_b = 173;
}
namespace feature_query {
constexpr size_t size = 169, status = 0, feature_name = 20, feature_name_size = 13,
                 feature_value = 33;
}
namespace firmware_download {
constexpr size_t size = 40, status = 0, line_status = 4, image_path = 16, download_setting_a = 20,
                 image_kind = 24, download_setting_b = 28, firmware_option = 32;
}
namespace switch_connection {
constexpr size_t size = 596, source_type = 16, source_channel = 20, source_aux = 24,
                 source_slot = 28, destination_type = 36, destination_channel = 40,
                 destination_aux = 44, destination_slot = 48, connect_flag = 52;
}
namespace speech_record {
constexpr size_t size = 172, status = 0, record_setting_a = 12, record_control = 16,
                 record_setting_b = 20, word_24 = 24, word_28 = 28, word_44 = 44, word_48 = 48,
                 data_buffer = 52, buffer_size = 56, word_140 = 140, word_148 = 148;
}
namespace receive_packet {
constexpr size_t size = 180, receive_setting = 32;
}
namespace error_text {
constexpr size_t size = 160, message_text = 31, message_text_size = 129;
}
namespace virt_board {
constexpr size_t size = 136, module_number = 0, start_setting = 4, result_code = 12,
                 result_text = 16, result_text_size = 120;
}

// A field of `width` bytes at `offset`, for the zero test.
struct Field {
    size_t offset;
    size_t width;
};

int32_t get_i32(const void *record, size_t offset);
uint32_t get_u32(const void *record, size_t offset);
uint8_t get_u8(const void *record, size_t offset);
void set_i32(void *record, size_t offset, int32_t value);
void set_u32(void *record, size_t offset, uint32_t value);
// The 4-byte pointer stored at offset.
void *get_ptr(const void *record, size_t offset);
// Copies text into a field of `size` bytes: NUL-ended when it fits, else the
// first `size` characters with no NUL.
void set_text(void *record, size_t offset, size_t size, const std::string &text);
// Whether every byte of the record outside the given fields is zero.
bool zero_except(const void *record, size_t size, std::initializer_list<Field> fields);

} // namespace host_sim

#endif
