// set_process_title on a synthetic block of argument and environment strings,
// laid out as the kernel lays them out at exec, with guard bytes on both sides
// (the sanitizers do not watch a process's real string area).
#include <string.h>

#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "process_title.h"

namespace {

const size_t guard_size = 32;
const char guard_byte = '\x5a';

struct StringBlock {
    std::vector<char> memory;             // guard, the strings back to back, guard
    std::vector<char *> argv, envp;       // each ended by a null pointer
    char *strings() { return memory.data() + guard_size; }
    size_t strings_size() const { return memory.size() - 2 * guard_size; }
};

StringBlock make_block(const std::vector<std::string> &args, const std::vector<std::string> &env)
{
    size_t size = 0;
    for (const auto &s : args)
        size += s.size() + 1;
    for (const auto &s : env)
        size += s.size() + 1;
    StringBlock block;
    block.memory.assign(size + 2 * guard_size, guard_byte);
    char *next = block.strings();
    for (const auto &s : args) {
        memcpy(next, s.c_str(), s.size() + 1);
        block.argv.push_back(next);
        next += s.size() + 1;
    }
    for (const auto &s : env) {
        memcpy(next, s.c_str(), s.size() + 1);
        block.envp.push_back(next);
        next += s.size() + 1;
    }
    block.argv.push_back(nullptr);
    block.envp.push_back(nullptr);
    return block;
}

void expect_guards_intact(const StringBlock &block)
{
    for (size_t i = 0; i < guard_size; i++) {
        EXPECT_EQ(block.memory[i], guard_byte) << "guard before, byte " << i;
        EXPECT_EQ(block.memory[block.memory.size() - 1 - i], guard_byte) << "guard after, byte " << i;
    }
}

std::string area_text(StringBlock &block)
{
    return std::string(block.strings(), block.strings_size());
}

struct TitleCase {
    const char *name;
    std::vector<std::string> args, env;
    std::string title;
    std::string expected_area;            // every byte of the strings afterwards
};

void PrintTo(const TitleCase &c, std::ostream *os) { *os << c.name; }

using std::string_literals::operator""s;

// The area of "t\0-f\0X=1\0" is 8 bytes to its last NUL: room 6, so at most
// 5 characters of a title stand, and everything after them is cleared.
const TitleCase title_cases[] = {
    {"fits_and_clears_the_rest", {"tarvold", "-f", "/fw"}, {"A=1", "PATH=/bin"},
     "tarvold: KQ260 VB", "tarvold: KQ260 VB\0\0\0\0\0\0\0\0\0\0\0\0"s},
    {"fills_the_room_exactly", {"t", "-f"}, {"X=1"}, "tarvo", "tarvo\0\0\0\0"s},
    {"one_over_the_room_is_cut", {"t", "-f"}, {"X=1"}, "tarvol", "tarvo\0\0\0\0"s},
    {"long_title_keeps_its_first_characters", {"t", "-f"}, {"X=1"},
     "tarvold: KQ260 Virtual Board 0x41", "tarvo\0\0\0\0"s},
    {"area_smaller_than_two_bytes_is_left", {""}, {"Y"}, "title", "\0Y\0"s},
};

class SetProcessTitle : public testing::TestWithParam<TitleCase> {};

TEST_P(SetProcessTitle, WritesOnlyTheArea)
{
    const TitleCase &c = GetParam();
    StringBlock block = make_block(c.args, c.env);
    title_argv = block.argv.data();
    title_end = find_title_end(block.argv.data(), block.envp.data());
    ASSERT_EQ(title_end, block.strings() + block.strings_size() - 1);

    set_process_title("%s", c.title.c_str());

    EXPECT_EQ(area_text(block), c.expected_area);
    expect_guards_intact(block);
    EXPECT_EQ(block.argv[0], block.strings());
    EXPECT_EQ(block.argv[1], nullptr);
}

INSTANTIATE_TEST_SUITE_P(Cases, SetProcessTitle, testing::ValuesIn(title_cases),
                         [](const testing::TestParamInfo<TitleCase> &param_info) { return param_info.param.name; });

TEST(SetProcessTitle, FormatsWithItsArguments)
{
    StringBlock block = make_block({"tarvold", "-f", "/some/firmware", "-p", "/tmp/pid"}, {"HOME=/root"});
    title_argv = block.argv.data();
    title_end = find_title_end(block.argv.data(), block.envp.data());

    set_process_title("tarvold: KQ260 Virtual Board 0x%0X", 65);

    std::string expected = "tarvold: KQ260 Virtual Board 0x41";
    expected.resize(block.strings_size(), '\0');
    EXPECT_EQ(area_text(block), expected);
    expect_guards_intact(block);
}

TEST(SetProcessTitle, TitleBeyondItsBufferIsCutAt8191Characters)
{
    // An area larger than the title buffer: whatever vsnprintf would have
    // written past the buffer must not count as written.
    StringBlock block = make_block({"tarvold"}, {"BIG=" + std::string(9000, 'b')});
    title_argv = block.argv.data();
    title_end = find_title_end(block.argv.data(), block.envp.data());

    set_process_title("%s", std::string(8500, 'T').c_str());

    std::string expected(8191, 'T');
    expected.resize(block.strings_size(), '\0');
    EXPECT_EQ(area_text(block), expected);
    expect_guards_intact(block);
}

TEST(FindTitleEnd, WithoutEnvironmentTakesTheArgumentLastInMemory)
{
    // getopt permutes the vector, not the strings: the last slot need not
    // hold the last string.
    StringBlock block = make_block({"tarvold", "-f", "/fw", "extra"}, {});
    std::swap(block.argv[1], block.argv[3]);
    char *last_nul = block.strings() + block.strings_size() - 1;

    EXPECT_EQ(find_title_end(block.argv.data(), block.envp.data()), last_nul);

    title_argv = block.argv.data();
    title_end = last_nul;
    set_process_title("tarvold: KQ260 Virtual Board 0x%0X", 65);
    EXPECT_EQ(area_text(block), "tarvold: KQ260 Vi\0\0\0\0"s);
    expect_guards_intact(block);
}

// A program may point a slot at a string of its own: the stretch from the
// first argument then holds memory that is not the strings', or strings
// that a slot no longer names, and no title may go there.
TEST(FindTitleEnd, StringsThatDoNotLieBackToBackGiveNoArea)
{
    struct LayoutCase {
        const char *label;
        std::function<void(StringBlock &, char *outside)> change;
    };
    const LayoutCase cases[] = {
        {"an environment string elsewhere", [](StringBlock &b, char *outside) { b.envp[1] = outside; }},
        {"an argument string elsewhere", [](StringBlock &b, char *outside) { b.argv[1] = outside; }},
        {"two slots on one string", [](StringBlock &b, char *) { b.argv[1] = b.argv[2]; }},
    };
    for (const LayoutCase &c : cases) {
        SCOPED_TRACE(c.label);
        StringBlock block = make_block({"tarvold", "-f", "/fw"}, {"A=1", "B=2"});
        char outside[] = "B=2";
        c.change(block, outside);
        EXPECT_EQ(find_title_end(block.argv.data(), block.envp.data()), nullptr);
    }
}

} // namespace
