// The programs find the host library by name and let LD_LIBRARY_PATH choose
// it, so the maker's libraries can replace the stand-in without a rebuild.
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
