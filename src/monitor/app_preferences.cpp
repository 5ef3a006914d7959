#include "monitor/app_preferences.h"

#include <QSettings>

namespace brevalo {

AppPreferences::AppPreferences(QSettings& settings) : settings_(settings) {}

std::optional<QString> AppPreferences::inputDeviceUID() const
{
    const QString uid = settings_.value(QLatin1String(inputDeviceUIDKey)).toString();
    if (uid.isEmpty()) {
        return std::nullopt;
    }
    return uid;
}

void AppPreferences::setInputDeviceUID(const std::optional<QString>& uid)
{
    if (uid.has_value() && !uid->isEmpty()) {
        settings_.setValue(QLatin1String(inputDeviceUIDKey), *uid);
    } else {
        settings_.remove(QLatin1String(inputDeviceUIDKey));
    }
    settings_.sync();
}

std::optional<QString> AppPreferences::channelPairID() const
{
    const QVariant left = settings_.value(QLatin1String(leftChannelKey));
    const QVariant right = settings_.value(QLatin1String(rightChannelKey));
    if (!left.isValid() || !right.isValid()) {
        return std::nullopt;
    }
    bool leftOK = false;
    bool rightOK = false;
    const int leftChannel = left.toInt(&leftOK);
    const int rightChannel = right.toInt(&rightOK);
    if (!leftOK || !rightOK) {
        return std::nullopt;
    }
    return QString::number(leftChannel) + QLatin1Char('-') + QString::number(rightChannel);
}

void AppPreferences::setChannelPair(const std::optional<AudioChannelPair>& pair)
{
    if (pair.has_value()) {
        settings_.setValue(QLatin1String(leftChannelKey), pair->leftChannel);
        settings_.setValue(QLatin1String(rightChannelKey), pair->rightChannel);
    } else {
        settings_.remove(QLatin1String(leftChannelKey));
        settings_.remove(QLatin1String(rightChannelKey));
    }
    settings_.sync();
}

bool AppPreferences::isMuted() const
{
    return settings_.value(QLatin1String(mutedKey), false).toBool();
}

void AppPreferences::setMuted(bool muted)
{
    settings_.setValue(QLatin1String(mutedKey), muted);
    settings_.sync();
}

} // namespace brevalo
