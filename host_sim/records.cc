#include "records.h"

#include <string.h>

static_assert(sizeof(void *) == 4, "the stand-in keeps the 32-bit x86 ABI: build with -m32");

namespace host_sim {

// Every record is little-endian, which is the host byte order of x86, and
// packed, so fields are copied byte-wise rather than through aligned loads.

int32_t get_i32(const void *record, size_t offset)
{
    int32_t value;
    memcpy(&value, static_cast<const uint8_t *>(record) + offset, sizeof value);
    return value;
}

uint32_t get_u32(const void *record, size_t offset)
{
    uint32_t value;
    memcpy(&value, static_cast<const uint8_t *>(record) + offset, sizeof value);
    return value;
}

uint8_t get_u8(const void *record, size_t offset)
{
    return static_cast<const uint8_t *>(record)[offset];
}

void set_i32(void *record, size_t offset, int32_t value)
{
    memcpy(static_cast<uint8_t *>(record) + offset, &value, sizeof value);
}

void set_u32(void *record, size_t offset, uint32_t value)
{
    memcpy(static_cast<uint8_t *>(record) + offset, &value, sizeof value);
}

void *get_ptr(const void *record, size_t offset)
{
    void *pointer;
    memcpy(&pointer, static_cast<const uint8_t *>(record) + offset, sizeof pointer);
    return pointer;
}

void set_text(void *record, size_t offset, size_t size, const std::string &text)
{
    uint8_t *field = static_cast<uint8_t *>(record) + offset;
    size_t length = text.size() < size ? text.size() : size;
    memcpy(field, text.data(), length);
    if (length < size)
        field[length] = 0;
}

bool zero_except(const void *record, size_t size, std::initializer_list<Field> fields)
{
    const uint8_t *bytes = static_cast<const uint8_t *>(record);
    for (size_t i = 0; i < size; ++i) {
        bool skipped = false;
        for (const Field &field : fields)
            if (i >= field.offset && i < field.offset + field.width)
                skipped = true;
        if (!skipped && bytes[i] != 0)
            return false;
    }
    return true;
}

} // namespace host_sim
