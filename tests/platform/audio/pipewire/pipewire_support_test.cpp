#include "platform/audio/audio_system.h"
#include "platform/audio/pipewire/pipewire_audio_system.h"
#include "platform/audio/pipewire/pipewire_support.h"

#include <QLoggingCategory>
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <string>
#include <vector>

namespace brevalo {
namespace {

TEST(PipeWireText, SampleFormatsFromNamesAndALSAResolutions)
{
    struct Row
    {
        const char* name;
        std::uint32_t resolutionBits;
        std::uint32_t bits;
        bool isFloat;
    };
    // Unknown, absent or odd: the graph's float, which is what a client receives.
    const Row rows[] = {
        {"S16LE", 24, 16, false}, {"S24", 0, 24, false}, {"s24_32le", 0, 24, false},
        {"S32LE", 0, 32, false},  {"F32P", 0, 32, true}, {"F64LE", 0, 64, true},
        {"", 0, 32, true},        {"", 24, 24, false},   {"", 32, 32, false},
        {"", 20, 32, true},
    };
    for (const auto& row : rows) {
        const auto format = hardwareFormat(row.name, row.resolutionBits);
        EXPECT_EQ(format.bits, row.bits) << row.name << "/" << row.resolutionBits;
        EXPECT_EQ(format.isFloat, row.isFloat) << row.name << "/" << row.resolutionBits;
    }
}

TEST(PipeWireText, PositionListsInEveryNotation)
{
    using Positions = std::vector<std::uint32_t>;
    const Positions stereo{SPA_AUDIO_CHANNEL_FL, SPA_AUDIO_CHANNEL_FR};
    const std::pair<const char*, Positions> rows[] = {
        {"[ FL FR ]", stereo},
        {"FL,FR", stereo},
        {"[FL, FR]", stereo},
        {"[ AUX0 AUX7 ]", {SPA_AUDIO_CHANNEL_AUX0, SPA_AUDIO_CHANNEL_AUX0 + 7}},
        {"", {}},
        // A name SPA does not know still counts as a channel, as the AUX of its index.
        {"FL BOGUS", {SPA_AUDIO_CHANNEL_FL, SPA_AUDIO_CHANNEL_AUX1}},
    };
    for (const auto& [text, positions] : rows) {
        EXPECT_EQ(parsePositionList(text), positions) << text;
    }
    EXPECT_EQ(positionName(SPA_AUDIO_CHANNEL_AUX0 + 3, 3), "AUX3");
    EXPECT_EQ(positionName(SPA_AUDIO_CHANNEL_UNKNOWN, 5), "AUX5");
    EXPECT_EQ(auxPositions(2), (Positions{SPA_AUDIO_CHANNEL_AUX0, SPA_AUDIO_CHANNEL_AUX1}));
}

TEST(PipeWireText, DefaultMetadataNameAndRateLists)
{
    const std::pair<const char*, const char*> names[] = {
        {R"({"name":"alsa_output.usb-Foo-00.analog-stereo"})",
         "alsa_output.usb-Foo-00.analog-stereo"},
        {R"({ "name" : "with \"quote\"" })", R"(with "quote")"},
        {R"({"other":"x"})", ""},
        {R"({"name":"unterminated)", ""},
        {"", ""},
    };
    for (const auto& [json, name] : names) {
        EXPECT_EQ(jsonNameField(json), name) << json;
    }
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

TEST(PipeWireReconnect, FirstAttemptAtOnceThenDoublingUpToTwoSeconds)
{
    const std::pair<unsigned, long> rows[] = {{0, 0},    {1, 250},  {2, 500},   {3, 1000},
                                              {4, 2000}, {5, 2000}, {40, 2000}, {~0u, 2000}};
    for (const auto& [failed, milliseconds] : rows) {
        EXPECT_EQ(pipeWireReconnectDelay(failed).count(), milliseconds) << failed;
    }
}

std::vector<std::string>* audioLogLines = nullptr;

void keepAudioLog(QtMsgType, const QMessageLogContext& context, const QString& text)
{
    if (audioLogLines != nullptr && context.category == std::string("brevalo.audio")) {
        audioLogLines->push_back(text.toStdString());
    }
}

// With no server to reach, the automatic choice is the simulated demo hardware and the explicit
// PipeWire choice is refused; each says so once, with the reason.
TEST(PipeWireFactory, WithoutAServerTheDemoDevicesRun)
{
    std::vector<std::string> lines;
    audioLogLines = &lines;
    const auto previousHandler = qInstallMessageHandler(keepAudioLog);
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
    qInstallMessageHandler(previousHandler);
    audioLogLines = nullptr;
    ASSERT_TRUE(automatic);
    EXPECT_EQ(automatic->backendName(), "simulated");
    EXPECT_FALSE(explicitPipeWire);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].rfind("Audio backend: simulated demo devices, because cannot connect", 0),
              0u)
        << lines[0];
    EXPECT_NE(lines[1].find("PipeWire was requested but cannot connect"), std::string::npos)
        << lines[1];
}

} // namespace
} // namespace brevalo
