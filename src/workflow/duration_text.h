#pragma once

#include <QString>

namespace brevalo {

// "HH:MM:SS" or "HH:MM:SS.mmm" for a duration in seconds, as the capture window shows elapsed
// time and side lengths. Hours are not limited to two digits; a negative, infinite or NaN value
// reads as zero.
QString durationText(double seconds, bool milliseconds = false);

} // namespace brevalo
