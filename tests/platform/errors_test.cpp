#include "platform/errors.h"

#include <gtest/gtest.h>

using namespace brevalo;

TEST(CoreAudioFailure, NamesPrintableStatusesByTheirFourCharacters)
{
    CoreAudioFailure failure(QStringLiteral("Start monitoring output"), status::unsupportedFormat);
    EXPECT_EQ(failure.description(),
              QStringLiteral("Start monitoring output failed ('!dat', 560226676)."));
    EXPECT_STREQ(failure.what(), "Start monitoring output failed ('!dat', 560226676).");
}

TEST(CoreAudioFailure, NamesOtherStatusesByTheWordStatus)
{
    EXPECT_EQ(CoreAudioFailure(QStringLiteral("Read"), -50).description(),
              QStringLiteral("Read failed (status, -50)."));
    // One byte outside the printable range is enough.
    EXPECT_EQ(CoreAudioFailure::statusText(0x2164617F), QStringLiteral("status"));
    EXPECT_EQ(CoreAudioFailure::statusText(0x20207E7E), QStringLiteral("'  ~~'"));
    EXPECT_EQ(CoreAudioFailure::statusText(0), QStringLiteral("status"));
}

TEST(CaptureError, DescriptionIsExactlyTheMessage)
{
    CaptureError error(QStringLiteral("Choose a storage folder first – “Music”."));
    EXPECT_EQ(error.description(), error.message());
    EXPECT_EQ(QString::fromUtf8(error.what()), error.message());
}
