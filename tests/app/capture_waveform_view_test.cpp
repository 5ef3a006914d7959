// The waveform editor: frame mapping, boundary and trim gestures with their clamps and previews,
// clicks, the context menu and the controls; the capture menu commands.

#include "app/appearance.h"
#include "app/capture_commands.h"
#include "app/capture_waveform_view.h"
#include "app_test_support.h"
#include "capture/project_fixtures.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QMenu>
#include <QSlider>
#include <QTest>
#include <QToolButton>

#include <gmock/gmock.h>

#include <cmath>

namespace brevalo::testing_support {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using Frame = std::optional<qint64>;

TEST(WaveformMapping, MapsFramesAndPositionsAcrossTheWidth)
{
    struct Case
    {
        FrameRange range;
        double width;
        double x;
        qint64 frame;
    };
    const FrameRange view{96000, 144000};
    for (const Case& c : {
             Case{view, 480, 240, 120000}, Case{view, 480, 0, 96000},
             Case{view, 480, -30, 96000},  // left of the view: first visible frame
             Case{view, 480, 600, 144000}, // right of it: one past the range
             Case{view, 480, std::nan(""), 96000},
             Case{view, 0.5, 0.25, 108000}, // a view narrower than a point: x is the ratio
             Case{{10, 10}, 100, 100, 11},  // an empty range counts as one frame
         }) {
        EXPECT_EQ(waveformFrameAt(c.x, c.range, c.width), c.frame) << c.x << " in " << c.width;
    }
    EXPECT_DOUBLE_EQ(waveformXPosition(96000, view, 480), 0.0);
    EXPECT_DOUBLE_EQ(waveformXPosition(120000, view, 480), 240.0);
    EXPECT_DOUBLE_EQ(waveformXPosition(90000, view, 480), -60.0);
}

// Side A of a complete master of 48,000 frames; the same side in every call.
CaptureSide sideOf(QList<qint64> markers, Frame trimStart = {}, Frame trimEnd = {})
{
    static const QUuid id = QUuid::createUuid();
    CaptureSide side = testing::side(1, QStringLiteral("A"));
    side.id = id;
    side.master = testing::master(48000);
    side.markers = std::move(markers);
    side.trimStartFrame = trimStart;
    side.trimEndFrame = trimEnd;
    return side;
}

class WaveformEditor : public ::testing::Test
{
protected:
    WaveformEditor()
    {
        view.resize(900, 320);
        show(sideOf({12000, 36000}));
        view.show();
        QCoreApplication::processEvents();
        log(&CaptureWaveformView::seek, [](qint64 f) { return QString("seek %1").arg(f); });
        log(&CaptureWaveformView::addBoundary, [](qint64 f) { return QString("add %1").arg(f); });
        log(&CaptureWaveformView::moveBoundary,
            [](qsizetype i, qint64 f) { return QString("move %1 to %2").arg(i).arg(f); });
        log(&CaptureWaveformView::setTrimStart,
            [](qint64 f) { return QString("trim start %1").arg(f); });
        log(&CaptureWaveformView::setTrimEnd,
            [](qint64 f) { return QString("trim end %1").arg(f); });
        log(&CaptureWaveformView::setSelectedMarker, [](std::optional<qsizetype> i) {
            return i ? QString("select %1").arg(*i) : QString("select -");
        });
        QObject::connect(&view, &CaptureWaveformView::previewChanged,
                         [this](const std::optional<CaptureSide>& side) {
                             previews_ << side;
                             if (!side) {
                                 signals_ << "preview none";
                             }
                         });
    }

    // Records each emission of signal as the line text makes of its arguments.
    template <typename Signal, typename Text> void log(Signal signal, Text text)
    {
        QObject::connect(&view, signal, [this, text](auto... args) { signals_ << text(args...); });
    }

    void show(const CaptureSide& side, FrameRange range = {0, 48000})
    {
        state.side = side;
        state.visibleRange = range;
        view.setState(state);
    }

    // Press at the grip's centre, move by dx points (in one step), release.
    static void drag(QWidget* grip, double dx, double dy = 0)
    {
        ASSERT_NE(grip, nullptr);
        ASSERT_TRUE(grip->isVisible());
        const QPoint from = grip->rect().center();
        const QPointF global = grip->mapToGlobal(QPointF(from)) + QPointF(dx, dy);
        QTest::mousePress(grip, Qt::LeftButton, {}, from);
        QTest::mouseMove(grip, grip->mapFromGlobal(global).toPoint());
        QTest::mouseRelease(grip, Qt::LeftButton, {}, grip->mapFromGlobal(global).toPoint());
    }

