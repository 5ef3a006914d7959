#pragma once

// Opens the desktop's sound settings, where a Linux user chooses devices and grants input
// access. There is no common address for that page, so the known settings programs are tried
// first and the desktop's URL handler last.
//
// Threads: main thread.

#include <QObject>
#include <QStringList>
#include <QUrl>

#include <functional>

namespace brevalo {

class DesktopSettings : public QObject
{
    Q_OBJECT
public:
    struct Launcher
    {
        QString program;
        QStringList arguments;
    };

    // The system's ways of doing things, replaceable in tests.
    struct Services
    {
        std::function<QString(const QString& program)> findExecutable; // empty when absent
        std::function<bool(const QString& program, const QStringList& arguments)> startDetached;
        std::function<bool(const QUrl& url)> openUrl;
    };

    // The page the panel's settings buttons open.
    static QUrl soundSettingsUrl() { return QUrl(QStringLiteral("settings://sound")); }
    // Shown when nothing could be opened.
    static const QString unavailableMessage;

    // Null services: QStandardPaths, QProcess and QDesktopServices.
    explicit DesktopSettings(QObject* parent = nullptr);
    DesktopSettings(Services services, QObject* parent = nullptr);

    // The sound settings programs of the common desktops, in the order they are tried.
    static QList<Launcher> soundSettingsLaunchers();

    // True when a program or the URL handler took the request; otherwise emits unavailable.
    bool openSoundSettings();
    // The sound page for soundSettingsUrl(), the URL handler for anything else.
    bool open(const QUrl& url);

signals:
    void unavailable(const QString& message);

private:
    Services services_;
};

} // namespace brevalo
