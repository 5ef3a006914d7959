#pragma once

#include <QHashFunctions>
#include <QString>

#include <cstdint>

namespace brevalo {

// One selectable stereo pair of an input device. Channels are 0-based indexes among the device's
// input channels, the values the I/O unit's channel map takes.
struct AudioChannelPair
{
    std::int32_t leftChannel = 0;
    std::int32_t rightChannel = 1;
    QString leftName;
    QString rightName;

    // "0-1", "2-3": how the controller stores the selection, independent of the display names
    // (which a device may rename).
    QString identity() const
    {
        return QString::number(leftChannel) + QLatin1Char('-') + QString::number(rightChannel);
    }

    bool operator==(const AudioChannelPair&) const = default;
};

inline size_t qHash(const AudioChannelPair& pair, size_t seed = 0)
{
    return qHashMulti(seed, pair.leftChannel, pair.rightChannel, pair.leftName, pair.rightName);
}

} // namespace brevalo
