#pragma once

// The waveform editor of one recorded side: draws the visible part of the side master's peaks,
// maps pointer positions to frames and back, and turns clicks and drags into requests for the
// capture workflow controller (seek, add, move and delete a boundary, set or reset a trim,
// zoom, scroll). It decides nothing itself: every request goes out as a signal named after the
// controller operation, and what the controller publishes comes back through setState. The only
// state it owns is that of a drag in progress; while a boundary or trim handle is dragged it
// sends a provisional copy of the side through previewChanged so the track list can follow.
//
// Frames are stereo frames of the side master counted from 0; positions are widget points.
//
// Threads: main thread.

#include "capture/capture_project.h"
#include "recording/waveform_peak.h"

#include <QList>
#include <QString>
#include <QWidget>

#include <optional>

class QCheckBox;
class QLabel;
class QMenu;
class QSlider;
class QToolButton;

namespace brevalo {

enum class TrimEdge
{
    start,
    end
};

// "START" or "END", the text on the handle.
QString trimEdgeText(TrimEdge edge);

namespace waveformText {
inline const QString clickCaption = QStringLiteral(
    "Click to seek · double-click to add · drag amber boundaries or the START/END trim handles. "
    "Dimmed audio is excluded from playback and export.");
inline const QString trimCaption = QStringLiteral(
    "Drag START/END to trim the side. Dimmed audio is skipped in playback and export. "
    "Right-click the waveform to reset the trim.");
inline const QString loading = QStringLiteral("Loading waveform…");
inline const QString resetTrim = QStringLiteral("Reset side trim");
inline const QString clickMode = QStringLiteral("Click waveform to add boundaries");
inline const QString horizontalPosition = QStringLiteral("Waveform horizontal position");
} // namespace waveformText

// Everything the view shows, as the controller publishes it.
struct CaptureWaveformState
{
    // The side being edited: its master (frame count), markers and trims.
    CaptureSide side;
    // Peaks of visibleRange, spread across the full width.
    QList<WaveformPeak> waveform;
    // Half-open range of frames shown across the full width.
    FrameRange visibleRange{0, 1};
    qint64 playhead = 0;
    bool isPlaying = false;
    bool isLoadingWaveform = false;
    std::optional<qsizetype> selectedMarker;
    bool addMarkersOnClick = false;
    // Recording, finalising or exporting: the controller refuses edits then.
    bool isBusy = false;

    bool operator==(const CaptureWaveformState&) const = default;
};

// x of a frame in a view width points wide showing visible (floating point, unclamped).
double waveformXPosition(qint64 frame, const FrameRange& visible, double width);
// The frame under x: x beyond either edge gives the first visible frame or the one just past
// the range; a NaN position gives the first.
qint64 waveformFrameAt(double x, const FrameRange& visible, double width);

class CaptureWaveformView : public QWidget
{
    Q_OBJECT
public:
    explicit CaptureWaveformView(QWidget* parent = nullptr);
    ~CaptureWaveformView() override;

    // Replaces what is shown. A drag in progress survives unless its boundary disappeared.
    void setState(const CaptureWaveformState& state);
    const CaptureWaveformState& state() const { return state_; }

    // The trim points as drawn: the provisional frame while a handle is dragged.
    qint64 displayedTrimStart() const;
    qint64 displayedTrimEnd() const;

    // The parts tests and the workspace look at.
    QWidget* waveformArea() const;
    // Null when the side has no marker i; hidden when it lies outside the visible range.
    QWidget* boundaryMarker(qsizetype index) const;
    QWidget* trimHandle(TrimEdge edge) const;
    QWidget* trackOneBadge() const;
    QToolButton* previousBoundaryButton() const { return previousButton_; }
    QToolButton* playButton() const { return playButton_; }
    QToolButton* nextBoundaryButton() const { return nextButton_; }
    QToolButton* zoomInButton() const { return zoomInButton_; }
    QToolButton* zoomOutButton() const { return zoomOutButton_; }
    QToolButton* addBoundaryButton() const { return addButton_; }
    QToolButton* deleteButton() const { return deleteButton_; }
    QToolButton* listenBeforeButton() const { return listenBeforeButton_; }
    QToolButton* listenAfterButton() const { return listenAfterButton_; }
    QCheckBox* clickModeSwitch() const { return clickModeSwitch_; }
    QSlider* positionSlider() const { return positionSlider_; }
    QLabel* loadingLabel() const { return loadingLabel_; }

