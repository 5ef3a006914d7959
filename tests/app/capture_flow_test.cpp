// The whole album flow through the real application's widgets on the demo turntable: a new
// project filled by hand, two sides recorded, boundaries placed on the waveform, the album
// exported to FLAC and two side tabs swapped by dragging; and a quit in the middle of a take.

#include "app/app_windows.h"
#include "app/capture_commands.h"
#include "app/capture_metadata_sheet.h"
#include "app/capture_side_tabs.h"
#include "app/capture_waveform_view.h"
#include "app/capture_workspace_view.h"
#include "app/vantorel_app.h"
#include "capture_test_support.h"
#include "discogs/token_store.h"
#include "recording/native_recorder.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDeadlineTimer>
#include <QDirIterator>
#include <QDropEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QTest>
#include <QThread>

namespace brevalo::testing_support {
namespace {

using namespace std::chrono_literals;

class CaptureFlow : public ::testing::Test, public SimulatedDesk
{
protected:
    CaptureFlow()
    {
        QDir(directory.path()).mkpath("Library");
        QDir(directory.path()).mkpath("Export");
        panels_->folders = {directory.filePath("Library"), directory.filePath("Export")};
        auto owned = std::make_unique<SimulatedAudioSystem>(SimTimeMode::manual);
        simulation_ = owned.get();
        turntable_ = sim().addDevice(
            SimDevice::input("brevalo.sim.virtual-turntable", "Virtual Turntable", 2, 96000.0, 24));
        sim().setInputSignal(turntable_, 0, SimSignal::counting());
        sim().setInputSignal(turntable_, 1, SimSignal::counting());
        addOutput();
        sim().setAuthorization(AudioCaptureAuthorization::authorized);
        VantorelApp::Options options;
        options.audioSystem = std::move(owned);
        options.settings = &settings;
        options.monitor = controllerOptions();
        options.capture.scheduler = &scheduler;
        options.capture.settings =
            std::make_shared<QSettings>(directory.filePath("capture.ini"), QSettings::IniFormat);
        options.capture.panels = panels_;
        options.capture.keychain = std::make_shared<MemoryKeychain>();
        sim().drainNotifications();
        app_ = std::make_unique<VantorelApp>(std::move(options));
        app_->showMonitorWindow();
        app_->appDelegate().applicationDidFinishLaunching();
        deliver();
        scheduler.runDue();
    }

    ~CaptureFlow() override
    {
        app_.reset();
        QApplication::setQuitOnLastWindowClosed(true);
    }

    SimulatedAudioSystem& sim() override { return *simulation_; }
    CaptureViewModel& capture() { return app_->capture(); }
    CaptureWindow& window() { return *app_->captureWindow(); }

    template <typename T = QWidget> T* find(const char* name, QWidget* in = nullptr)
    {
        T* widget = (in ? in : static_cast<QWidget*>(&window()))->findChild<T*>(name);
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }

