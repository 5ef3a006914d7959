#include "workflow/duration_text.h"

#include <cmath>
#include <cstdint>

namespace brevalo {

QString durationText(double seconds, bool milliseconds)
{
    std::int64_t whole = 0;
    std::int64_t fraction = 0;
    if (std::isfinite(seconds) && seconds >= 0) {
        if (milliseconds) {
            const auto total = static_cast<std::int64_t>(std::llround(seconds * 1000.0));
            whole = total / 1000;
            fraction = total % 1000;
        } else {
            whole = static_cast<std::int64_t>(seconds);
        }
    }
    QString text = QString::asprintf("%02lld:%02lld:%02lld", static_cast<long long>(whole / 3600),
                                     static_cast<long long>((whole / 60) % 60),
                                     static_cast<long long>(whole % 60));
    if (milliseconds) {
        text += QString::asprintf(".%03lld", static_cast<long long>(fraction));
    }
    return text;
}

} // namespace brevalo
