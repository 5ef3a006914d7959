#pragma once

// Texts the controller and the views show for numbers, rates and channel pairs. They never
// depend on the user's locale: the panel is laid out for a decimal point.

#include "monitor/audio_channel_pair.h"
#include "monitor/audio_devices.h"

#include <QString>

#include <optional>

namespace brevalo {

// value with exactly digits fraction digits ("%.1f" in the POSIX locale); a negative digit
// count counts as 0; "—" for infinities and NaN.
QString formatDecimal(int digits, double value);

// "48.0 kHz / 24-bit", or "44.1 kHz" without a format; nothing unless rate (Hz) is finite and
// above zero.
std::optional<QString> formatRateLabel(const std::optional<AudioDeviceFormat>& format, double rate);

// "Inputs 1 / 2": channels counted from 1, as printed on the interface.
QString pairLabel(const AudioChannelPair& pair);

} // namespace brevalo
