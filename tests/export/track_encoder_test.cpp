#include "export/track_encoder.h"

#include "export/export_fixtures.h"

namespace brevalo {
namespace {

using namespace brevalo::testing;

// Every refusal returns null; the sanitizer build proves that nothing made before it leaks.
TEST(TrackEncoderTest, CreateRefusesBadSettingsAndReleasesWhatItMade)
{
    QTemporaryDir folder;
    const QByteArray path = QFile::encodeName(folder.filePath("t.flac"));
    const QByteArray png = pngBytes(2, 2);
    const char* good[] = {"TITLE=A", "ARTIST=B"};
    const char* withNull[] = {"TITLE=A", nullptr};
    const struct
    {
        const char* name;
        QByteArray path;
        std::uint32_t rate, bits;
        const char* const* comments;
    } cases[] = {
        {"folder missing", QFile::encodeName(folder.filePath("no/t.flac")), 44100, 16, good},
        {"bits per sample beyond 32", path, 44100, 33, good},
        {"zero sample rate", path, 0, 24, good},
        {"missing comment", path, 44100, 16, withNull},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(track_encoder_create(c.path.constData(), c.rate, c.bits, 10, c.comments, 2,
                                       reinterpret_cast<const std::uint8_t*>(png.constData()),
                                       std::uint32_t(png.size()), 2, 2),
                  nullptr);
    }
    track_encoder_destroy(nullptr);
}

} // namespace
} // namespace brevalo
