#include "serial/LineSettings.h"
#include "serial/PortDirectory.h"

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
    sortNaturally(paths);
    EXPECT_EQ(paths,
        (std::vector<std::string>{"/dev/ttyACM1", "/dev/ttyS0", "/dev/ttyS2", "/dev/ttyS10", "/dev/ttyUSB0",
            "/dev/ttyUSB9", "/dev/ttyUSB10"}));
}

TEST(PortNaming, NthListedPortIsComNAndTheListIsTakenAgainOnlyWhenADeviceIsGone)
{
    int listings = 0;
    std::vector<std::string> system{"/dev/null", "/dev/zero"};
    PortDirectory directory([&] {
        ++listings;
        return system;
    });
    EXPECT_EQ(directory.pathOf(1), "/dev/null");
    EXPECT_EQ(directory.pathOf(2), "/dev/zero");
    EXPECT_EQ(directory.pathOf(1), "/dev/null");
    EXPECT_EQ(listings, 1) << "the system is asked once, not at every opening";

    // COM2's device vanished and came back under another name.
    system = {"/dev/null", "/dev/full"};
    directory.refresh();
    EXPECT_EQ(listings, 2);
    system = {"/dev/null", "/dev/no-such-device"};
    directory.refresh();
    system = {"/dev/null", "/dev/full"};
    EXPECT_EQ(directory.pathOf(2), "/dev/full");
    EXPECT_EQ(listings, 4);
    EXPECT_EQ(directory.pathOf(3), "") << "no COM3";
    EXPECT_EQ(directory.pathOf(0), "");
    EXPECT_EQ(listings, 4) << "a port never listed does not make the system be asked again";
}
