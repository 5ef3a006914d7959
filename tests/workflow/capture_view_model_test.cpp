#include "workflow/capture_view_model.h"

#include "../discogs/http_test_server.h"
#include "capture/project_fixtures.h"
#include "capture/scripted_panels.h"
#include "monitor/monitor_view_model.h"
#include "platform/audio/simulated/simulated_audio_system.h"
#include "platform/errors.h"
#include "recording/native_recorder.h"
#include "support/test_masters.h"
#include "workflow/take_recovery.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

namespace brevalo {
namespace {

using namespace std::chrono_literals;

// The capture controller beside a monitor controller on simulated hardware in manual time (a
// 48 kHz deck playing the counting pattern, speakers), on a temporary library, with a keychain in
// memory and a loopback Discogs service.
class CaptureViewModelTest : public ::testing::Test
{
public:
    CaptureViewModelTest() : settings(directory.filePath("monitor.ini"), QSettings::IniFormat)
    {
        QDir(directory.path()).mkpath("Library");
        input = sim.addDevice(SimDevice::input("deck", "Deck", 2, 48000.0, 24));
        sim.setInputSignal(input, 0, SimSignal::counting());
        sim.setInputSignal(input, 1, SimSignal::counting());
        sim.addDevice(SimDevice::output("speakers", "Speakers", 2, 48000.0));
        sim.setAuthorization(AudioCaptureAuthorization::authorized);
        scheduler.setTimeObserver([this](std::chrono::nanoseconds step) {
            if (hardwareRuns) {
                sim.advance(step);
            }
        });
        MonitorViewModel::Options monitorOptions;
        monitorOptions.scheduler = &scheduler;
        monitor = std::make_unique<MonitorViewModel>(sim, settings, monitorOptions);
        CaptureViewModel::Options options;
        options.scheduler = &scheduler;
        options.settings =
            std::make_shared<QSettings>(directory.filePath("c.ini"), QSettings::IniFormat);
        options.panels = panels;
        options.keychain = keychain;
        options.review.manualReader = true;
        options.discogs.baseURL = server.url();
        options.discogs.allowLoopbackHttpArtwork = true;
        controller = std::make_unique<CaptureViewModel>(monitor.get(), options);
        panels->folders = {directory.filePath("Library")};
        controller->chooseStorage();
    }
    ~CaptureViewModelTest() override
    {
        controller.reset();
        monitor.reset();
        sim.drainNotifications();
    }

