#include "platform/audio/pipewire/pipewire_support.h"

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpedantic"
#pragma GCC diagnostic ignored "-Wconversion"
#pragma GCC diagnostic ignored "-Wshadow"
#include <spa/debug/types.h>
#include <spa/param/audio/type-info.h>
#pragma GCC diagnostic pop

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace brevalo {

void ensurePipeWireInitialized()
{
    static std::once_flag once;
    std::call_once(once, [] { pw_init(nullptr, nullptr); });
}

const char* dictValue(const spa_dict* dict, const char* key, const char* fallback)
{
    const char* value = dict != nullptr ? spa_dict_lookup(dict, key) : nullptr;
    return value != nullptr ? value : fallback;
}

PipeWireSampleFormat sampleFormatFromName(const std::string& name)
{
    std::string n;
    for (const char c : name) {
        n.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
    }
    const auto starts = [&](const char* prefix) { return n.rfind(prefix, 0) == 0; };
    if (starts("S16")) {
        return {16, false};
    }
    if (starts("S24")) { // S24, S24LE (packed 3 bytes) and S24_32 (in 4 bytes) carry 24 bits
        return {24, false};
    }
    if (starts("S32")) {
        return {32, false};
    }
    if (starts("F64")) {
        return {64, true};
    }
    return {32, true};
}

PipeWireSampleFormat hardwareFormat(const std::string& audioFormat, std::uint32_t resolutionBits)
{
    if (!audioFormat.empty()) {
        return sampleFormatFromName(audioFormat);
    }
    if (resolutionBits == 16 || resolutionBits == 24 || resolutionBits == 32) {
        return {resolutionBits, false};
    }
    return {};
}

namespace {

std::uint32_t positionFromName(const std::string& token, std::uint32_t index)
{
    const auto* info = spa_debug_type_find_short(spa_type_audio_channel, token.c_str());
    if (info != nullptr && info->type != SPA_AUDIO_CHANNEL_UNKNOWN) {
        return info->type;
    }
    return SPA_AUDIO_CHANNEL_AUX0 + index;
}

} // namespace

std::vector<std::uint32_t> parsePositionList(const std::string& text)
{
    std::vector<std::uint32_t> positions;
    std::string token;
    const auto flush = [&] {
        if (!token.empty()) {
            positions.push_back(
                positionFromName(token, static_cast<std::uint32_t>(positions.size())));
            token.clear();
        }
    };
    for (const char c : text) {
        if (std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_') {
            token.push_back(c);
        } else {
            flush();
        }
    }
    flush();
    return positions;
}

std::vector<std::uint32_t> auxPositions(std::uint32_t channels)
{
    std::vector<std::uint32_t> positions(channels);
    for (std::uint32_t i = 0; i < channels; ++i) {
        positions[i] = SPA_AUDIO_CHANNEL_AUX0 + i;
    }
    return positions;
}

std::string positionName(std::uint32_t position, std::uint32_t index)
{
    const char* name = spa_debug_type_find_short_name(spa_type_audio_channel, position);
    if (name == nullptr || std::strcmp(name, "UNK") == 0) {
        return "AUX" + std::to_string(index);
    }
    return name;
}

std::string jsonNameField(const std::string& json)
{
    const auto key = json.find("\"name\"");
    if (key == std::string::npos) {
        return {};
    }
    auto i = json.find(':', key + 6);
    if (i == std::string::npos) {
        return {};
    }
    i = json.find('"', i + 1);
    if (i == std::string::npos) {
        return {};
    }
    std::string value;
    for (++i; i < json.size(); ++i) {
        const char c = json[i];
        if (c == '"') {
            return value;
        }
        if (c == '\\' && i + 1 < json.size()) {
            ++i;
        }
        value.push_back(json[i]);
    }
    return {}; // unterminated
}

std::vector<double> parseNumberList(const std::string& text)
{
    std::vector<double> numbers;
    const char* p = text.c_str();
    while (*p != '\0') {
        if (std::isdigit(static_cast<unsigned char>(*p)) != 0) {
            char* end = nullptr;
            numbers.push_back(std::strtod(p, &end));
            p = end;
        } else {
            ++p;
        }
    }
    return numbers;
}

bool parseRawFormat(const spa_pod* param, PipeWireFormatInfo& info)
{
    if (param == nullptr || !spa_pod_is_object(param)) {
        return false;
    }
    const auto* object = reinterpret_cast<const spa_pod_object*>(param);
    bool audio = false;
    bool raw = false;
    for (const spa_pod_prop* prop = spa_pod_prop_first(&object->body);
         spa_pod_prop_is_inside(&object->body, object->pod.size, prop);
         prop = spa_pod_prop_next(prop)) {
        std::uint32_t count = 0;
        std::uint32_t choice = 0;
        const spa_pod* value = spa_pod_get_values(&prop->value, &count, &choice);
        if (value == nullptr || count == 0) {
            continue;
        }
        switch (prop->key) {
        case SPA_FORMAT_mediaType: {
            std::uint32_t id = 0;
            audio = spa_pod_get_id(value, &id) == 0 && id == SPA_MEDIA_TYPE_audio;
            break;
        }
        case SPA_FORMAT_mediaSubtype: {
            std::uint32_t id = 0;
            raw = spa_pod_get_id(value, &id) == 0 && id == SPA_MEDIA_SUBTYPE_raw;
            break;
        }
        case SPA_FORMAT_AUDIO_format:
            spa_pod_get_id(value, &info.format);
            break;
        case SPA_FORMAT_AUDIO_rate: {
            std::int32_t rate = 0;
            if (spa_pod_get_int(value, &rate) == 0 && rate > 0) {
                info.rate = rate;
            }
            break;
        }
        case SPA_FORMAT_AUDIO_channels: {
            std::int32_t channels = 0;
            if (spa_pod_get_int(value, &channels) == 0 && channels > 0) {
                info.channels = static_cast<std::uint32_t>(channels);
            }
            break;
        }
        case SPA_FORMAT_AUDIO_position: {
            std::uint32_t positions[SPA_AUDIO_MAX_CHANNELS];
            const auto n =
                spa_pod_copy_array(&prop->value, SPA_TYPE_Id, positions, SPA_AUDIO_MAX_CHANNELS);
            info.positions.assign(positions, positions + n);
            break;
        }
        default:
            break;
        }
    }
    return audio && raw;
}

std::chrono::milliseconds pipeWireReconnectDelay(unsigned failedAttempts)
{
    constexpr std::chrono::milliseconds first{250};
    constexpr std::chrono::milliseconds longest{2000};
    if (failedAttempts == 0) {
        return std::chrono::milliseconds(0);
    }
    // 250 ms · 2^4 passes the cap already, so the shift never overflows.
    const unsigned doublings = std::min(failedAttempts - 1, 4u);
    return std::min(first * (1 << doublings), longest);
}

} // namespace brevalo
