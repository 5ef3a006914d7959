#include "workflow/capture_view_model.h"

#include "../discogs/http_test_server.h"
#include "capture/project_fixtures.h"
#include "capture/scripted_panels.h"
#include "platform/errors.h"
#include "support/test_masters.h"
#include "workflow/take_recovery.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace brevalo {
namespace {

using namespace std::chrono_literals;

// A controller on a temporary library, a keychain in memory, virtual time and a loopback
// Discogs service.
class CaptureViewModelTest : public ::testing::Test
{
protected:
    CaptureViewModelTest()
    {
        QDir(directory.path()).mkdir(QStringLiteral("Library"));
        CaptureViewModel::Options options;
        options.scheduler = &scheduler;
        options.settings =
            std::make_shared<QSettings>(directory.filePath("settings.ini"), QSettings::IniFormat);
        options.panels = panels;
        options.keychain = keychain;
        options.discogs.baseURL = server.url();
        options.discogs.allowLoopbackHttpArtwork = true;
        controller = std::make_unique<CaptureViewModel>(nullptr, options);
        panels->folders.push_back(directory.filePath("Library"));
        controller->chooseStorage();
    }

    // Confirms project with its first side holding master, then opens it again from disk.
    void open(CaptureProject project, std::optional<CaptureMaster> master = std::nullopt)
    {
        controller->beginNewProject();
        controller->setDraft(project);
        controller->confirmDraft();
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

    QTemporaryDir directory;
    ManualMainThreadScheduler scheduler;
    std::shared_ptr<ScriptedPanels> panels = std::make_shared<ScriptedPanels>();
    std::shared_ptr<MemoryKeychain> keychain = std::make_shared<MemoryKeychain>();
    test::HttpTestServer server;
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
    const CaptureMaster recovered = *controller->selectedSide()->master;
    EXPECT_EQ(recovered.frameCount, 96'000);
    EXPECT_EQ(recovered.interruption, notFinalizedText);
    EXPECT_FALSE(recovered.isComplete);
    EXPECT_EQ(controller->notice(), "Project opened from local storage.");
    EXPECT_EQ(saved().sides[0].master->frameCount, 0);
    controller->acceptTake();
    EXPECT_TRUE(saved().sides[0].master->isComplete);
    EXPECT_EQ(saved().sides[0].master->interruption, notFinalizedText);

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
    const QDeadlineTimer deadline(30s);
    while (controller->isFetching() && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    ASSERT_FALSE(controller->isFetching());

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

} // namespace
} // namespace brevalo
