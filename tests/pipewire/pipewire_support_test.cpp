#include "platform/audio/audio_system.h"
#include "platform/audio/pipewire/pipewire_audio_system.h"
#include "platform/audio/pipewire/pipewire_support.h"
#include "platform/audio/pipewire/serial_notifier.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace brevalo {
namespace {

TEST(PipeWireText, SampleFormatNamesGiveBitsAndKind)
{
    EXPECT_EQ(sampleFormatFromName("S16LE").bits, 16u);
    EXPECT_FALSE(sampleFormatFromName("S16").isFloat);
    EXPECT_EQ(sampleFormatFromName("S24").bits, 24u);
    EXPECT_EQ(sampleFormatFromName("s24_32le").bits, 24u);
    EXPECT_EQ(sampleFormatFromName("S32LE").bits, 32u);
    EXPECT_FALSE(sampleFormatFromName("S32LE").isFloat);
    // Unknown or absent: what a client receives from the graph.
    EXPECT_TRUE(sampleFormatFromName("").isFloat);
    EXPECT_EQ(sampleFormatFromName("").bits, 32u);
    EXPECT_TRUE(sampleFormatFromName("F32P").isFloat);
    EXPECT_EQ(sampleFormatFromName("F64LE").bits, 64u);
}

TEST(PipeWireText, HardwareFormatPrefersTheConfiguredFormatThenTheALSAResolution)
{
    EXPECT_EQ(hardwareFormat("S16LE", 24).bits, 16u);
    EXPECT_EQ(hardwareFormat("", 24).bits, 24u);
    EXPECT_FALSE(hardwareFormat("", 24).isFloat);
    EXPECT_EQ(hardwareFormat("", 32).bits, 32u);
    EXPECT_TRUE(hardwareFormat("", 0).isFloat);
    EXPECT_TRUE(hardwareFormat("", 20).isFloat) << "an odd resolution is not a format we know";
}

TEST(PipeWireText, PositionListsInEveryNotation)
{
    const std::vector<std::uint32_t> stereo{SPA_AUDIO_CHANNEL_FL, SPA_AUDIO_CHANNEL_FR};
    EXPECT_EQ(parsePositionList("[ FL FR ]"), stereo);
    EXPECT_EQ(parsePositionList("FL,FR"), stereo);
    EXPECT_EQ(parsePositionList("[FL, FR]"), stereo);
    EXPECT_EQ(parsePositionList("[ AUX0 AUX7 ]"),
              (std::vector<std::uint32_t>{SPA_AUDIO_CHANNEL_AUX0, SPA_AUDIO_CHANNEL_AUX0 + 7}));
    EXPECT_TRUE(parsePositionList("").empty());
    // A name SPA does not know still counts as a channel.
    EXPECT_EQ(parsePositionList("FL BOGUS").size(), 2u);
    EXPECT_EQ(positionName(SPA_AUDIO_CHANNEL_FL, 0), "FL");
    EXPECT_EQ(positionName(SPA_AUDIO_CHANNEL_AUX0 + 3, 3), "AUX3");
    EXPECT_EQ(positionName(SPA_AUDIO_CHANNEL_UNKNOWN, 5), "AUX5");
    EXPECT_EQ(auxPositions(2),
              (std::vector<std::uint32_t>{SPA_AUDIO_CHANNEL_AUX0, SPA_AUDIO_CHANNEL_AUX1}));
}

TEST(PipeWireText, DefaultMetadataNameAndRateLists)
{
    EXPECT_EQ(jsonNameField(R"({"name":"alsa_output.usb-Foo-00.analog-stereo"})"),
              "alsa_output.usb-Foo-00.analog-stereo");
    EXPECT_EQ(jsonNameField(R"({ "name" : "with \"quote\"" })"), R"(with "quote")");
    EXPECT_EQ(jsonNameField(R"({"other":"x"})"), "");
    EXPECT_EQ(jsonNameField(R"({"name":"unterminated)"), "");
    EXPECT_EQ(jsonNameField(""), "");
    EXPECT_EQ(parseNumberList("[ 44100, 48000, 96000 ]"),
              (std::vector<double>{44100.0, 48000.0, 96000.0}));
    EXPECT_EQ(parseNumberList("48000"), std::vector<double>{48000.0});
    EXPECT_TRUE(parseNumberList("[ ]").empty());
}

TEST(PipeWireFormat, ParsesChoicesAsTheirDefaults)
{
    std::array<std::uint8_t, 1024> buffer{};
    spa_pod_builder builder{};
    spa_pod_builder_init(&builder, buffer.data(), static_cast<std::uint32_t>(buffer.size()));
    spa_audio_info_raw raw{};
    raw.format = SPA_AUDIO_FORMAT_S24_32;
    raw.rate = 96000;
    raw.channels = 2;
    raw.position[0] = SPA_AUDIO_CHANNEL_AUX0;
    raw.position[1] = SPA_AUDIO_CHANNEL_AUX1;
    const spa_pod* pod = spa_format_audio_raw_build(&builder, SPA_PARAM_EnumFormat, &raw);
    PipeWireFormatInfo info;
    ASSERT_TRUE(parseRawFormat(pod, info));
    EXPECT_EQ(info.rate, 96000.0);
    EXPECT_EQ(info.channels, 2u);
    EXPECT_EQ(info.format, static_cast<std::uint32_t>(SPA_AUDIO_FORMAT_S24_32));
    EXPECT_EQ(info.positions,
              (std::vector<std::uint32_t>{SPA_AUDIO_CHANNEL_AUX0, SPA_AUDIO_CHANNEL_AUX1}));
    EXPECT_FALSE(parseRawFormat(nullptr, info));
}

TEST(SerialNotifier, RunsTasksInOrderOnOneThreadAndDrains)
{
    std::vector<int> seen;
    std::atomic<std::thread::id> thread{};
    std::optional<SerialNotifier> notifier;
    notifier.emplace();
    for (int i = 0; i < 100; ++i) {
        notifier->post([&, i] {
            seen.push_back(i);
            thread = std::this_thread::get_id();
        });
    }
    notifier->drain();
    ASSERT_EQ(seen.size(), 100u);
    for (int i = 0; i < 100; ++i) {
        EXPECT_EQ(seen[static_cast<std::size_t>(i)], i);
    }
    EXPECT_EQ(thread.load(), notifier->threadID());
    EXPECT_NE(thread.load(), std::this_thread::get_id());
    // Tasks posted before the end still run.
    int late = 0;
    notifier->post([&] { late = 1; });
    notifier.reset();
    EXPECT_EQ(late, 1);
}

// With no server to reach, the automatic choice is the simulated demo hardware and the explicit
// PipeWire choice is refused.
TEST(PipeWireFactory, WithoutAServerTheDemoDevicesRun)
{
    const char* previous = std::getenv("PIPEWIRE_REMOTE");
    const std::string saved = previous != nullptr ? previous : "";
    ::setenv("PIPEWIRE_REMOTE", "brevalo-no-such-server", 1);
    auto automatic = createAudioSystem(AudioBackend::automatic);
    auto explicitPipeWire = createAudioSystem(AudioBackend::pipeWire);
    if (previous != nullptr) {
        ::setenv("PIPEWIRE_REMOTE", saved.c_str(), 1);
    } else {
        ::unsetenv("PIPEWIRE_REMOTE");
    }
    ASSERT_TRUE(automatic);
    EXPECT_EQ(automatic->backendName(), "simulated");
    EXPECT_FALSE(explicitPipeWire);
}

} // namespace
} // namespace brevalo
