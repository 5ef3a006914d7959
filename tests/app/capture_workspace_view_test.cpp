// The capture workspace: what it enables in each state of a project, the metadata sheet it opens
// and closes with the controller, the guarded discard, the keyboard commands and the live track
// list; renders of each state for a person to look at.

#include "app/capture_metadata_sheet.h"
#include "app/capture_track_list.h"
#include "app/capture_waveform_view.h"
#include "app/capture_workspace_view.h"
#include "app/faceplate_widgets.h"
#include "capture_test_support.h"
#include "workflow/duration_text.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QTest>
#include <QVBoxLayout>

#include <gmock/gmock.h>

namespace brevalo::testing_support {
namespace {

using namespace std::chrono_literals;

class CaptureWorkspace : public ::testing::Test, public CaptureDesk
{
protected:
    CaptureWorkspace()
    {
        auto* layout = new QVBoxLayout(&host_);
        layout->setContentsMargins(0, 0, 0, 0);
        view_ = new CaptureWorkspaceView(monitor(), capture(), &host_);
        layout->addWidget(view_);
        view_->setConfirmDiscard([this] {
            ++discardQuestions_;
            return discardAnswer_;
        });
        host_.resize(1200, 940);
        host_.show();
    }

    template <typename W = QPushButton> W* find(const char* name) const
    {
        return child<W>(*view_, name);
    }

    void render(const char* name)
    {
        QCoreApplication::sendPostedEvents();
        saveRender(host_, QLatin1String(name));
    }

    // A recorded side A cut into its three tracks, trimmed at both ends.
    void recordAndCut(std::chrono::milliseconds length = 2s)
    {
        createProject();
        ASSERT_TRUE(recordTake(length)) << capture().error().value_or("").toStdString();
        const qint64 frames = capture().selectedSide()->master->frameCount;
        capture().addBoundary(frames / 3);
        capture().addBoundary(frames * 2 / 3);
        capture().setTrimStart(frames / 20);
        capture().setTrimEnd(frames - frames / 20);
    }