    CaptureWaveformState state;
    CaptureWaveformView view;
    QStringList signals_;
    QList<std::optional<CaptureSide>> previews_;
};

TEST_F(WaveformEditor, BoundaryDragsStopAtTheirNeighboursTrimsAndTheMastersEnds)
{
    struct Case
    {
        Frame trimStart, trimEnd;
        qsizetype index;
        double dx;
        qint64 frame;
    };
    for (const Case& c : {
             Case{{}, {}, 0, -2000, 1},
             Case{1000, {}, 0, -2000, 1001},
             Case{{}, {}, 0, 2000, 35999},
             Case{{}, {}, 1, 2000, 47999},
             Case{{}, 40000, 1, 2000, 39999},
             Case{{}, {}, 1, -2000, 12001},
         }) {
        signals_.clear();
        previews_.clear();
        show(sideOf({12000, 36000}, c.trimStart, c.trimEnd));
        drag(view.boundaryMarker(c.index), c.dx);
        const QString moved = QString("move %1 to %2").arg(c.index).arg(c.frame);
        EXPECT_THAT(signals_, ElementsAre(QString("select %1").arg(c.index), moved, "preview none"))
            << c.frame;
        ASSERT_EQ(previews_.size(), 2);
        ASSERT_TRUE(previews_[0]);
        EXPECT_EQ(previews_[0]->markers[c.index], c.frame);
        EXPECT_EQ(previews_[0]->trimStartFrame, c.trimStart);
    }
}

TEST_F(WaveformEditor, TrimDragsStayInsideTheAllowedRangeAndStoreDefaultsAsAbsent)
{
    QWidget* const start = view.trimHandle(TrimEdge::start);
    QWidget* const end = view.trimHandle(TrimEdge::end);
    struct Case
    {
        QList<qint64> markers;
        QWidget* grip;
        double dx;
        QString committed; // empty: no range, nothing committed
        Frame previewStart, previewEnd;
    };
    for (const Case& c : {
             Case{{12000, 36000}, start, 2000, "trim start 11999", 11999, {}},
             Case{{12000, 36000}, view.trackOneBadge(), 2000, "trim start 11999", 11999, {}},
             Case{{12000, 36000}, end, -2000, "trim end 36001", {}, 36001},
             Case{{}, end, -2000, "trim end 1", {}, 1},
             Case{{12000}, end, 20, "trim end 48000", {}, {}},
             Case{{36000, 12000}, start, 200, "", {}, {}},
         }) {
        signals_.clear();
        previews_.clear();
        show(sideOf(c.markers));
        drag(c.grip, c.dx);
        if (c.committed.isEmpty()) {
            EXPECT_THAT(signals_, ElementsAre("preview none"));
            continue;
        }
        EXPECT_THAT(signals_, ElementsAre(c.committed, "preview none"));
        ASSERT_TRUE(previews_.value(0));
        EXPECT_EQ(previews_[0]->trimStartFrame, c.previewStart) << c.committed.toStdString();
        EXPECT_EQ(previews_[0]->trimEndFrame, c.previewEnd) << c.committed.toStdString();
    }
}

TEST_F(WaveformEditor, MovementBelowTwoPointsIsAClick)
{
    show(sideOf({12000, 36000}, 6000));
    drag(view.boundaryMarker(1), 1);
    drag(view.trimHandle(TrimEdge::start), 1, 1);
    drag(view.boundaryMarker(0), 0, 2); // two points, even upright, make a drag
    const double width = view.waveformArea()->width();
    const qint64 unmoved = waveformFrameAt(waveformXPosition(12000, state.visibleRange, width),
                                           state.visibleRange, width);
    EXPECT_THAT(signals_, ElementsAre("select 1", "select -", "seek 6000", "select 0",
                                      QString("move 0 to %1").arg(unmoved), "preview none"));
}

TEST_F(WaveformEditor, ADragWhoseBoundaryVanishesEndsWithoutCommitting)
{
    QWidget* grip = view.boundaryMarker(1);
    const QPoint from = grip->rect().center();
    QTest::mousePress(grip, Qt::LeftButton, {}, from);
    QTest::mouseMove(grip, from + QPoint(-40, 0));
    show(sideOf({12000})); // the controller dropped the boundary meanwhile
    QTest::mouseMove(grip, from + QPoint(-80, 0));
    QTest::mouseRelease(grip, Qt::LeftButton, {}, from + QPoint(-80, 0));
    EXPECT_THAT(signals_, ElementsAre("select 1", "preview none"));
    EXPECT_FALSE(view.boundaryMarker(1));
}

TEST_F(WaveformEditor, ClicksSeekOrAddAndDoubleClicksAdd)
{
    QWidget* area = view.waveformArea();
    const QPoint at(area->width() / 4, area->height() / 2);
    const qint64 frame = waveformFrameAt(at.x(), state.visibleRange, area->width());
    QTest::mouseClick(area, Qt::LeftButton, {}, at);
    QTest::mouseDClick(area, Qt::LeftButton, {}, at);
    state.addMarkersOnClick = true;
    view.setState(state);
    QTest::mouseClick(area, Qt::LeftButton, {}, at);
    EXPECT_THAT(signals_, ElementsAre(QString("seek %1").arg(frame), QString("add %1").arg(frame),
                                      QString("add %1").arg(frame)));
}

TEST_F(WaveformEditor, OnlyBoundariesInsideTheVisibleRangeCanBeGrabbed)
{
    show(sideOf({12000, 36000}, 3000), {6000, 30000});
    EXPECT_TRUE(view.boundaryMarker(0)->isVisible());
    EXPECT_FALSE(view.boundaryMarker(1)->isVisible());
    EXPECT_FALSE(view.trimHandle(TrimEdge::start)->isVisible());
    EXPECT_FALSE(view.trackOneBadge()->isVisible());
    EXPECT_FALSE(view.trimHandle(TrimEdge::end)->isVisible());
    // The slider shows the start of the view over the scrollable length and scrolls it.
    QSlider* slider = view.positionSlider();
    EXPECT_TRUE(slider->isVisible());
    EXPECT_EQ(slider->value(), slider->maximum() / 4);
    double scrolled = -1;
    QObject::connect(&view, &CaptureWaveformView::scrollTo, [&](double f) { scrolled = f; });
    slider->setValue(slider->maximum() / 2);
    EXPECT_DOUBLE_EQ(scrolled, 0.5);
}

TEST_F(WaveformEditor, ResetTrimNeedsATrimAndAnIdleController)
{
    struct Case
    {
        Frame start, end;
        bool busy, enabled;
    };
    for (const Case& c : {Case{{}, {}, false, false}, Case{100, {}, false, true},
                          Case{{}, 47000, false, true}, Case{100, 47000, true, false}}) {
        state.side = sideOf({12000}, c.start, c.end);
        state.isBusy = c.busy;
        view.setState(state);
        std::unique_ptr<QMenu> menu(view.createContextMenu(nullptr));
        ASSERT_EQ(menu->actions().size(), 1);
        EXPECT_EQ(menu->actions()[0]->text(), "Reset side trim");
        EXPECT_EQ(menu->actions()[0]->isEnabled(), c.enabled);
    }
}

TEST_F(WaveformEditor, ControlsCallTheControllerAndNameThemselves)
{
    for (int k = 0; k < 1100; ++k) {
        const double t = k / 1100.0;
        const auto level =
            static_cast<float>((0.25 + 0.6 * std::abs(std::sin(t * 9.0))) *
                               (0.55 + 0.45 * std::abs(std::sin(k * 0.7))) * (t > 0.04 ? 1 : 0.05));
        state.waveform.append({-level * 0.92F, level});
    }
    state.playhead = 20500;
    state.selectedMarker = 1;
    state.isPlaying = true;
    show(sideOf({11000, 24000, 36000}, 1800, 45500));
    // Rendered as in the application, whose windows are always dark.
    const QPalette light = QApplication::palette();
    applyDarkAppearance(*qApp);
    QCoreApplication::processEvents();
    saveRender(view, QStringLiteral("capture_waveform_view"));
    QApplication::setPalette(light);

    log(&CaptureWaveformView::zoom, [](double f) { return QString("zoom %1").arg(f); });
    log(&CaptureWaveformView::auditionBoundary, [](qsizetype i, bool after) {
        return QString("listen %1 %2").arg(i).arg(after ? "after" : "before");
    });
    log(&CaptureWaveformView::deleteSelectedBoundary, [] { return QString("delete"); });
    for (QToolButton* button :
         {view.zoomInButton(), view.zoomOutButton(), view.listenBeforeButton(),
          view.listenAfterButton(), view.deleteButton()}) {
        button->click();
    }
    EXPECT_THAT(signals_, ElementsAre("zoom 0.5", "zoom 2", "listen 1 before", "listen 1 after",
                                      "delete", "select -"));
    EXPECT_FALSE(view.deleteButton()->isEnabled()); // nothing selected any more

    // Names that follow the state: the play key's action and each boundary's track.
    EXPECT_EQ(view.playButton()->accessibleName(), "Pause");
    EXPECT_EQ(view.boundaryMarker(0)->accessibleName(), "Track 2 boundary");
    EXPECT_EQ(view.boundaryMarker(1)->accessibleName(), "Track 3 boundary");
}

TEST(CaptureMenuCommands, OpenTheWindowFirstAndAreDisabledWhileBusy)
{
    QStringList calls;
    CaptureCommands commands([&calls] { calls << "open window"; });
    QObject::connect(&commands, &CaptureCommands::beginNewProject, [&] { calls << "new"; });
    QObject::connect(&commands, &CaptureCommands::openExistingProject, [&] { calls << "open"; });
    QAction* newCapture = commands.newCaptureAction();
    QAction* open = commands.openProjectAction();
    EXPECT_EQ(newCapture->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_N));
    EXPECT_EQ(open->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_O));

    commands.setBusy(true);
    EXPECT_FALSE(newCapture->isEnabled());
    EXPECT_FALSE(open->isEnabled());
    // Even a trigger that bypasses the disabled state does nothing.
    QMetaObject::invokeMethod(newCapture, "triggered", Q_ARG(bool, false));
    EXPECT_THAT(calls, IsEmpty());

    commands.setBusy(false);
    newCapture->trigger();
    open->trigger();
    EXPECT_THAT(calls, ElementsAre("open window", "new", "open window", "open"));
}

} // namespace
} // namespace brevalo::testing_support
