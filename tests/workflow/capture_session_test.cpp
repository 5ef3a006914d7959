#include "workflow/capture_view_model.h"

#include "capture/project_fixtures.h"
#include "monitor/monitor_view_model.h"
#include "platform/audio/simulated_audio_system.h"
#include "platform/errors.h"
#include "recording/native_recorder.h"
#include "workflow/scripted_panels.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <sndfile.h>

#include <functional>

namespace brevalo {
namespace {

using namespace std::chrono_literals;

// Every frame of a sound file as left-justified words, left and right interleaved.
std::vector<int> readFrames(const QString& path)
{
    SF_INFO info{};
    SNDFILE* file = sf_open(QFile::encodeName(path).constData(), SFM_READ, &info);
    std::vector<int> words(file != nullptr ? static_cast<std::size_t>(info.frames) * 2 : 0);
    if (file != nullptr) {
        sf_readf_int(file, words.data(), info.frames);
        sf_close(file);
    }
    return words;
}

// The capture controller beside a monitor controller on simulated hardware in manual time: a
// 48 kHz deck playing the counting pattern, speakers, and a project of two sides (4 + 3 tracks).
class CaptureSessionTest : public ::testing::Test
{
public:
    CaptureSessionTest()
        : settings(directory.filePath(QStringLiteral("monitor.ini")), QSettings::IniFormat)
    {
        QDir(directory.path()).mkdir(QStringLiteral("Library"));
        sim.setAuthorization(AudioCaptureAuthorization::authorized);
        input = sim.addDevice(SimDevice::input("deck", "Deck", 2, 48000.0, 24));
        sim.setInputSignal(input, 0, SimSignal::counting());
        sim.setInputSignal(input, 1, SimSignal::counting());
        sim.addDevice(SimDevice::output("speakers", "Speakers", 2, 48000.0));
        scheduler.setTimeObserver([this](std::chrono::nanoseconds step) {
            if (hardwareRuns) {
                sim.advance(step);
            }
        });
        MonitorViewModel::Options monitorOptions;
        monitorOptions.scheduler = &scheduler;
        monitor = std::make_unique<MonitorViewModel>(sim, settings, monitorOptions);
        deliver();

        CaptureViewModel::Options options;
        options.scheduler = &scheduler;
        options.settings =
            std::make_shared<QSettings>(directory.filePath("capture.ini"), QSettings::IniFormat);
        options.panels = panels;
        options.keychain = std::make_shared<MemoryKeychain>();
        options.review.manualReader = true;
        controller = std::make_unique<CaptureViewModel>(monitor.get(), options);
        panels->folders.push_back(directory.filePath("Library"));
        controller->chooseStorage();
        project.sides = {testing::side(1, QStringLiteral("A"), 4),
                         testing::side(1, QStringLiteral("B"), 3)};
        controller->beginNewProject();
        controller->setDraft(project);
        controller->confirmDraft();
    }
    ~CaptureSessionTest() override
    {
        controller.reset();
        monitor.reset();
        sim.drainNotifications();
    }

    void deliver()
    {
        sim.drainNotifications();
        QCoreApplication::sendPostedEvents();
    }
    qint64 delivered() const { return static_cast<qint64>(sim.blockCount(input)) * 512; }
    // Runs the hardware for whole seconds; the master's writer catches up after each, so that the
    // ring never holds more than a second.
    void run(int seconds)
    {
        for (int i = 0; i < seconds; ++i) {
            scheduler.advance(1s);
            const QDeadlineTimer deadline(30s);
            while (controller->recorder()->isRecording() &&
                   static_cast<qint64>(controller->recorder()->framesWritten()) < delivered() &&
                   !deadline.hasExpired()) {
                QThread::msleep(1);
            }
        }
    }
    // Waits (in real time) while the controller finishes background work.
    void settle(const std::function<bool()>& busy)
    {
        const QDeadlineTimer deadline(60s);
        while (busy() && !deadline.hasExpired()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        }
        ASSERT_FALSE(busy());
    }
    void settleStop()
    {
        settle([this] { return controller->isFinalizing(); });
    }
    CaptureProject saved() const
    {
        return controller->storage().load(controller->document()->directory).project;
    }
    const CaptureSide& sideA() const { return controller->document()->project.sides[0]; }

