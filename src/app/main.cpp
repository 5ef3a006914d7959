#include "app/app_windows.h"
#include "app/appearance.h"
#include "app/quit_on_signals.h"
#include "app/vantorel_app.h"
#include "platform/audio/audio_system.h"

#include <QApplication>
#include <QIcon>
#include <QMessageBox>
#include <QTimer>

#include <cstdio>

using namespace brevalo;

namespace {

// BREVALO_SCREENSHOT=<file.png>: save the monitor window once it has been on screen for a
// moment, then quit. BREVALO_SCREENSHOT_MONITORING=1 presses the transport key first. For
// looking at the panel on a machine without a desktop (xvfb-run).
void scheduleScreenshot(VantorelApp& app)
{
    const QString path = qEnvironmentVariable("BREVALO_SCREENSHOT");
    if (path.isEmpty()) {
        return;
    }
    if (qEnvironmentVariableIntValue("BREVALO_SCREENSHOT_MONITORING") == 1) {
        QTimer::singleShot(300, &app, [&app] { app.monitor().toggleMonitoring(); });
    }
    QTimer::singleShot(2500, &app, [&app, path] {
        const bool saved = app.monitorWindow().grab().save(path);
        std::fprintf(saved ? stdout : stderr, "%s %s\n", saved ? "Saved" : "Could not save",
                     qPrintable(path));
        QCoreApplication::exit(saved ? 0 : 1);
    });
}

} // namespace

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Brevalo"));
    QCoreApplication::setApplicationName(QStringLiteral("Brevalo Capture"));
    QGuiApplication::setApplicationDisplayName(QStringLiteral("Brevalo Capture"));
    // Ties the windows to the installed launcher entry (its name without ".desktop") and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("com.brevalo.Capture"));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("com.brevalo.Capture")));
    applyDarkAppearance(application);

    std::unique_ptr<AudioSystem> audio = createAudioSystem(AudioBackend::automatic);
    if (!audio) {
        QMessageBox::critical(nullptr, QStringLiteral("Brevalo Capture"),
                              QStringLiteral("No audio backend could be started on this machine."));
        return 1;
    }

    VantorelApp::Options options;
    options.audioSystem = std::move(audio);
    options.trayIcon = true;
    VantorelApp app(std::move(options));
    quitOnTerminationSignals(&app);
    app.showMonitorWindow();
    app.appDelegate().applicationDidFinishLaunching();
    scheduleScreenshot(app);
    return application.exec();
}