    // The waveform's context menu, as a secondary click shows it.
    QMenu* createContextMenu(QWidget* parent);

signals:
    void seek(qint64 frame);
    void addBoundary(qint64 frame);
    void addBoundaryAtPlayhead();
    void moveBoundary(qsizetype index, qint64 frame);
    void deleteSelectedBoundary();
    void setSelectedMarker(std::optional<qsizetype> index);
    void setTrimStart(qint64 frame);
    void setTrimEnd(qint64 frame);
    void resetTrim();
    void togglePlayback();
    void jumpToPreviousStop();
    void jumpToNextStop();
    // Plays the two seconds before (after = false) or after the boundary.
    void auditionBoundary(qsizetype index, bool after);
    // factor < 1 zooms in.
    void zoom(double factor);
    // fraction 0 … 1 of the scrollable length.
    void scrollTo(double fraction);
    void setAddMarkersOnClick(bool enabled);
    // A provisional side while a boundary or trim handle is dragged; none when the drag ends.
    void previewChanged(const std::optional<brevalo::CaptureSide>& side);

protected:
    void hideEvent(QHideEvent* event) override;

private:
    class Canvas;
    class Grip;
    friend class Canvas;
    friend class Grip;

    enum class GripKind
    {
        boundary,
        trimStart,
        trimEnd,
        trackOne
    };

    // One press on a grip, from the press to the release.
    struct Gesture
    {
        GripKind kind = GripKind::boundary;
        qsizetype index = 0;
        QPointF pressGlobal;
        qint64 startFrame = 0;
        bool dragging = false;
        bool cancelled = false;
    };

    void buildControls();
    void updateControls();
    void layoutGrips();
    qint64 markerFrame(qsizetype index) const;
    double xOf(qint64 frame) const;
    qint64 frameAt(double x) const;
    qint64 masterFrameCount() const;

    void canvasClicked(double x);
    void canvasDoubleClicked(double x);
    void gripPressed(GripKind kind, qsizetype index, QPointF global);
    void gripMoved(QPointF global);
    void gripReleased();
    void dragBoundary(qsizetype index, double translation);
    void dragTrim(TrimEdge edge, double translation);
    void endDrag();
    void cancelGesture();
    void selectMarker(std::optional<qsizetype> index);

    CaptureWaveformState state_;
    // The drag in progress; all empty between drags.
    std::optional<Gesture> gesture_;
    std::optional<qsizetype> draggedIndex_;
    std::optional<qint64> dragFrame_;
    std::optional<TrimEdge> draggedTrim_;
    std::optional<qint64> trimDragFrame_;

    Canvas* canvas_ = nullptr;
    QList<Grip*> markers_;
    Grip* startHandle_ = nullptr;
    Grip* endHandle_ = nullptr;
    Grip* trackOneBadge_ = nullptr;
    QToolButton* previousButton_ = nullptr;
    QToolButton* playButton_ = nullptr;
    QToolButton* nextButton_ = nullptr;
    QToolButton* zoomInButton_ = nullptr;
    QToolButton* zoomOutButton_ = nullptr;
    QToolButton* addButton_ = nullptr;
    QToolButton* deleteButton_ = nullptr;
    QToolButton* listenBeforeButton_ = nullptr;
    QToolButton* listenAfterButton_ = nullptr;
    QCheckBox* clickModeSwitch_ = nullptr;
    QSlider* positionSlider_ = nullptr;
    QLabel* loadingLabel_ = nullptr;
    bool updatingControls_ = false;
};

} // namespace brevalo
