#pragma once

// Simulated hardware in manual time for the capture desk and the application shell: the
// controllers' scheduler drives virtual time, the simulated devices follow it, and device
// notifications are delivered on demand; and small helpers for widget tests.

#include "capture/qt_printers.h"
#include "monitor/monitor_view_model.h"
#include "platform/audio/simulated/simulated_audio_system.h"

#include <QCoreApplication>
#include <QDir>
#include <QMenu>
#include <QSettings>
#include <QString>
#include <QTemporaryDir>
#include <QWidget>

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <vector>

namespace brevalo {

namespace testing_support {

using namespace std::chrono_literals;

// Hardware, settings and virtual time; tests create the controller (or the whole application,
// handed the hardware) on top.
class SimulatedDesk
{
public:
    SimulatedDesk()
        : settings(directory.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat)
    {
        scheduler.setTimeObserver([this](std::chrono::nanoseconds step) { sim().advance(step); });
    }

    // After the derived desk's controllers are gone.
    virtual ~SimulatedDesk()
    {
        if (ownedHardware_) {
            ownedHardware_->drainNotifications();
        }
    }

    SimulatedAudioSystem& sim() const { return *hardware_; }
    // For the application, which owns its audio system; sim() still reaches it.
    std::unique_ptr<SimulatedAudioSystem> releaseHardware() { return std::move(ownedHardware_); }

    MonitorViewModelOptions controllerOptions()
    {
        MonitorViewModelOptions options;
        options.scheduler = &scheduler;
        // The fade-out wait runs the simulated devices instead of sleeping.
        options.fadeOutSleep = [this](std::chrono::nanoseconds d) { sim().advance(d); };
        options.openUrl = [this](const QUrl& url) {
            openedUrls.push_back(url);
            return true;
        };
        return options;
    }

    // Hands every notification posted so far to the main thread and runs what it queued there.
    void deliver()
    {
        for (int round = 0; round < 3; ++round) {
            sim().drainNotifications();
            QCoreApplication::sendPostedEvents();
        }
    }

    // Lets virtual time pass after delivering what is pending.
    void wait(std::chrono::nanoseconds duration)
    {
        deliver();
        scheduler.advance(duration);
        deliver();
    }

    QTemporaryDir directory;
    QSettings settings;
    ManualMainThreadScheduler scheduler;
    std::vector<QUrl> openedUrls;

private:
    std::unique_ptr<SimulatedAudioSystem> ownedHardware_ =
        std::make_unique<SimulatedAudioSystem>(SimTimeMode::manual);
    SimulatedAudioSystem* hardware_ = ownedHardware_.get();
};

// The texts of a menu's actions; checked, when given, collects those of the checked ones.
inline QStringList actionTexts(const QMenu* menu, QStringList* checked = nullptr)
{
    QStringList texts;
    for (const QAction* action : menu->actions()) {
        texts << action->text();
        if (checked && action->isChecked()) {
            *checked << action->text();
        }
    }
    return texts;
}

// The descendant of root with that object name; a test failure when there is none.
template <typename T = QWidget> T* child(const QWidget& root, const char* name)
{
    T* widget = root.findChild<T*>(QLatin1String(name));
    EXPECT_NE(widget, nullptr) << name;
    return widget;
}

// Saves a render of a widget for a person to look at; the test run leaves them in the build
// folder's renders directory.
inline void saveRender(QWidget& widget, const QString& name)
{
#ifdef BREVALO_RENDER_DIR
    const QString folder = QStringLiteral(BREVALO_RENDER_DIR);
    QDir().mkpath(folder);
    const QString path = folder + QLatin1Char('/') + name + QStringLiteral(".png");
    EXPECT_TRUE(widget.grab().save(path)) << path.toStdString();
#else
    (void)widget;
    (void)name;
#endif
}

} // namespace testing_support
} // namespace brevalo
