// The programs find the host library by name and let LD_LIBRARY_PATH choose
// it, so the maker's libraries can replace the stand-in without a rebuild.
#include <algorithm>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "harness.h"

using namespace harness;

namespace {

std::string dynamic_section(const std::string &binary)
{
    RunOptions options;
    options.args = {"-d", binary};
    return run("readelf", options).out();
}

class LinkContract : public testing::TestWithParam<const char *> {};

TEST_P(LinkContract, NeedsTheHostLibrariesByNameWithoutRpath)
{
    std::string section = dynamic_section(GetParam());
    EXPECT_NE(section.find("Shared library: [keldlib_mt.so]"), std::string::npos) << section;
    EXPECT_NE(section.find("Shared library: [udralib_mt.so]"), std::string::npos) << section;
    EXPECT_EQ(section.find("(RPATH)"), std::string::npos) << section;
}

INSTANTIATE_TEST_SUITE_P(Binaries, LinkContract,
                         testing::Values(TARVOLD_BIN, SULVET_BIN, LINK_PROBE));

// The C library functions a program takes from outside, without versions.
std::vector<std::string> imported_names(const std::string &binary)
{
    RunOptions options;
    options.args = {"--dyn-syms", "--wide", binary};
    std::vector<std::string> names;
    for (const std::string &line : split_lines(run("readelf", options).out())) {
        std::istringstream fields(line);
        std::vector<std::string> words{std::istream_iterator<std::string>(fields), {}};
        if (words.size() >= 8 && words[6] == "UND")
            names.push_back(words[7].substr(0, words[7].find('@')));
    }
    return names;
}

// On i386 the programs are built for files past 2 GiB and time past 2038:
// they must call the 64-bit variants, never the 32-bit ones.
TEST(LinkContractImports, FileAndTimeCallsAreThe64BitOnes)
{
    const struct {
        const char *binary;
        const char *imported;
        const char *not_imported;
    } cases[] = {
        {TARVOLD_BIN, "open64", "open"},
        {TARVOLD_BIN, "fopen64", "fopen"},
        {SULVET_BIN, "open64", "open"},
        {SULVET_BIN, "__gettimeofday64", "gettimeofday"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.binary) + " " + c.imported);
        std::vector<std::string> names = imported_names(c.binary);
        EXPECT_NE(std::find(names.begin(), names.end(), c.imported), names.end());
        EXPECT_EQ(std::find(names.begin(), names.end(), c.not_imported), names.end());
    }
}

} // namespace

TEST(LinkContractProbe, RunsAgainstAnotherLibraryOnLdLibraryPath)
{
    RunOptions options;
    Process own = run(LINK_PROBE, options);
    EXPECT_EQ(own.out(), "0\n");
    options.env["LD_LIBRARY_PATH"] = ALT_LIB_DIR;
    Process other = run(LINK_PROBE, options);
    EXPECT_EQ(other.out(), "4242\n");
}
