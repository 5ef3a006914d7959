#pragma once

// Drives the real application on the demo hardware through a short album capture and saves a
// picture of each window on the way: the monitor window while monitoring, then the capture
// window with a recorded side, its waveform and two track boundaries. scripts/screenshots.sh runs
// it under a virtual display to refresh the README's pictures.
//
// Threads: main thread; every step waits on the event loop, never blocks it.

#include <QObject>
#include <QString>
#include <QTemporaryDir>

#include <chrono>
#include <functional>

namespace brevalo {

class VantorelApp;

class ScreenshotTour : public QObject
{
    Q_OBJECT
public:
    // The library folder of the demo project; hand it to the application's folder picker.
    static QString libraryFolder(const QTemporaryDir& directory);

    // Pictures go into outputDirectory (created when missing).
    ScreenshotTour(VantorelApp& app, QString outputDirectory, QObject* parent = nullptr);

    void start();

signals:
    // ok: both pictures were saved. Emitted once.
    void finished(bool ok);

private:
    // Runs next once condition holds, checking every 50 ms; fails the tour after timeout.
    void when(std::function<bool()> condition, std::chrono::milliseconds timeout,
              std::function<void()> next, const char* what);
    void after(std::chrono::milliseconds delay, std::function<void()> next);
    bool save(QWidget* window, const QString& name);
    void fail(const QString& why);

    void startMonitoring();
    void createProject();
    void recordSide();
    void placeBoundaries();

    VantorelApp& app_;
    QString outputDirectory_;
    bool done_ = false;
};

} // namespace brevalo