    Faceplate host_;
    CaptureWorkspaceView* view_ = nullptr;
    int discardQuestions_ = 0;
    bool discardAnswer_ = false;
};

TEST_F(CaptureWorkspace, RecordAndExportFollowTheControllersPredicates)
{
    auto* record = find("recordButton");
    auto* exportSide = find("exportSideButton");
    auto* exportAlbum = find("exportAlbumButton");
    auto* progress = find<QProgressBar>("exportProgress");
    const struct
    {
        const char* state;
        std::function<void()> enter;
        bool record;
        const char* recordText;
        bool exportSide, exportAlbum;
        const char* render;
    } steps[] = {
        {"no project", [] {}, false, "Record Side", false, false, "capture-no-project"},
        {"side A unrecorded", [this] { createProject(3, 1); }, true, "Record Side", false, false,
         nullptr},
        {"recording",
         [this] {
             ASSERT_TRUE(startTake());
             runTake(1s);
         },
         true, "Stop Recording", false, false, "capture-recording"},
        {"A recorded, boundaries missing", [this] { stopTake(); }, false, "Record Side", false,
         false, nullptr},
        {"A cut into its tracks",
         [this] {
             const qint64 frames = capture().selectedSide()->master->frameCount;
             capture().addBoundary(frames / 3);
             capture().addBoundary(frames * 2 / 3);
         },
         false, "Record Side", true, false, nullptr},
        {"B recorded too",
         [this] {
             capture().selectSide(capture().document()->project.sides[1].id);
             ASSERT_TRUE(recordTake(1s));
         },
         false, "Record Side", true, true, nullptr},
        {"exporting",
         [this] {
             panels->folders = {exportFolder()};
             // Caught at its first progress report, while the export thread is mid-way.
             auto connection = std::make_shared<QMetaObject::Connection>();
             *connection = QObject::connect(
                 &capture(), &CaptureViewModel::exportProgressChanged, [this, connection] {
                     if (capture().isExporting() && capture().exportTrackTotal() > 0) {
                         QObject::disconnect(*connection);
                         render("capture-exporting");
                     }
                 });
             view_->findChild<QPushButton*>("exportAlbumButton")->click();
         },
         false, "Record Side", false, false, nullptr},
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(s.state);
        s.enter();
        EXPECT_EQ(find<QWidget>("noProjectPage")->isVisible(), !capture().document());
        EXPECT_EQ(record->isEnabled(), s.record);
        EXPECT_EQ(record->text(), s.recordText);
        EXPECT_EQ(exportSide->isEnabled(), s.exportSide);
        EXPECT_EQ(exportAlbum->isEnabled(), s.exportAlbum);
        EXPECT_EQ(progress->isVisible(), capture().isExporting());
        if (s.render != nullptr) {
            render(s.render);
        }
    }
    settle(&CaptureViewModel::isExporting);
    EXPECT_EQ(find<QLabel>("noticeText")->text(),
              "Exported 4 tagged FLAC tracks with native resolution.");
    EXPECT_FALSE(progress->isVisible());
    find<QLabel>("noticeText")->parentWidget()->findChild<QPushButton*>()->click();
    EXPECT_FALSE(capture().notice());
}

TEST_F(CaptureWorkspace, MetadataSheetFollowsTheControllerAndCancelClearsItsFlag)
{
    find("newCaptureButton")->click();
    ASSERT_NE(view_->metadataSheet(), nullptr);
    EXPECT_TRUE(view_->metadataSheet()->isNew());
    EXPECT_TRUE(view_->metadataSheet()->isVisible());
    EXPECT_EQ(view_->metadataSheet()->windowModality(), Qt::WindowModal);
    view_->metadataSheet()->reject(); // what its Cancel button does
    EXPECT_FALSE(capture().showsNewProject());
    EXPECT_EQ(view_->metadataSheet(), nullptr);

    // Confirming through the controller closes the sheet from its side.
    createProject();
    EXPECT_EQ(view_->metadataSheet(), nullptr);
    EXPECT_TRUE(find<QWidget>("workspacePage")->isVisible());
    find("editMetadataButton")->click();
    ASSERT_NE(view_->metadataSheet(), nullptr);
    EXPECT_FALSE(view_->metadataSheet()->isNew());
    // Keyboard commands stay with the sheet while it is open.
    const FrameRange before = capture().visibleRange();
    view_->zoomInAction()->trigger();
    EXPECT_EQ(capture().visibleRange(), before);
    capture().setShowsMetadataEditor(false);
    EXPECT_EQ(view_->metadataSheet(), nullptr);
}

TEST_F(CaptureWorkspace, KeyboardCommandsReachTheControllerUnlessATextFieldHasFocus)
{
    // Past the turntable's 8 s run-in groove, so the render shows music.
    recordAndCut(11s);
    render("capture-review");
    // The closed new-project sheet goes away; the window gets the keys.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    host_.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&host_));
    const FrameRange whole = capture().visibleRange();

    QTest::keyClick(&host_, Qt::Key_Equal, Qt::ControlModifier);
    EXPECT_EQ(capture().visibleRange().length(), whole.length() / 2);
    QTest::keyClick(&host_, Qt::Key_Minus, Qt::ControlModifier);
    EXPECT_EQ(capture().visibleRange(), whole);

    capture().setSelectedMarker(0);
    QTest::keyClick(&host_, Qt::Key_Delete);
    EXPECT_EQ(capture().selectedSide()->markers.size(), 1);

    QTest::keyClick(&host_, Qt::Key_Space);
    EXPECT_TRUE(capture().isPlaying()) << capture().error().value_or("").toStdString();

    // A text field keeps its keys.
    auto* field = new QLineEdit(view_);
    field->show();
    field->setFocus();
    QTest::keyClick(field, Qt::Key_Space);
    EXPECT_TRUE(capture().isPlaying());
    EXPECT_EQ(field->text(), " ");
}

TEST_F(CaptureWorkspace, TrackListFollowsAWaveformDragLive)
{
    recordAndCut();
    const CaptureSide stored = *capture().selectedSide();
    const double rate = stored.master->sampleRate;
    auto* tracks = view_->findChild<CaptureTrackList*>("trackList");
    ASSERT_EQ(tracks->rowCount(), 3);

    CaptureSide dragged = stored;
    dragged.markers[0] = static_cast<qint64>(rate / 2);
    emit view_->waveformView()->previewChanged(dragged);
    EXPECT_EQ(tracks->startText(1), "Start 00:00:00.500");
    EXPECT_EQ(tracks->lengthText(0),
              QStringLiteral("Length ") +
                  durationText(0.5 - static_cast<double>(*stored.trimStartFrame) / rate, true));

    emit view_->waveformView()->previewChanged(std::nullopt);
    EXPECT_EQ(tracks->startText(1),
              QStringLiteral("Start ") +
                  durationText(static_cast<double>(stored.markers[0]) / rate, true));
    // Its seek button goes to the track's first frame.
    tracks->seekButton(1)->click();
    EXPECT_EQ(capture().playhead(), stored.markers[0]);
}

TEST_F(CaptureWorkspace, InterruptedTakeIsAcceptedOrDiscardedAfterAQuestion)
{
    createProject();
    ASSERT_TRUE(startTake());
    runTake(1s);
    // The deck changes its rate mid-take: the recorder keeps what came before.
    sim().setNominalSampleRate(turntable, 48000.0);
    deliver();
    runTake(500ms);
    settle(&CaptureViewModel::isFinalizing);
    settle(&CaptureViewModel::isLoadingWaveform);
    ASSERT_TRUE(capture().selectedSide()->master);
    ASSERT_FALSE(capture().selectedSide()->master->isComplete);
    EXPECT_TRUE(find<QLabel>("errorText")->isVisible());
    auto* accept = find("acceptTakeButton");
    EXPECT_TRUE(accept->isVisible());
    render("capture-interrupted");
    accept->click();
    EXPECT_TRUE(capture().selectedSide()->master->isComplete);
    EXPECT_FALSE(accept->isVisible());

    // Discarding asks first; a declined question changes nothing.
    find("discardTakeButton")->click();
    EXPECT_EQ(discardQuestions_, 1);
    EXPECT_TRUE(capture().selectedSide()->master);
    discardAnswer_ = true;
    find("discardTakeButton")->click();
    EXPECT_FALSE(capture().selectedSide()->master);
    EXPECT_TRUE(find("recordButton")->isEnabled());
    EXPECT_EQ(find<QLabel>("waveformMessage")->text(), "Record this side to review its waveform.");
}

} // namespace
} // namespace brevalo::testing_support
