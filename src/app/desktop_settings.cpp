#include "app/desktop_settings.h"

#include <QDesktopServices>
#include <QProcess>
#include <QStandardPaths>

namespace brevalo {

const QString DesktopSettings::unavailableMessage = QStringLiteral(
    "No sound settings program was found. Open your desktop's sound settings to choose devices "
    "and allow audio input.");

DesktopSettings::DesktopSettings(QObject* parent) : DesktopSettings(Services{}, parent) {}

DesktopSettings::DesktopSettings(Services services, QObject* parent)
    : QObject(parent), services_(std::move(services))
{
    if (!services_.findExecutable) {
        services_.findExecutable = [](const QString& program) {
            return QStandardPaths::findExecutable(program);
        };
    }
    if (!services_.startDetached) {
        services_.startDetached = [](const QString& program, const QStringList& arguments) {
            return QProcess::startDetached(program, arguments);
        };
    }
    if (!services_.openUrl) {
        services_.openUrl = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
    }
}

QList<DesktopSettings::Launcher> DesktopSettings::soundSettingsLaunchers()
{
    return {
        {QStringLiteral("gnome-control-center"), {QStringLiteral("sound")}},
        {QStringLiteral("systemsettings"), {QStringLiteral("kcm_pulseaudio")}},
        {QStringLiteral("systemsettings5"), {QStringLiteral("kcm_pulseaudio")}},
        {QStringLiteral("kcmshell6"), {QStringLiteral("kcm_pulseaudio")}},
        {QStringLiteral("kcmshell5"), {QStringLiteral("kcm_pulseaudio")}},
        {QStringLiteral("cinnamon-settings"), {QStringLiteral("sound")}},
        {QStringLiteral("mate-volume-control"), {}},
        {QStringLiteral("pavucontrol-qt"), {}},
        {QStringLiteral("pavucontrol"), {}},
        {QStringLiteral("helvum"), {}},
    };
}

bool DesktopSettings::openSoundSettings()
{
    for (const Launcher& launcher : soundSettingsLaunchers()) {
        const QString path = services_.findExecutable(launcher.program);
        if (!path.isEmpty() && services_.startDetached(path, launcher.arguments)) {
            return true;
        }
    }
    if (services_.openUrl(soundSettingsUrl())) {
        return true;
    }
    emit unavailable(unavailableMessage);
    return false;
}

bool DesktopSettings::open(const QUrl& url)
{
    if (url == soundSettingsUrl()) {
        return openSoundSettings();
    }
    if (services_.openUrl(url)) {
        return true;
    }
    emit unavailable(unavailableMessage);
    return false;
}

} // namespace brevalo
