#include "serial/LineSettings.h"
#include "serial/PortDirectory.h"
#include "serial/PortOrder.h"

#include <gtest/gtest.h>

using namespace isp;

TEST(LineSettings, ParsesTheTwoSettingsOfTheBootLoader)
{
    const auto mark = LineSettings::parse("38400,M,8,1");
    ASSERT_TRUE(mark);
    EXPECT_EQ(mark->baud, 38400);
    EXPECT_EQ(mark->parity, Parity::Mark);
    EXPECT_EQ(mark->dataBits, 8);
    EXPECT_EQ(mark->stopBits, 1);
    EXPECT_EQ(mark->bitsPerByte(), 11);
    EXPECT_EQ(mark->toString(), "38400,M,8,1");
    EXPECT_EQ(LineSettings::parse("38400,S,8,1")->parity, Parity::Space);
    EXPECT_EQ(LineSettings::parse("9600,N,8,1")->bitsPerByte(), 10);
}

TEST(LineSettings, RefusesMalformedStrings)
{
    for (const char* text : {"", "38400", "38400,M,8", "38400,M,8,1,", "38400,X,8,1", "38400,MM,8,1", "0,M,8,1",
             "-1,M,8,1", "38400,M,9,1", "38400,M,8,3", "38400 ,M,8,1", "38400,M,8,1x"})
        EXPECT_FALSE(LineSettings::parse(text)) << text;
}

TEST(LineSettings, ParityBitOnTheWire)
{
    EXPECT_TRUE(parityBitFor(Parity::Mark, 0x00));
    EXPECT_TRUE(parityBitFor(Parity::Mark, 0xFF));
    EXPECT_FALSE(parityBitFor(Parity::Space, 0x00));
    EXPECT_FALSE(parityBitFor(Parity::Space, 0xFF));
    EXPECT_TRUE(parityBitFor(Parity::Even, 0x01));
    EXPECT_FALSE(parityBitFor(Parity::Even, 0x03));
    EXPECT_FALSE(parityBitFor(Parity::Odd, 0x01));
}

TEST(PortNaming, SortsDevicePathsNaturally)
{
    std::vector<std::string> paths{
        "/dev/ttyUSB0", "/dev/ttyS10", "/dev/ttyS2", "/dev/ttyACM1", "/dev/ttyS0", "/dev/ttyUSB10", "/dev/ttyUSB9"};
    sortPathsNaturally(paths);
    EXPECT_EQ(paths,
        (std::vector<std::string>{"/dev/ttyACM1", "/dev/ttyS0", "/dev/ttyS2", "/dev/ttyS10", "/dev/ttyUSB0",
            "/dev/ttyUSB9", "/dev/ttyUSB10"}));
}

TEST(PortNaming, ComNIsTheNthListedDeviceAndStaysItWhileItIsUnplugged)
{
    int listings = 0;
    std::vector<std::string> system{"/dev/ttyUSB1", "/dev/ttyUSB0"};
    ListedPortDirectory directory([&] {
        ++listings;
        return system;
    });
    directory.refresh();
    EXPECT_EQ(directory.pathOf(1), "/dev/ttyUSB0");
    EXPECT_EQ(directory.pathOf(2), "/dev/ttyUSB1");

    // ttyUSB0 is unplugged: COM1 is still its device, never ttyUSB1, and the
    // system is not asked again at every opening.
    system = {"/dev/ttyUSB1"};
    EXPECT_EQ(directory.pathOf(1), "/dev/ttyUSB0");
    EXPECT_EQ(directory.pathOf(2), "/dev/ttyUSB1");
    EXPECT_EQ(directory.pathOf(3), "") << "no COM3";
    EXPECT_EQ(directory.pathOf(0), "");
    EXPECT_EQ(listings, 1);
}
