#pragma once

// The monitor's persistent choices in the user's settings: the input device, the channel pair
// and the mute switch.
//
// Threads: main thread only (QSettings is not shared across threads here).

#include "monitor/audio_channel_pair.h"

#include <QString>

#include <optional>

class QSettings;

namespace brevalo {

class AppPreferences
{
public:
    static constexpr const char* inputDeviceUIDKey = "inputDeviceUID";
    static constexpr const char* leftChannelKey = "leftChannel";
    static constexpr const char* rightChannelKey = "rightChannel";
    static constexpr const char* mutedKey = "muted";

    // The settings must outlive this object. The application passes its default QSettings;
    // tests pass one on a temporary file.
    explicit AppPreferences(QSettings& settings);

    // Empty when the key is absent or holds an empty string.
    std::optional<QString> inputDeviceUID() const;
    // An empty value removes the key.
    void setInputDeviceUID(const std::optional<QString>& uid);

    // "0-1": only when both channel keys are present and hold integers.
    std::optional<QString> channelPairID() const;
    // Saves both channels, or removes both keys for an empty pair.
    void setChannelPair(const std::optional<AudioChannelPair>& pair);

    bool isMuted() const;
    void setMuted(bool muted);

private:
    QSettings& settings_;
};

} // namespace brevalo
