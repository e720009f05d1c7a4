#include "SimConfig.h"

#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

TEST(SimConfig, ReadsTheDocumentedExample)
{
    std::ifstream in(ZYRSIM_EXAMPLE);
    std::stringstream text;
    text << in.rdbuf();
    std::vector<TSimSystem> systems;
    std::string error;
    ASSERT_TRUE(ParseConfig(text.str(), systems, error)) << error;
    ASSERT_EQ(systems.size(), 2u);
    const TSimSystem &ordinary = systems[0];
    EXPECT_EQ(ordinary.Host, "127.0.0.2");
    EXPECT_EQ(ordinary.Port, 17000);
    EXPECT_EQ(ordinary.Mode, "ok");
    EXPECT_EQ(ordinary.Expect, 3);
    ASSERT_EQ(ordinary.Devices.size(), 2u);
    EXPECT_EQ(ordinary.Devices[1].Channels, "4,3");
    EXPECT_EQ(BuildReport(ordinary),
        "\0052\0042.9.4\00435.2 GB\0040\004120.0 GB\0040\006\004\005\005A1B2C3\0040\0048\004"
        "0,0,1,2,0,0,0,0\006\004\005D4E5F6\0042\00430\0044,3\006\006");
    const TSimSystem &plus = systems[1];
    EXPECT_EQ(plus.Kind, TSimKind::Plus);
    EXPECT_EQ(plus.Closed, std::vector<int>({27105}));
    EXPECT_NE(BuildReport(plus).find("\"LineStatus\":false,\"RecordMethod\":1"), std::string::npos);
    EXPECT_NE(BuildReport(plus).find("\"ServerIp\":\"10.0.0.7\""), std::string::npos);
}

TEST(SimConfig, ErrorsNameTheLine)
{
    const struct
    {
        const char *text;
        const char *error;
    } cases[] = {
        {"[a]\naddress = 10.0.0.1\n", "satır 2"}, // loopback only
        {"delay = 5\n", "satır 1"},
        {"[a]\n\ndelay = soon\n", "satır 3"},
        {"[a]\ncolour = red\n", "satır 2"},
        {"[a]\ndevice = X 0\n", "satır 2"},
    };
    for (const auto &c : cases) {
        std::vector<TSimSystem> systems;
        std::string error;
        EXPECT_FALSE(ParseConfig(c.text, systems, error)) << c.text;
        EXPECT_EQ(error.rfind(c.error, 0), 0u) << error;
    }
    // A device line before the type is still read in the type's form.
    std::vector<TSimSystem> systems;
    std::string error;
    ASSERT_TRUE(ParseConfig("[p]\ndevice = P1 4 0120\ntype = plus\n", systems, error)) << error;
    ASSERT_EQ(systems[0].Devices.size(), 1u);
    EXPECT_EQ(systems[0].Devices[0].Capacity, 4);
    EXPECT_EQ(systems[0].Devices[0].Channels, "0120");

    EXPECT_EQ(Unescape("a\\4b\\x41\\\\\\n"), std::string("a\004bA\\\n"));
}
