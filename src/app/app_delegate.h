#pragma once

// Receives the application's window and lifecycle events: keeps every window's full-screen and
// zoom behaviour in line with its role, keeps the application running when its last window
// closes, and runs the termination hook once when the application quits.
//
// Threads: main thread.

#include <QObject>

#include <functional>

namespace brevalo {

class AppDelegate : public QObject
{
    Q_OBJECT
public:
    explicit AppDelegate(QObject* parent = nullptr);
    ~AppDelegate() override;

    // Run at quit; empty until the monitor window first appears.
    std::function<void()> onTerminate;

    // Starts watching window activations and state changes and applies the window policy to
    // every top-level window that already exists.
    void applicationDidFinishLaunching();
    // Closing both windows leaves the application running.
    static bool applicationShouldTerminateAfterLastWindowClosed() { return false; }
    // Stops watching windows, then runs onTerminate (once, however often quit is reported).
    void applicationWillTerminate();

    bool isWatchingWindows() const { return isWatching_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool isWatching_ = false;
    bool hasTerminated_ = false;
};

} // namespace brevalo
