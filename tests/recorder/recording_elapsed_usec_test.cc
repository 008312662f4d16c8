// elapsed_usec: the span between two wall-clock readings in microseconds, in
// 32-bit two's-complement arithmetic.
#include <stdint.h>

#include <gtest/gtest.h>

#include "recorder.h"

namespace {

struct ElapsedCase {
    const char *name;
    struct timeval start, end;
    int32_t expected;
};

const ElapsedCase elapsed_cases[] = {
    {"within one second", {5, 100}, {5, 350}, 250},
    {"across a second boundary", {10, 999900}, {11, 100}, 200},
    {"clock set back", {11, 100}, {10, 999900}, -200},
    {"longest span that fits", {0, 0}, {2147, 483647}, INT32_MAX},
    {"one microsecond beyond wraps", {0, 0}, {2147, 483648}, INT32_MIN},
    {"far beyond 2^31 us wraps", {100, 0}, {2248, 0}, (int32_t)(2148000000LL - 4294967296LL)},
    {"set back beyond 2^31 us wraps", {2248, 0}, {100, 0}, (int32_t)(4294967296LL - 2148000000LL)},
    // Seconds that differ by more than a signed 32-bit word holds.
    {"seconds from one end of the range to the other", {INT32_MIN, 0}, {INT32_MAX, 0}, -1000000},
    // Time past January 2038: the seconds no longer fit 32 bits, the result
    // is still the exact value reduced modulo 2^32.
    {"across January 2038", {INT32_MAX, 999900}, {INT32_MAX + 1LL, 100}, 200},
    {"well past 2038", {(1LL << 32) + 5, 100}, {(1LL << 32) + 7, 350}, 2000250},
    {"a span of 2^32 seconds wraps to 0", {0, 0}, {1LL << 32, 0}, 0},
};

TEST(ElapsedUsec, ExactValueReducedModulo2To32)
{
    for (const ElapsedCase &c : elapsed_cases)
        EXPECT_EQ(elapsed_usec(&c.start, &c.end), c.expected) << c.name;
}

} // namespace
