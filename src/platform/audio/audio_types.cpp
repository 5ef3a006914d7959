#include "platform/audio/audio_types.h"

namespace brevalo {

namespace {
StreamFormat planar(double rate, std::uint32_t channels, std::uint32_t flags)
{
    StreamFormat f;
    f.sampleRate = rate;
    f.formatID = formatLinearPCM;
    f.formatFlags = flags | formatFlagIsPacked | formatFlagIsNonInterleaved;
    f.bytesPerPacket = 4;
    f.framesPerPacket = 1;
    f.bytesPerFrame = 4;
    f.channelsPerFrame = channels;
    f.bitsPerChannel = 32;
    return f;
}
} // namespace

StreamFormat StreamFormat::float32Planar(double rate, std::uint32_t channels)
{
    return planar(rate, channels, formatFlagIsFloat);
}

StreamFormat StreamFormat::int32Planar(double rate, std::uint32_t channels)
{
    return planar(rate, channels, formatFlagIsSignedInteger);
}

StreamFormat StreamFormat::physicalInteger(double rate, std::uint32_t channels, std::uint32_t bits)
{
    StreamFormat f;
    f.sampleRate = rate;
    f.formatFlags = formatFlagIsSignedInteger | formatFlagIsPacked;
    const std::uint32_t bytes = (bits + 7) / 8;
    f.bytesPerFrame = bytes * channels;
    f.bytesPerPacket = f.bytesPerFrame;
    f.framesPerPacket = 1;
    f.channelsPerFrame = channels;
    f.bitsPerChannel = bits;
    return f;
}

StreamFormat StreamFormat::physicalFloat(double rate, std::uint32_t channels)
{
    StreamFormat f;
    f.sampleRate = rate;
    f.formatFlags = formatFlagIsFloat | formatFlagIsPacked;
    f.bytesPerFrame = 4 * channels;
    f.bytesPerPacket = f.bytesPerFrame;
    f.framesPerPacket = 1;
    f.channelsPerFrame = channels;
    f.bitsPerChannel = 32;
    return f;
}

std::string fourCharText(std::uint32_t code)
{
    std::string text;
    for (int shift = 24; shift >= 0; shift -= 8) {
        const auto byte = static_cast<char>((code >> shift) & 0xFFu);
        text.push_back(byte >= 32 && byte <= 126 ? byte : '?');
    }
    return text;
}

} // namespace brevalo
