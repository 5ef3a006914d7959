#include "export/track_encoder.h"

#include "export/export_fixtures.h"

#include <QTemporaryDir>

namespace brevalo {
namespace {

using namespace brevalo::testing;

// Every refusal returns null; the sanitizer build proves that nothing created before it leaks.
TEST(TrackEncoderTest, CreateRefusesBadSettingsAndReleasesWhatItMade)
{
    QTemporaryDir folder;
    const QByteArray path = QFile::encodeName(folder.filePath(QStringLiteral("t.flac")));
    const QByteArray png = pngBytes(2, 2);
    const auto* cover = reinterpret_cast<const std::uint8_t*>(png.constData());
    const char* good[] = {"TITLE=A", "ARTIST=B"};
    const char* withNull[] = {"TITLE=A", nullptr};
    const struct
    {
        const char* name;
        QByteArray path;
        std::uint32_t rate, bits;
        const char* const* comments;
    } cases[] = {
        {"folder missing", QFile::encodeName(folder.filePath(QStringLiteral("no/t.flac"))), 44100,
         16, good},
        {"bits per sample beyond 32", path, 44100, 33, good},
        {"zero sample rate", path, 0, 24, good},
        {"missing comment", path, 44100, 16, withNull},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(track_encoder_create(c.path.constData(), c.rate, c.bits, 10, c.comments, 2, cover,
                                       static_cast<std::uint32_t>(png.size()), 2, 2),
                  nullptr);
    }
    track_encoder_destroy(nullptr);
}

TEST(TrackEncoderTest, VerifyRefusesSamplesWiderThanTheStream)
{
    QTemporaryDir folder;
    const QByteArray path = QFile::encodeName(folder.filePath(QStringLiteral("t.flac")));
    TrackEncoder* encoder =
        track_encoder_create(path.constData(), 48000, 16, 4096, nullptr, 0, nullptr, 0, 0, 0);
    ASSERT_NE(encoder, nullptr);
    std::vector<std::int32_t> samples(8192, 1 << 20);
    const bool accepted =
        track_encoder_process(encoder, samples.data(), 4096) && track_encoder_finish(encoder);
    EXPECT_FALSE(accepted);
    track_encoder_destroy(encoder);
}

} // namespace
} // namespace brevalo
