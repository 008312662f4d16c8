#include "records.h"

#include <string.h>

#include <algorithm>

static_assert(sizeof(void *) == 4, "the stand-in keeps the 32-bit x86 ABI: build with -m32");

namespace host_sim {

// Every record is little-endian, which is the host byte order of x86, and
// packed, so fields are copied byte-wise rather than through aligned loads.

int32_t get_i32(const void *record, const Field &field)
{
    int32_t value;
    memcpy(&value, static_cast<const uint8_t *>(record) + field.offset, sizeof value);
    return value;
}

uint8_t get_u8(const void *record, const Field &field)
{
    return static_cast<const uint8_t *>(record)[field.offset];
}

void set_i32(void *record, const Field &field, int32_t value)
{
    memcpy(static_cast<uint8_t *>(record) + field.offset, &value, sizeof value);
}

void set_u32(void *record, const Field &field, uint32_t value)
{
    memcpy(static_cast<uint8_t *>(record) + field.offset, &value, sizeof value);
}

void *get_ptr(const void *record, const Field &field)
{
    void *pointer;
    memcpy(&pointer, static_cast<const uint8_t *>(record) + field.offset, sizeof pointer);
    return pointer;
}

void set_text(void *record, const Field &field, const std::string &text)
{
    uint8_t *bytes = static_cast<uint8_t *>(record) + field.offset;
    size_t length = text.size() < field.width ? text.size() : field.width;
    memcpy(bytes, text.data(), length);
    if (length < field.width)
        bytes[length] = 0;
}

bool zero_except(const void *record, size_t size, const Fields &fields, std::initializer_list<Field> also)
{
    auto skipped = [&](size_t i) {
        auto covers = [i](const Field &field) { return i >= field.offset && i < field.offset + field.width; };
        return std::any_of(fields.begin(), fields.end(), covers) || std::any_of(also.begin(), also.end(), covers);
    };
    const uint8_t *bytes = static_cast<const uint8_t *>(record);
    for (size_t i = 0; i < size; ++i)
        if (!skipped(i) && bytes[i] != 0)
            return false;
    return true;
}

} // namespace host_sim
