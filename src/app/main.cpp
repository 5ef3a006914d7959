#include "app/app_windows.h"
#include "app/appearance.h"
#include "app/quit_on_signals.h"
#include "app/screenshot_tour.h"
#include "app/vantorel_app.h"
#include "capture/file_panels.h"
#include "discogs/token_store.h"
#include "platform/audio/audio_system.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QIcon>
#include <QMessageBox>
#include <QSettings>
#include <QTemporaryDir>

#include <memory>

using namespace brevalo;

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

    QCommandLineParser arguments;
    arguments.setApplicationDescription(
        QStringLiteral("Monitors an audio interface and captures records to tagged FLAC."));
    arguments.addHelpOption();
    const QCommandLineOption demo(
        QStringLiteral("demo"),
        QStringLiteral("Use the simulated demo hardware (Virtual Turntable) even when an audio "
                       "server is running."));
    const QCommandLineOption screenshots(
        QStringLiteral("screenshots"),
        QStringLiteral("On the demo hardware, run a short album capture, save a picture of each "
                       "window into <folder> and quit."),
        QStringLiteral("folder"));
    arguments.addOptions({demo, screenshots});
    arguments.process(application);
    const bool touring = arguments.isSet(screenshots);

    std::unique_ptr<AudioSystem> audio = createAudioSystem(
        arguments.isSet(demo) || touring ? AudioBackend::simulatedDemo : AudioBackend::automatic);
    if (!audio) {
        QMessageBox::critical(nullptr, QStringLiteral("Brevalo Capture"),
                              QStringLiteral("No audio backend could be started on this machine."));
        return 1;
    }

    VantorelApp::Options options;
    options.audioSystem = std::move(audio);
    options.trayIcon = !touring;
    // The tour's project goes into a library of its own, answered by a picker that asks no one.
    QTemporaryDir tourDirectory;
    if (touring) {
        struct TourPanels : FilePanels
        {
            QString library;
            std::optional<QString> chooseFolder(const FolderRequest&) override { return library; }
            std::optional<QString> chooseImage(const ImageRequest&) override
            {
                return std::nullopt;
            }
        };
        auto panels = std::make_shared<TourPanels>();
        panels->library = ScreenshotTour::libraryFolder(tourDirectory);
        QDir().mkpath(panels->library);
        options.capture.panels = panels;
        options.capture.keychain = std::make_shared<MemoryKeychain>();
        options.settings = new QSettings(tourDirectory.filePath(QStringLiteral("settings.ini")),
                                         QSettings::IniFormat, &application);
    }
    VantorelApp app(std::move(options));
    quitOnTerminationSignals(&app);
    app.showMonitorWindow();
    app.appDelegate().applicationDidFinishLaunching();
    if (touring) {
        auto* tour = new ScreenshotTour(app, arguments.value(screenshots), &app);
        QObject::connect(tour, &ScreenshotTour::finished, &app,
                         [](bool ok) { QCoreApplication::exit(ok ? 0 : 1); });
        tour->start();
    }
    return application.exec();
}