    void click(QWidget* widget)
    {
        ASSERT_NE(widget, nullptr);
        ASSERT_TRUE(widget->isVisible() && widget->isEnabled())
            << widget->objectName().toStdString();
        // Near the left edge: a check box reacts only on its box and text, not across its row.
        QTest::mouseClick(widget, Qt::LeftButton, {},
                          QPoint(std::min(8, widget->width() / 2), widget->height() / 2));
        QCoreApplication::processEvents();
        // Rebuilt rows replace the old ones, which go at the next turn of the event loop.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    void type(const char* field, const QString& text, QWidget* in)
    {
        auto* edit = find<QLineEdit>(field, in);
        ASSERT_NE(edit, nullptr);
        edit->selectAll();
        QTest::keyClicks(edit, text);
    }

    // Runs the turntable for whole seconds of virtual time; the master's writer catches up
    // after each one.
    void play(int seconds)
    {
        for (int i = 0; i < seconds; ++i) {
            wait(1s);
            const NativeRecorder* recorder = capture().recorder();
            const auto delivered = takenFrames();
            const QDeadlineTimer deadline(30s);
            while (recorder->isRecording() && recorder->framesWritten() < delivered &&
                   !deadline.hasExpired()) {
                QThread::msleep(1);
            }
        }
    }

    // Presses Record Side on the selected side.
    void startTake()
    {
        takeStart_ = sim().blockCount(turntable_);
        click(find("recordButton"));
        ASSERT_TRUE(capture().isRecording()) << capture().error().value_or("").toStdString();
    }

    // Frames the turntable delivered since the take started.
    std::uint64_t takenFrames() { return (sim().blockCount(turntable_) - takeStart_) * 512; }

    // Lets the work the controller runs on other threads report back.
    void settle(bool (CaptureViewModel::*busy)() const)
    {
        const QDeadlineTimer deadline(60s);
        while ((capture().*busy)() && !deadline.hasExpired()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            scheduler.runDue();
        }
        ASSERT_FALSE((capture().*busy)());
    }

    void recordSide(const QUuid& sideID, int seconds)
    {
        auto* tabs = find<CaptureSideTabBar>("sideTabs");
        click(tabs->tab(sideID));
        ASSERT_EQ(capture().selectedSideID(), sideID);
        startTake();
        play(seconds);
        click(find("recordButton"));
        settle(&CaptureViewModel::isFinalizing);
        settle(&CaptureViewModel::isLoadingWaveform);
    }

    const CaptureSide& side(int index) { return capture().document()->project.sides[index]; }

    std::shared_ptr<ScriptedCapturePanels> panels_ = std::make_shared<ScriptedCapturePanels>();
    SimulatedAudioSystem* simulation_ = nullptr;
    ObjectId turntable_ = unknownObject;
    std::uint64_t takeStart_ = 0; // turntable blocks when the take started
    std::unique_ptr<VantorelApp> app_;
};

TEST_F(CaptureFlow, NewProjectRecordCutExportAndSwap)
{
    // New Capture… asks for the library folder, then shows the sheet over the capture window.
    app_->captureCommands().newCaptureAction()->trigger();
    QCoreApplication::processEvents();
    ASSERT_NE(app_->captureWindow(), nullptr);
    CaptureMetadataSheet* sheet = window().view()->metadataSheet();
    ASSERT_NE(sheet, nullptr);
    ASSERT_TRUE(sheet->isVisible());

    type("artistField", "The Testers", sheet);
    type("albumArtistField", "The Testers", sheet);
    type("albumField", "Flow Album", sheet);
    // Side A gets four tracks, side B keeps one.
    for (int i = 0; i < 3; ++i) {
        click(find("addTrackButton", sheet->findChildren<QWidget*>("sideEditor").front()));
    }
    const auto titles = sheet->findChildren<QLineEdit*>("trackTitleField");
    ASSERT_EQ(titles.size(), 5);
    for (qsizetype i = 0; i < titles.size(); ++i) {
        titles[i]->selectAll();
        QTest::keyClicks(titles[i], QStringLiteral("Song %1").arg(i + 1));
    }
    auto* confirm = find<QAbstractButton>("confirmButton", sheet);
    EXPECT_FALSE(confirm->isEnabled());
    click(find("confirmCheck", sheet));
    click(confirm);
    ASSERT_TRUE(capture().document()) << capture().error().value_or("").toStdString();
    EXPECT_EQ(window().view()->metadataSheet(), nullptr);
    EXPECT_EQ(capture().document()->project.title, "Flow Album");

    // While a side records, neither capture command runs, by menu or by key.
    auto* tabs = find<CaptureSideTabBar>("sideTabs");
    click(tabs->tab(side(0).id));
    startTake();
    EXPECT_FALSE(app_->captureCommands().newCaptureAction()->isEnabled());
    EXPECT_FALSE(app_->captureCommands().openProjectAction()->isEnabled());
    QTest::keyClick(&window(), Qt::Key_N, Qt::ControlModifier);
    EXPECT_FALSE(capture().showsNewProject());
    play(4);
    click(find("recordButton"));
    settle(&CaptureViewModel::isFinalizing);
    settle(&CaptureViewModel::isLoadingWaveform);
    ASSERT_TRUE(side(0).master);
    EXPECT_TRUE(side(0).master->isComplete);
    EXPECT_TRUE(app_->captureCommands().newCaptureAction()->isEnabled());

    // Three double-clicks place the three boundaries; a drag moves the first one.
    auto* waveform = find<CaptureWaveformView>("waveformView");
    QWidget* area = waveform->waveformArea();
    for (const double at : {0.2, 0.45, 0.7}) {
        QTest::mouseDClick(area, Qt::LeftButton, {},
                           QPoint(int(area->width() * at), area->height() / 2));
    }
    ASSERT_EQ(side(0).markers.size(), 3);
    const qint64 before = side(0).markers[0];
    QWidget* marker = waveform->boundaryMarker(0);
    const QPoint from = marker->rect().center();
    QTest::mousePress(marker, Qt::LeftButton, {}, from);
    QTest::mouseMove(marker, from + QPoint(30, 0));
    QTest::mouseRelease(marker, Qt::LeftButton, {}, from + QPoint(30, 0));
    EXPECT_GT(side(0).markers[0], before);

    recordSide(side(1).id, 2);

    // The album goes into the folder the second picker answers.
    click(find("exportAlbumButton"));
    settle(&CaptureViewModel::isExporting);
    EXPECT_EQ(capture().error(), std::nullopt);
    QStringList files;
    QDirIterator exported(directory.filePath("Export"), {"*.flac"}, QDir::Files,
                          QDirIterator::Subdirectories);
    while (exported.hasNext()) {
        files << QFileInfo(exported.next()).fileName();
    }
    files.sort();
    EXPECT_EQ(files, (QStringList{"01 - Song 1.flac", "02 - Song 2.flac", "03 - Song 3.flac",
                                  "04 - Song 4.flac", "05 - Song 5.flac"}));

    // Dragging tab B onto tab A swaps their recordings; the notice says so.
    QWidget* tabA = tabs->tab(side(0).id);
    QWidget* tabB = tabs->tab(side(1).id);
    const CaptureMaster masterA = *side(0).master;
    tabs->setDragRunner([tabA](QWidget*, QMimeData* data) {
        const QPoint at = tabA->rect().center();
        QDragEnterEvent enter(at, Qt::MoveAction, data, Qt::LeftButton, {});
        QCoreApplication::sendEvent(tabA, &enter);
        QDropEvent drop(QPointF(at), Qt::MoveAction, data, Qt::LeftButton, {});
        QCoreApplication::sendEvent(tabA, &drop);
        delete data;
    });
    QTest::mousePress(tabB, Qt::LeftButton, {}, tabB->rect().center());
    QTest::mouseMove(tabB, tabB->rect().center() + QPoint(12, 0));
    QTest::mouseRelease(tabB, Qt::LeftButton, {}, tabB->rect().center() + QPoint(12, 0));
    EXPECT_EQ(side(1).master, masterA);
    EXPECT_EQ(find<QLabel>("noticeText")->text(),
              "Swapped recordings and boundaries for Record 1 · Side B and Record 1 · Side A. Each "
              "side kept its tracklist.");
}

TEST_F(CaptureFlow, QuitWhileRecordingKeepsTheTake)
{
    panels_->folders = {directory.filePath("Library")};
    app_->captureCommands().newCaptureAction()->trigger();
    QCoreApplication::processEvents();
    ASSERT_NE(window().view()->metadataSheet(), nullptr);
    type("artistField", "The Testers", window().view()->metadataSheet());
    type("albumField", "Quit Album", window().view()->metadataSheet());
    click(find("confirmCheck", window().view()->metadataSheet()));
    click(find("confirmButton", window().view()->metadataSheet()));
    ASSERT_TRUE(capture().document()) << capture().error().value_or("").toStdString();
    app_->monitor().startMonitoring();
    startTake();
    play(2);
    const auto beforeQuit = qint64(takenFrames());

    ASSERT_TRUE(QMetaObject::invokeMethod(qApp, "aboutToQuit"));
    const QString folder = capture().document()->directory;
    const CaptureProject saved = capture().storage().load(folder).project;
    ASSERT_TRUE(saved.sides[0].master);
    EXPECT_TRUE(saved.sides[0].master->isComplete);
    // The take ends before the monitor's fade-out lets more of the turntable play.
    EXPECT_EQ(saved.sides[0].master->frameCount, beforeQuit);
    EXPECT_GT(qint64(takenFrames()), beforeQuit);
    EXPECT_FALSE(app_->monitor().engine().isRunning());
}

} // namespace
} // namespace brevalo::testing_support
