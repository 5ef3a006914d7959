#include "monitor/display_format.h"

#include <gtest/gtest.h>

#include <limits>

namespace brevalo {
namespace {

TEST(FormatDecimal, UsesFixedDigitsLikePrintfInThePOSIXLocale)
{
    EXPECT_EQ(formatDecimal(1, 48.0), QStringLiteral("48.0"));
    EXPECT_EQ(formatDecimal(0, 2.5), QStringLiteral("2")); // exact tie: to even, as printf
    EXPECT_EQ(formatDecimal(2, 0.125), QStringLiteral("0.12"));
    EXPECT_EQ(formatDecimal(3, -0.0004), QStringLiteral("-0.000"));
    EXPECT_EQ(formatDecimal(-3, 7.6), QStringLiteral("8"));
    EXPECT_EQ(formatDecimal(1200, 1.0).size(), 2 + 1200);
    // Non-finite values show as a dash.
    for (const double v :
         {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
          -std::numeric_limits<double>::infinity()}) {
        EXPECT_EQ(formatDecimal(1, v), QStringLiteral("—"));
    }
}

TEST(FormatRateLabel, ShowsKilohertzAndTheFormatWhenKnown)
{
    EXPECT_EQ(formatRateLabel(AudioDeviceFormat{24, false}, 48000.0),
              QStringLiteral("48.0 kHz / 24-bit"));
    EXPECT_EQ(formatRateLabel(AudioDeviceFormat{32, true}, 96000.0),
              QStringLiteral("96.0 kHz / 32-bit float"));
    EXPECT_EQ(formatRateLabel(std::nullopt, 44100.0), QStringLiteral("44.1 kHz"));
    for (const double rate : {0.0, -48000.0, std::numeric_limits<double>::quiet_NaN(),
                              std::numeric_limits<double>::infinity()}) {
        EXPECT_FALSE(formatRateLabel(AudioDeviceFormat{24, false}, rate)) << rate;
    }
}

TEST(PairLabel, CountsChannelsFromOne)
{
    const AudioChannelPair pair{2, 3, QStringLiteral("Line 3"), QStringLiteral("Line 4")};
    EXPECT_EQ(pairLabel(pair), QStringLiteral("Inputs 3 / 4"));
    EXPECT_EQ(pairLabel({std::numeric_limits<std::int32_t>::max(), 0, {}, {}}),
              QStringLiteral("Inputs 2147483648 / 1"));
}

} // namespace
} // namespace brevalo
