#include "platform/errors.h"

#include <gtest/gtest.h>

using namespace brevalo;

TEST(CoreAudioFailure, NamesStatusesByTheirFourCharactersOnlyWhenAllArePrintable)
{
    const struct
    {
        std::int32_t status;
        const char* text;
    } rows[] = {{status::unsupportedFormat, "Start failed ('!dat', 560226676)."},
                {0x20207E7E, "Start failed ('  ~~', 539000446)."},
                {0x2164617F, "Start failed (status, 560226687)."}, // one byte is enough
                {-50, "Start failed (status, -50)."},
                {0, "Start failed (status, 0)."}};
    for (const auto& row : rows) {
        const CoreAudioFailure failure(QStringLiteral("Start"), row.status);
        EXPECT_EQ(failure.description(), QString::fromUtf8(row.text));
        EXPECT_STREQ(failure.what(), row.text);
    }
    const CaptureError error(QStringLiteral("Choose a storage folder first – “Music”."));
    EXPECT_EQ(error.description(), error.message());
    EXPECT_EQ(QString::fromUtf8(error.what()), error.message());
}
