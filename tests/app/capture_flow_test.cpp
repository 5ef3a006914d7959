// The whole album flow through the real application's widgets on the demo turntable: a new
// project filled by hand, two sides recorded, boundaries placed on the waveform and the album
// exported to FLAC; and a quit in the middle of a take.

#include "app/app_windows.h"
#include "app/capture_commands.h"
#include "app/capture_metadata_sheet.h"
#include "app/capture_side_tabs.h"
#include "app/capture_waveform_view.h"
#include "app/capture_workspace_view.h"
#include "capture_test_support.h"

#include <QAbstractButton>
#include <QAction>
#include <QDirIterator>
#include <QLineEdit>
#include <QTest>

namespace brevalo::testing_support {
namespace {

using namespace std::chrono_literals;

class CaptureFlow : public ::testing::Test, public CaptureDesk
{
protected:
    CaptureFlow() : CaptureDesk(Scope::wholeApplication)
    {
        app->showMonitorWindow();
        app->appDelegate().applicationDidFinishLaunching();
    }

    CaptureWindow& window() { return *app->captureWindow(); }
    const CaptureSide& side(int index) { return capture().document()->project.sides[index]; }

    template <typename T = QWidget> T* find(const char* name, QWidget* in = nullptr)
    {
        return child<T>(in ? *in : static_cast<QWidget&>(window()), name);
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

    // New Capture… asks for the library folder, then shows the sheet over the capture window.
    CaptureMetadataSheet* newCapture()
    {
        app->captureCommands().newCaptureAction()->trigger();
        QCoreApplication::processEvents();
        CaptureMetadataSheet* sheet =
            app->captureWindow() ? window().view()->metadataSheet() : nullptr;
        EXPECT_TRUE(sheet && sheet->isVisible());
        return sheet;
    }

    void confirm(CaptureMetadataSheet* sheet)
    {
        click(find("confirmCheck", sheet));
        click(find("confirmButton", sheet));
        ASSERT_TRUE(capture().document()) << capture().error().value_or("").toStdString();
    }

    const std::function<void()> pressRecord = [this] { click(find("recordButton")); };
};

TEST_F(CaptureFlow, NewProjectRecordCutAndExport)
{
    panels->folders.push_back(exportFolder()); // the second folder asked for: the destination
    CaptureMetadataSheet* sheet = newCapture();
    ASSERT_NE(sheet, nullptr);
    type("artistField", "The Testers", sheet);
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
    EXPECT_FALSE(find<QAbstractButton>("confirmButton", sheet)->isEnabled());
    confirm(sheet);
    EXPECT_EQ(capture().document()->project.title, "Flow Album");

    // While side A records, neither capture command runs, by menu or by key.
    ASSERT_EQ(capture().selectedSideID(), side(0).id);
    ASSERT_TRUE(startTake(pressRecord)) << capture().error().value_or("").toStdString();
    EXPECT_FALSE(app->captureCommands().newCaptureAction()->isEnabled());
    EXPECT_FALSE(app->captureCommands().openProjectAction()->isEnabled());
    QTest::keyClick(&window(), Qt::Key_N, Qt::ControlModifier);
    EXPECT_FALSE(capture().showsNewProject());
    runTake(4s);
    stopTake(pressRecord);
    ASSERT_TRUE(side(0).master);
    EXPECT_TRUE(side(0).master->isComplete);
    EXPECT_TRUE(app->captureCommands().newCaptureAction()->isEnabled());

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

    auto* tabs = find<CaptureSideTabBar>("sideTabs");
    click(tabs->tab(side(1).id));
    ASSERT_TRUE(startTake(pressRecord));
    runTake(2s);
    stopTake(pressRecord);

    click(find("exportAlbumButton"));
    settle(&CaptureViewModel::isExporting);
    EXPECT_EQ(capture().error(), std::nullopt);
    QStringList files;
    QDirIterator exported(exportFolder(), {"*.flac"}, QDir::Files, QDirIterator::Subdirectories);
    while (exported.hasNext()) {
        files << QFileInfo(exported.next()).fileName();
    }
    files.sort();
    EXPECT_EQ(files, (QStringList{"01 - Song 1.flac", "02 - Song 2.flac", "03 - Song 3.flac",
                                  "04 - Song 4.flac", "05 - Song 5.flac"}));
}

TEST_F(CaptureFlow, QuitWhileRecordingKeepsTheTake)
{
    capture().chooseStorage();
    createProject();
    monitor().startMonitoring();
    ASSERT_TRUE(startTake());
    runTake(2s);
    const qint64 beforeQuit = takenFrames();

    ASSERT_TRUE(QMetaObject::invokeMethod(qApp, "aboutToQuit"));
    const QString folder = capture().document()->directory;
    const CaptureProject saved = capture().storage().load(folder).project;
    ASSERT_TRUE(saved.sides[0].master);
    EXPECT_TRUE(saved.sides[0].master->isComplete);
    // The take ends before the monitor's fade-out lets more of the turntable play.
    EXPECT_EQ(saved.sides[0].master->frameCount, beforeQuit);
    EXPECT_GT(takenFrames(), beforeQuit);
    EXPECT_FALSE(monitor().engine().isRunning());
}

} // namespace
} // namespace brevalo::testing_support
