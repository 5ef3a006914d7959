#include "monitor/display_format.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string>

namespace brevalo {

QString AudioDeviceFormat::displayText() const
{
    return QString::number(bitDepth) +
           (isFloatingPoint ? QStringLiteral("-bit float") : QStringLiteral("-bit"));
}

size_t qHash(const AudioDeviceFormat& format, size_t seed)
{
    return qHashMulti(seed, format.bitDepth, format.isFloatingPoint);
}

namespace {
size_t hashFormat(const std::optional<AudioDeviceFormat>& format, size_t seed)
{
    return format ? qHash(*format, seed) : qHashMulti(seed, -1);
}
} // namespace

size_t qHash(const AudioInputDevice& device, size_t seed)
{
    seed = qHashMulti(seed, device.id, device.uid, device.name, device.nominalSampleRate,
                      device.bufferFrameSize, device.isAlive);
    seed = qHashRange(device.channelNames.begin(), device.channelNames.end(), seed);
    seed = qHashRange(device.channelPairs.begin(), device.channelPairs.end(), seed);
    return hashFormat(device.physicalFormat, seed);
}

size_t qHash(const AudioOutputDevice& device, size_t seed)
{
    seed = qHashMulti(seed, device.id, device.uid, device.name, device.nominalSampleRate,
                      device.bufferFrameSize, device.isAlive);
    return hashFormat(device.physicalFormat, seed);
}

QString formatDecimal(int digits, double value)
{
    if (!std::isfinite(value)) {
        return QStringLiteral("\u2014");
    }
    // to_chars is specified as printf in the C locale, whatever locale the process runs in
    // (QCoreApplication adopts the user's). Beyond 1100 fraction digits every double only adds
    // zeros (the smallest subnormal has 1074), so those are appended instead of converted.
    constexpr int exactDigits = 1100;
    const int precision = std::clamp(digits, 0, exactDigits);
    // Integer part of the largest double: 309 digits, plus sign, point and the fraction.
    std::string text(static_cast<std::size_t>(320 + precision), '\0');
    const auto result = std::to_chars(text.data(), text.data() + text.size(), value,
                                      std::chars_format::fixed, precision);
    text.resize(static_cast<std::size_t>(result.ptr - text.data()));
    if (digits > exactDigits) {
        text.append(static_cast<std::size_t>(digits - exactDigits), '0');
    }
    return QString::fromLatin1(text);
}

std::optional<QString> formatRateLabel(const std::optional<AudioDeviceFormat>& format, double rate)
{
    if (!std::isfinite(rate) || rate <= 0.0) {
        return std::nullopt;
    }
    QString label = formatDecimal(1, rate / 1000.0) + QStringLiteral(" kHz");
    if (format) {
        label += QStringLiteral(" / ") + format->displayText();
    }
    return label;
}

QString pairLabel(const AudioChannelPair& pair)
{
    return QStringLiteral("Inputs ") + QString::number(qint64{pair.leftChannel} + 1) +
           QStringLiteral(" / ") + QString::number(qint64{pair.rightChannel} + 1);
}

} // namespace brevalo