    qint64 delivered() const { return static_cast<qint64>(sim.blockCount(input)) * 512; }
    // Runs the hardware for whole seconds; after each, waits until the writer has stored what the
    // take (started when `delivered()` was `start`) was given, so that the ring never holds more
    // than a second.
    void run(int seconds, qint64 start = 0)
    {
        for (int i = 0; i < seconds; ++i) {
            scheduler.advance(1s);
            const QDeadlineTimer deadline(30s);
            while (controller->recorder()->isRecording() &&
                   qint64(controller->recorder()->framesWritten()) < delivered() - start &&
                   !deadline.hasExpired()) {
                QThread::msleep(1);
            }
        }
    }
    // Waits (in real time) while the controller finishes work on other threads.
    void settle(bool (CaptureViewModel::*busy)() const = &CaptureViewModel::isFinalizing)
    {
        const QDeadlineTimer deadline(60s);
        while ((*controller.*busy)() && !deadline.hasExpired()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        }
        ASSERT_FALSE((*controller.*busy)());
    }
    void confirm(const CaptureProject& project)
    {
        controller->beginNewProject();
        controller->setDraft(project);
        controller->confirmDraft();
    }
    // A project of three sides (4 + 3 + 1 tracks).
    void confirmSession()
    {
        CaptureProject project = testing::project();
        project.sides = {testing::side(1, "A", 4), testing::side(1, "B", 3), testing::side(2, "C")};
        confirm(project);
    }
    // Confirms project with its first side holding master, then opens it again from disk.
    void open(CaptureProject project, std::optional<CaptureMaster> master = std::nullopt)
    {
        confirm(project);
        ASSERT_TRUE(controller->document());
        CaptureDocument document = *controller->document();
        document.project.sides[0].master = master;
        controller->storage().save(document);
        panels->folders.push_back(document.directory);
        controller->openExistingProject();
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
    std::shared_ptr<MemoryKeychain> keychain = std::make_shared<MemoryKeychain>();
    test::HttpTestServer server;
    std::unique_ptr<MonitorViewModel> monitor;
    std::unique_ptr<CaptureViewModel> controller;
};

TEST_F(CaptureViewModelTest, ConfirmsOnlyDraftsWhoseTracksAllHaveASide)
{
    controller->beginNewProject();
    EXPECT_TRUE(controller->showsNewProject());
    CaptureProject draft = testing::project();
    draft.sides[1].label = QStringLiteral("?");
    controller->setDraft(draft);
    controller->confirmDraft();
    EXPECT_EQ(controller->error(),
              "Assign every track to a physical side before creating the project.");
    EXPECT_TRUE(controller->showsNewProject());
    EXPECT_FALSE(controller->document());

    draft.sides[1].label = QStringLiteral("B");
    controller->setDraft(draft);
    controller->confirmDraft();
    ASSERT_TRUE(controller->document());
    EXPECT_FALSE(controller->showsNewProject());
    EXPECT_EQ(controller->selectedSideID(), draft.sides[0].id);
    EXPECT_EQ(controller->notice(), "Release confirmed. Select a side and record.");
    EXPECT_TRUE(controller->canRecord());
    EXPECT_FALSE(controller->canExportAllSides());
}

TEST_F(CaptureViewModelTest, MetadataEditMayNotTouchARecordedSide)
{
    open(testing::project(), testing::master(48'000));
    controller->beginMetadataEdit();
    CaptureProject edited = controller->draft();
    edited.sides.removeAt(0);
    controller->setDraft(edited);
    controller->applyMetadataEdit();
    EXPECT_EQ(controller->error(), "A captured side can't be removed or have its master changed "
                                   "in the metadata editor.");
    EXPECT_TRUE(controller->showsMetadataEditor());

    controller->beginMetadataEdit();
    controller->addDraftSide();
    controller->applyMetadataEdit();
    EXPECT_FALSE(controller->showsMetadataEditor());
    EXPECT_EQ(saved().sides.size(), 3);
    EXPECT_EQ(saved().sides[0].master, testing::master(48'000));
}

TEST_F(CaptureViewModelTest, UnfinalizedTakeIsRecoveredFromItsFileThenAcceptedOrDiscarded)
{
    CaptureMaster unfinished = testing::master(0);
    unfinished.isComplete = false;
    open(testing::project(), unfinished);
    const QString file = controller->document()->directory + "/" + unfinished.path;
    QFile(file).open(QIODevice::WriteOnly);
    controller->acceptTake(); // nothing to accept in an empty take
    EXPECT_FALSE(controller->selectedSide()->master->isComplete);
    EXPECT_FALSE(controller->canRecord());

    // The file holds 96,000 frames although the manifest recorded none.
    test::writeTestMaster(file, 24, 96000, 96'000, [](std::int64_t, int) { return 0; });
    panels->folders.push_back(controller->document()->directory);
    controller->openExistingProject();
    CaptureMaster recovered = unfinished;
    recovered.frameCount = 96'000;
    recovered.interruption = notFinalizedText;
    EXPECT_EQ(controller->selectedSide()->master, recovered);
    EXPECT_EQ(controller->notice(), "Project opened from local storage.");
    EXPECT_EQ(saved().sides[0].master, unfinished);
    controller->acceptTake();
    recovered.isComplete = true;
    EXPECT_EQ(saved().sides[0].master, recovered);

    controller->discardTake();
    EXPECT_TRUE(controller->canRecord());
    EXPECT_FALSE(saved().sides[0].master);
    EXPECT_TRUE(QFile::exists(file));
    EXPECT_TRUE(controller->notice()->contains("Masters folder"));
}

TEST_F(CaptureViewModelTest, SwapSelectsTheTargetAndNamesBothSides)
{
    CaptureProject project = testing::project();
    project.sides.append(testing::side(2, QStringLiteral("C")));
    open(project, testing::master(48'000));
    controller->selectSide(project.sides[2].id);

    EXPECT_TRUE(controller->swapSideRecordings(project.sides[0].id, project.sides[1].id));
    EXPECT_EQ(controller->selectedSideID(), project.sides[1].id);
    EXPECT_EQ(controller->notice(), "Swapped recordings and boundaries for Record 1 \u00B7 Side A "
                                    "and Record 1 \u00B7 Side B. Each side kept its tracklist.");
    EXPECT_FALSE(saved().sides[0].master);
    EXPECT_TRUE(saved().sides[1].master);
}

TEST_F(CaptureViewModelTest, FailedSaveDropsTheEdit)
{
    open(testing::project(), testing::master(48'000));
    controller->addBoundary(24'000);
    EXPECT_EQ(controller->selectedMarker(), 0);
    const CaptureDocument before = *controller->document();
    controller->storage().setBeforeReplaceHook(
        [](const QString&) { throw CaptureError(QStringLiteral("disk full")); });
    controller->setTrimStart(100);
    EXPECT_EQ(controller->error(), "disk full");
    EXPECT_EQ(*controller->document(), before);
    EXPECT_EQ(saved().sides[0].markers, (QList<qint64>{24'000}));
}

TEST_F(CaptureViewModelTest, FetchedReleaseBecomesADraftWithWarningsAndCover)
{
    controller->beginNewProject();
    controller->fetchRelease();
    EXPECT_EQ(controller->error(), "Enter a Release ID, Discogs release URL, or [r123] reference.");

    CaptureProject draft = controller->draft();
    draft.source = CaptureSource::cd;
    controller->setDraft(draft);
    controller->setToken(QStringLiteral("secret"));
    controller->setReleaseInput(QStringLiteral("[r77]"));
    server.enqueue({.body = R"({"id": 77, "title": "Disc", "tracklist": [
        {"position": "1", "title": "One"}, {"position": "2", "title": "Two"}],
        "images": [{"type": "primary", "uri": ")" +
                            server.url("/cover.jpg").toEncoded() + R"("}]})"});
    server.enqueue({.body = "not an image"});
    controller->fetchRelease();
    controller->fetchRelease(5); // one request at a time
    settle(&CaptureViewModel::isFetching);

    EXPECT_EQ(keychain->items.at(TokenStore::itemKey()), "secret");
    ASSERT_EQ(server.requests.size(), 2);
    EXPECT_TRUE(server.requests[0].target.startsWith("/releases/77"));
    EXPECT_EQ(controller->draft().title, "Disc");
    EXPECT_EQ(controller->draft().source, CaptureSource::cd);
    EXPECT_TRUE(controller->hasFetchedRelease());
    EXPECT_FALSE(controller->draftArtwork());
    EXPECT_EQ(controller->draftWarning(),
              "Some positions don't identify a physical side. Assign those tracks to records and "
              "sides before creating the project. Cover download failed; choose a local image.");
    EXPECT_FALSE(controller->error());
}

TEST_F(CaptureViewModelTest, RefusedTokenWriteContactsNobody)
{
    keychain->writeStatus = keychainStatus::interactionNotAllowed;
    controller->setSearchArtist(QStringLiteral("Tide"));
    controller->setToken(QStringLiteral("t"));
    controller->searchReleases();
    EXPECT_EQ(controller->error(),
              "Couldn't save the Discogs token in the system keyring (-25308).");
    EXPECT_FALSE(controller->isFetching());
    EXPECT_TRUE(server.requests.isEmpty());
}

TEST_F(CaptureViewModelTest, RecordCutReviewAndExportASide)
{
    confirmSession();
    controller->startRecording();
    ASSERT_TRUE(controller->isRecording()) << controller->error().value_or("").toStdString();
    EXPECT_TRUE(monitor->isInputSelectionLocked());
    run(90);
    // The poll shows what the writer had stored by then, at most a second behind.
    EXPECT_NEAR(controller->elapsed(), 90.0, 1.1);
    controller->stopRecording();
    settle();
    const CaptureMaster master = *sideA().master;
    EXPECT_EQ(master.frameCount, delivered());
    EXPECT_TRUE(master.isComplete);
    EXPECT_EQ(saved().sides[0].master, master);
    EXPECT_FALSE(monitor->isInputSelectionLocked());
    EXPECT_EQ(controller->notice(),
              "Side master saved. Place 3 internal boundaries for the expected tracks.");
    settle(&CaptureViewModel::isLoadingWaveform);
    EXPECT_GE(controller->waveform().size(), CaptureViewModel::waveformColumns);

    for (const qint64 boundary : {1'000'000, 2'000'000, 3'000'000}) {
        controller->addBoundary(boundary);
    }
    controller->setTrimStart(4'800);
    controller->setTrimEnd(master.frameCount - 9'600);

    // Review: stops from a boundary, and seeks while playing inside and outside [S, E).
    controller->seek(2'000'000);
    controller->jumpToNextStop();
    EXPECT_EQ(controller->playhead(), 3'000'000);
    controller->seek(2'000'000);
    controller->jumpToPreviousStop();
    EXPECT_EQ(controller->playhead(), 1'000'000);
    for (const auto& [target, keepsPlaying] :
         {std::pair<qint64, bool>{100, false}, {500'000, true}}) {
        SCOPED_TRACE(target);
        controller->seek(40'000);
        controller->togglePlayback();
        ASSERT_TRUE(controller->isPlaying()) << controller->error().value_or("").toStdString();
        controller->seek(target);
        EXPECT_EQ(controller->playhead(), target);
        EXPECT_EQ(controller->isPlaying(), keepsPlaying);
        if (controller->isPlaying()) {
            controller->togglePlayback();
        }
    }

    // A cancelled export shows nothing and leaves nothing; the next one reports its progress.
    const QString exportFolder = directory.filePath("Export");
    QDir().mkpath(exportFolder);
    panels->folders = {exportFolder, exportFolder};
    controller->exportTracks(sideA().id);
    controller->cancelExport();
    settle(&CaptureViewModel::isExporting);
    EXPECT_FALSE(controller->error());
    qint64 lastTrack = 0;
    QObject::connect(controller.get(), &CaptureViewModel::exportProgressChanged, [&] {
        EXPECT_TRUE(controller->isExporting());
        lastTrack = std::max(lastTrack, controller->exportTrackNumber());
    });
    controller->exportTracks(sideA().id);
    settle(&CaptureViewModel::isExporting);
    EXPECT_EQ(controller->notice(), "Exported 4 tagged FLAC tracks with native resolution.");
    EXPECT_EQ(lastTrack, 4);
    QStringList tracks;
    for (QDirIterator it(exportFolder, {"*.flac"}, QDir::Files, QDirIterator::Subdirectories);
         it.hasNext();) {
        tracks.append(it.next());
    }
    tracks.sort();
    const QList<FrameRange> regions = sideA().regions();
    ASSERT_EQ(tracks.size(), regions.size());
    SF_INFO info;
    const auto words =
        test::readTestMaster(CaptureStorage::resolve(*controller->document(), master.path), info);
    for (qsizetype i = 0; i < tracks.size(); ++i) {
        const auto first = words.begin() + 2 * regions[i].start;
        EXPECT_EQ(test::readTestMaster(tracks[i], info),
                  std::vector<std::int32_t>(first, first + 2 * regions[i].length()));
    }
}

// A take that ends abnormally keeps its master, and the side says why.
TEST_F(CaptureViewModelTest, TakeEndingsKeepTheMaster)
{
    confirmSession();
    const QString stalled =
        "The input stopped delivering audio. The interrupted take was retained.";
    enum Ending
    {
        stall,
        failingSave,
        quit
    }; // also the index of the side recorded
    const struct
    {
        Ending ending;
        std::optional<QString> error; // "<path>": the master's path
        std::optional<QString> interruption;
        bool inManifest;
    } cases[] = {
        {stall, stalled, stalled, true},
        {failingSave,
         "Couldn't save the project metadata. The take is retained at <path>. disk full",
         "The project manifest couldn't be saved. The master is retained in the Masters folder.",
         false},
        {quit, std::nullopt, std::nullopt, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.ending);
        controller->selectSide(controller->document()->project.sides[c.ending].id);
        controller->clearError();
        controller->storage().setBeforeReplaceHook([&c](const QString&) {
            if (c.ending == failingSave) {
                throw CaptureError(QStringLiteral("disk full"));
            }
        });
        const qint64 before = delivered();
        hardwareRuns = true;
        controller->startRecording();
        if (c.ending == stall) {
            run(1, before);
            hardwareRuns = false;
            run(5, before);
        } else if (c.ending == quit) {
            run(2, before);
            controller->shutdown();
        }
        settle();

        const CaptureMaster master = *controller->selectedSide()->master;
        EXPECT_EQ(master.frameCount, delivered() - before);
        EXPECT_EQ(master.isComplete, !c.interruption);
        EXPECT_EQ(master.interruption, c.interruption);
        EXPECT_EQ(controller->error(),
                  c.error ? std::optional(QString(*c.error).replace("<path>", master.path))
                          : std::nullopt);
        EXPECT_TRUE(QFile::exists(CaptureStorage::resolve(*controller->document(), master.path)));
        EXPECT_EQ(saved().sides[c.ending].master,
                  c.inManifest ? std::optional(master) : std::nullopt);
        EXPECT_FALSE(controller->isRecording());
        EXPECT_FALSE(monitor->isInputSelectionLocked());
    }
}

} // namespace
} // namespace brevalo
