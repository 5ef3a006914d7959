#include "app/screenshot_tour.h"

#include "app/app_windows.h"
#include "app/vantorel_app.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <memory>

namespace brevalo {

using namespace std::chrono_literals;

QString ScreenshotTour::libraryFolder(const QTemporaryDir& directory)
{
    return directory.filePath(QStringLiteral("Library"));
}

ScreenshotTour::ScreenshotTour(VantorelApp& app, QString outputDirectory, QObject* parent)
    : QObject(parent), app_(app), outputDirectory_(std::move(outputDirectory))
{}

void ScreenshotTour::start()
{
    if (!QDir().mkpath(outputDirectory_)) {
        fail(QStringLiteral("cannot create ") + outputDirectory_);
        return;
    }
    startMonitoring();
}

void ScreenshotTour::when(std::function<bool()> condition, std::chrono::milliseconds timeout,
                          std::function<void()> next, const char* what)
{
    auto deadline = std::make_shared<QDeadlineTimer>(timeout);
    auto poll = std::make_shared<std::function<void()>>();
    *poll = [this, condition = std::move(condition), next = std::move(next), deadline, what,
             weak = std::weak_ptr<std::function<void()>>(poll)] {
        if (done_) {
            return;
        }
        if (condition()) {
            next();
        } else if (deadline->hasExpired()) {
            fail(QStringLiteral("timed out waiting for ") + QString::fromUtf8(what));
        } else if (auto again = weak.lock()) {
            QTimer::singleShot(50ms, this, [again] { (*again)(); });
        }
    };
    // The pending timer holds the only strong reference between checks.
    QTimer::singleShot(0ms, this, [poll] { (*poll)(); });
}

void ScreenshotTour::after(std::chrono::milliseconds delay, std::function<void()> next)
{
    QTimer::singleShot(delay, this, [this, next = std::move(next)] {
        if (!done_) {
            next();
        }
    });
}

bool ScreenshotTour::save(QWidget* window, const QString& name)
{
    const QString path = QDir(outputDirectory_).filePath(name);
    if (!window->grab().save(path)) {
        fail(QStringLiteral("could not save ") + path);
        return false;
    }
    std::printf("Saved %s\n", qPrintable(path));
    return true;
}

void ScreenshotTour::fail(const QString& why)
{
    if (done_) {
        return;
    }
    done_ = true;
    std::fprintf(stderr, "screenshots: %s\n", qPrintable(why));
    emit finished(false);
}

void ScreenshotTour::startMonitoring()
{
    MonitorViewModel& monitor = app_.monitor();
    monitor.startMonitoring();
    when([&monitor] { return monitor.isActive(); }, 10s,
         [this] {
             // Let the meters and the drift readout settle before the picture.
             after(2500ms, [this] {
                 if (save(&app_.monitorWindow(), QStringLiteral("monitor-window.png"))) {
                     createProject();
                 }
             });
         },
         "monitoring to start");
}

void ScreenshotTour::createProject()
{
    CaptureViewModel& capture = app_.capture();
    app_.openCaptureWindow();
    capture.beginNewProject();
    when([&capture] { return capture.showsNewProject(); }, 5s,
         [this, &capture] {
             CaptureProject draft = capture.draft();
             draft.artist = QStringLiteral("The Demo Ensemble");
             draft.albumArtist = draft.artist;
             draft.title = QStringLiteral("Turntable Sessions");
             draft.date = QStringLiteral("1977");
             draft.genres = {QStringLiteral("Jazz")};
             draft.labels = QStringLiteral("Demo Records DR-101");
             const QStringList titles = {QStringLiteral("Opening Groove"),
                                         QStringLiteral("Slow Spin"),
                                         QStringLiteral("Run-Out Blues")};
             for (CaptureSide& side : draft.sides) {
                 side.tracks.clear();
                 for (int i = 0; i < titles.size(); ++i) {
                     CaptureTrack track;
                     track.id = QUuid::createUuid();
                     track.position = side.label + QString::number(i + 1);
                     track.title = titles[i];
                     side.tracks << track;
                 }
             }
             capture.setDraft(draft);
             capture.confirmDraft();
             when([&capture] { return capture.document() && !capture.showsNewProject(); }, 5s,
                  [this] { recordSide(); }, "the project to be created");
         },
         "the new project sheet");
}

void ScreenshotTour::recordSide()
{
    CaptureViewModel& capture = app_.capture();
    capture.startRecording();
    when([&capture] { return capture.isRecording(); }, 10s,
         [this, &capture] {
             // Past the demo side's run-in groove, so the picture shows music.
             after(14s, [this, &capture] {
                 capture.stopRecording();
                 when(
                     [&capture] {
                         return !capture.isRecording() && !capture.isFinalizing() &&
                                !capture.isLoadingWaveform() && !capture.waveform().isEmpty();
                     },
                     20s, [this] { placeBoundaries(); }, "the side's waveform");
             });
         },
         "recording to start");
}

void ScreenshotTour::placeBoundaries()
{
    CaptureViewModel& capture = app_.capture();
    const CaptureSide* side = capture.selectedSide();
    if (!side || !side->master) {
        fail(QStringLiteral("the side has no master"));
        return;
    }
    const qint64 frames = side->master->frameCount;
    capture.addBoundary(frames * 3 / 8);
    capture.addBoundary(frames * 5 / 8);
    capture.setTrimEnd(frames - frames / 20);
    capture.seek(frames / 5);
    capture.clearNotice();
    after(1000ms, [this] {
        CaptureWindow* window = app_.captureWindow();
        if (window && save(window, QStringLiteral("capture-window.png"))) {
            done_ = true;
            emit finished(true);
        }
    });
}

} // namespace brevalo
