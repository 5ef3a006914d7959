#pragma once

// The audio layer's log: which backend runs and why, and the audio server's own words when a
// step against it fails. Never from a realtime callback.

#include <QLoggingCategory>

namespace brevalo {

Q_DECLARE_LOGGING_CATEGORY(audioLog) // "brevalo.audio"

} // namespace brevalo
