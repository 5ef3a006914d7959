#include "platform/audio/audio_log.h"

namespace brevalo {

Q_LOGGING_CATEGORY(audioLog, "brevalo.audio")

} // namespace brevalo