    QTemporaryDir directory;
    QSettings settings;
    SimulatedAudioSystem sim{SimTimeMode::manual};
    ManualMainThreadScheduler scheduler;
    bool hardwareRuns = true;
    ObjectId input = unknownObject;
    std::shared_ptr<ScriptedPanels> panels = std::make_shared<ScriptedPanels>();
    std::unique_ptr<MonitorViewModel> monitor;
    std::unique_ptr<CaptureViewModel> controller;
    CaptureProject project = testing::project();
};

TEST_F(CaptureSessionTest, RecordEditExportAndSwapASide)
{
    ASSERT_TRUE(monitor->selectedChannelPair());
    ASSERT_EQ(monitor->selectedChannelPair()->rightChannel, 1);
    controller->startRecording();
    ASSERT_TRUE(controller->isRecording()) << controller->error().value_or("").toStdString();
    EXPECT_TRUE(monitor->isInputSelectionLocked());
    run(90);
    // The poll shows what the writer had stored by then, at most a second behind.
    EXPECT_NEAR(controller->elapsed(), 90.0, 1.1);
    controller->stopRecording();
    EXPECT_TRUE(controller->isFinalizing());
    settleStop();

    const CaptureMaster master = *sideA().master;
    EXPECT_EQ(master.frameCount, delivered());
    EXPECT_TRUE(master.isComplete);
    EXPECT_EQ(saved().sides[0].master, master);
    EXPECT_FALSE(monitor->isInputSelectionLocked());
    EXPECT_EQ(controller->notice(),
              "Side master saved. Place 3 internal boundaries for the expected tracks.");
    settle([this] { return controller->isLoadingWaveform(); });
    EXPECT_GE(controller->waveform().size(), CaptureViewModel::waveformColumns);

    for (const qint64 boundary : {1'000'000, 2'000'000, 3'000'000}) {
        controller->addBoundary(boundary);
    }
    controller->setTrimStart(4'800);
    controller->setTrimEnd(master.frameCount - 9'600);
    const QList<FrameRange> regions = sideA().regions();
    ASSERT_EQ(regions.size(), 4);
    ASSERT_TRUE(controller->canExportSelectedSide());

    QDir(directory.path()).mkdir("Export");
    panels->folders = {directory.filePath("Export"), directory.filePath("Export")};
    controller->exportTracks(sideA().id);
    controller->cancelExport();
    settle([this] { return controller->isExporting(); });
    EXPECT_FALSE(controller->error());

    double fraction = 0;
    qint64 trackNumber = 0;
    QObject::connect(controller.get(), &CaptureViewModel::exportProgressChanged, [&] {
        fraction = std::max(fraction, controller->exportFraction());
        trackNumber = std::max(trackNumber, controller->exportTrackNumber());
        EXPECT_TRUE(controller->isExporting());
    });
    controller->exportTracks(sideA().id);
    EXPECT_TRUE(controller->isExporting());
    settle([this] { return controller->isExporting(); });
    EXPECT_EQ(controller->notice(), "Exported 4 tagged FLAC tracks with native resolution.");
    EXPECT_GT(fraction, 0.5);
    EXPECT_EQ(trackNumber, 4);
    QStringList tracks;
    for (QDirIterator it(directory.filePath("Export"), {"*.flac"}, QDir::Files,
                         QDirIterator::Subdirectories);
         it.hasNext();) {
        tracks.append(it.next());
    }
    tracks.sort();
    ASSERT_EQ(tracks.size(), 4);
    const std::vector<int> words =
        readFrames(CaptureStorage::resolve(*controller->document(), master.path));
    for (qsizetype i = 0; i < 4; ++i) {
        const auto first = words.begin() + 2 * regions[i].start;
        EXPECT_EQ(readFrames(tracks[i]), std::vector<int>(first, first + 2 * regions[i].length()))
            << tracks[i].toStdString();
    }

    const CaptureSide recorded = sideA();
    ASSERT_TRUE(controller->swapSideRecordings(recorded.id, project.sides[1].id));
    const CaptureProject swapped = saved();
    EXPECT_FALSE(swapped.sides[0].master);
    EXPECT_EQ(swapped.sides[1].master, master);
    EXPECT_EQ(swapped.sides[1].markers, recorded.markers);
    EXPECT_EQ(swapped.sides[1].trimStartFrame, recorded.trimStartFrame);
    EXPECT_EQ(swapped.sides[1].trimEndFrame, recorded.trimEndFrame);
    EXPECT_EQ(swapped.sides[0].tracks, project.sides[0].tracks);
    EXPECT_EQ(swapped.sides[1].tracks, project.sides[1].tracks);
}

// How a take ends abnormally, and what the side keeps. "<path>" stands for the master's path.
struct TakeEnding
{
    const char* name;
    std::function<void(CaptureSessionTest&)> beforeStart;
    std::function<void(CaptureSessionTest&)> afterStart;
    std::optional<QString> error;
    std::optional<QString> interruption;
    bool complete;
    bool inManifest;
};

void PrintTo(const TakeEnding& ending, std::ostream* out)
{
    *out << ending.name;
}

class TakeEndingTest : public CaptureSessionTest, public ::testing::WithParamInterface<TakeEnding>
{};

TEST_P(TakeEndingTest, KeepsTheMaster)
{
    const TakeEnding& c = GetParam();
    if (c.beforeStart) {
        c.beforeStart(*this);
    }
    controller->startRecording();
    c.afterStart(*this);
    settleStop();

    ASSERT_TRUE(sideA().master);
    const CaptureMaster& master = *sideA().master;
    EXPECT_EQ(master.frameCount, delivered());
    EXPECT_EQ(master.isComplete, c.complete);
    EXPECT_EQ(master.interruption, c.interruption);
    EXPECT_EQ(controller->error(),
              c.error ? std::optional(QString(*c.error).replace("<path>", master.path))
                      : std::nullopt);
    EXPECT_TRUE(QFile::exists(CaptureStorage::resolve(*controller->document(), master.path)));
    EXPECT_EQ(controller->storage().load(controller->document()->directory).project.sides[0].master,
              c.inManifest ? std::optional(master) : std::nullopt);
    EXPECT_FALSE(controller->isRecording());
    EXPECT_FALSE(monitor->isInputSelectionLocked());
}

const QString stalled =
    QStringLiteral("The input stopped delivering audio. The interrupted take was retained.");

INSTANTIATE_TEST_SUITE_P(
    Cases, TakeEndingTest,
    ::testing::Values(
        TakeEnding{"InputStallsForFourSeconds",
                   {},
                   [](CaptureSessionTest& test) {
                       test.run(1);
                       test.hardwareRuns = false;
                       test.run(5);
                   },
                   stalled,
                   stalled,
                   false,
                   true},
        TakeEnding{"QuitWhileRecording",
                   {},
                   [](CaptureSessionTest& test) {
                       test.run(2);
                       test.controller->shutdown();
                   },
                   std::nullopt,
                   std::nullopt,
                   true,
                   true},
        TakeEnding{"SaveFailsAfterStart",
                   [](CaptureSessionTest& test) {
                       test.controller->storage().setBeforeReplaceHook(
                           [](const QString&) { throw CaptureError(QStringLiteral("disk full")); });
                   },
                   [](CaptureSessionTest&) {},
                   QStringLiteral("Couldn't save the project metadata. The take is retained at "
                                  "<path>. disk full"),
                   QStringLiteral("The project manifest couldn't be saved. The master is retained "
                                  "in the Masters folder."),
                   false, false}),
    [](const auto& test) { return std::string(test.param.name); });

TEST_F(CaptureSessionTest, ReviewNavigationOnBoundariesAndOutsideTheSpan)
{
    controller->startRecording();
    run(3);
    controller->stopRecording();
    settleStop();
    for (const qint64 boundary : {30'000, 60'000, 90'000}) {
        controller->addBoundary(boundary);
    }
    controller->setTrimStart(12'000);
    controller->setTrimEnd(130'000);

    enum class Move
    {
        next,
        previous,
        seek
    };
    struct Case
    {
        const char* name;
        bool playing;
        qint64 from;
        Move move;
        qint64 target; // for seek
        qint64 playhead;
        bool playingAfter;
    } const cases[] = {
        {"next from a boundary", false, 60'000, Move::next, 0, 90'000, false},
        {"previous from a boundary", false, 60'000, Move::previous, 0, 30'000, false},
        {"next at the end stays", false, 130'000, Move::next, 0, 130'000, false},
        {"previous at the start stays", false, 12'000, Move::previous, 0, 12'000, false},
        {"seek before the start trim while playing", true, 40'000, Move::seek, 5'000, 5'000, false},
        {"seek past the end trim while playing", true, 40'000, Move::seek, 131'000, 131'000, false},
        {"seek inside while playing", true, 40'000, Move::seek, 100'000, 100'000, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        controller->seek(c.from);
        if (c.playing) {
            controller->togglePlayback();
            ASSERT_TRUE(controller->isPlaying()) << controller->error().value_or("").toStdString();
        }
        switch (c.move) {
        case Move::next:
            controller->jumpToNextStop();
            break;
        case Move::previous:
            controller->jumpToPreviousStop();
            break;
        case Move::seek:
            controller->seek(c.target);
            break;
        }
        EXPECT_EQ(controller->playhead(), c.playhead);
        EXPECT_EQ(controller->isPlaying(), c.playingAfter);
        if (controller->isPlaying()) {
            controller->togglePlayback();
        }
    }
}

} // namespace
} // namespace brevalo
