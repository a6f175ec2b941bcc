// The text a sysfs tree shows: device folder names and `resource` lines, read
// only as the kernel writes them.
#include <gtest/gtest.h>

#include "linux/sysfs_text.h"

namespace {

TEST(SysfsText, ReadsOnlyTheKernelsDeviceNames) {
    PciName name;
    ASSERT_TRUE(parsePciName("0000:02:1f.7", &name));
    EXPECT_EQ(name.domain, 0u);
    EXPECT_EQ(name.bus, 2u);
    EXPECT_EQ(name.slot, 0x1Fu);
    EXPECT_EQ(name.function, 7u);
    ASSERT_TRUE(parsePciName("10000:e1:00.0", &name));  // a domain above ffff
    EXPECT_EQ(name.domain, 0x10000u);
    EXPECT_EQ(name.bus, 0xE1u);
    // Each of these would name a device some other name names too, or none.
    for (const char* bad : {"", "0000:00:09", "0000:00:0A.0", "00000:00:09.0", "000:00:09.0", "0000:0:09.0",
                            "0000:00:9.0", "0000:00:20.0", "0000:00:09.8", "0000:00:09.0x", "0000:00:09.00",
                            "123456789:00:09.0", "0000-00-09.0", " 0000:00:09.0", "pci0000:00"}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(parsePciName(bad, &name));
    }
}

TEST(SysfsText, ReadsTheSixBarLinesOrSaysWhatIsWrong) {
    const std::string empty = "0x0000000000000000 0x0000000000000000 0x0000000000000000\n";
    const std::string bar0 = "0x00000000e0000000 0x00000000e1ffffff 0x0000000000042208\n";
    ResourceRange bars[BAR_COUNT];
    ASSERT_EQ(parseResourceLines(bar0 + empty + empty + empty + empty + empty + empty, bars), "");
    EXPECT_EQ(bars[0].start, 0xE0000000u);
    EXPECT_EQ(bars[0].end, 0xE1FFFFFFu);
    EXPECT_EQ(bars[0].flags, 0x42208u);
    EXPECT_EQ(bars[5].end, 0u);
    // Shorter numbers, and a file cut after its last number, read too.
    EXPECT_EQ(parseResourceLines("0xd0000000 0xd3ffffff 0x200\n0x0 0x0 0x0\n0x0 0x0 0x0\n0x0 0x0 0x0\n"
                                 "0x0 0x0 0x0\n0x0 0x0 0x0",
                                 bars),
              "");
    EXPECT_EQ(bars[0].end, 0xD3FFFFFFu);

    const std::string notNumbers = " is not three hexadecimal numbers \"0xSTART 0xEND 0xFLAGS\"";
    const struct {
        std::string text, problem;
    } cases[] = {
        {"", "line 1 (BAR0) is missing"},
        {bar0 + empty, "line 3 (BAR2) is missing"},
        {"0xe0000000 0xe1ffffff\n" + empty + empty + empty + empty + empty, "line 1" + notNumbers},
        {" " + bar0 + empty + empty + empty + empty + empty, "line 1" + notNumbers},
        {"0xE0000000 0xE1FFFFFF 0x200\n" + empty + empty + empty + empty + empty, "line 1" + notNumbers},
        {"0x10000000000000000 0x0 0x0\n" + empty + empty + empty + empty + empty, "line 1" + notNumbers},
        {"0x 0x0 0x0\n" + empty + empty + empty + empty + empty, "line 1" + notNumbers},
        {"0x0  0x0 0x0\n" + empty + empty + empty + empty + empty, "line 1" + notNumbers},
        {bar0 + "0x0 0x0 0x0\r\n" + empty + empty + empty + empty, "line 2" + notNumbers},
        {bar0 + std::string("0x0\0 0x0 0x0\n", 13) + empty + empty + empty + empty, "line 2" + notNumbers},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(parseResourceLines(c.text, bars), c.problem);
    }
}

}  // namespace
