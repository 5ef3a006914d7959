#include "app/capture_waveform_view.h"

#include "app/faceplate_widgets.h"
#include "app/panel_icons.h"
#include "workflow/capture_edits.h"

#include <QCheckBox>
#include <QContextMenuEvent>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QSlider>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <utility>

namespace brevalo {

namespace {

// Drags start after this much pointer movement (points); anything shorter is a click.
constexpr double dragThreshold = 2.0;
constexpr int markerHitWidth = 22;
constexpr QSize trimTagSize{48, 24};
constexpr int badgeSize = 18;
// The slider's steps across the scrollable length.
constexpr int sliderSteps = 10000;

QColor amber()
{
    return faceplate::lampAmber();
}

QColor withAlpha(QColor color, double alpha)
{
    color.setAlphaF(static_cast<float>(alpha));
    return color;
}

QString edgeWord(TrimEdge edge)
{
    return edge == TrimEdge::start ? QStringLiteral("start") : QStringLiteral("end");
}

QToolButton* symbolButton(const QString& symbol, const QString& help, QWidget* parent)
{
    auto* button = new QToolButton(parent);
    setPanelIcon(button, symbol, faceplate::legendColor());
    button->setIconSize(QSize(18, 18));
    button->setAutoRaise(true);
    button->setAccessibleName(help);
    button->setToolTip(help);
    button->setAccessibleDescription(help);
    return button;
}

QToolButton* textButton(const QString& text, QWidget* parent)
{
    auto* button = new QToolButton(parent);
    button->setText(text);
    button->setAccessibleName(text);
    button->setAutoRaise(true);
    return button;
}

QLabel* caption(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setWordWrap(true);
    label->setAccessibleName(text);
    QFont font = label->font();
    font.setPointSizeF(font.pointSizeF() * 0.9);
    label->setFont(font);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, faceplate::engravingColor());
    label->setPalette(palette);
    return label;
}

} // namespace

QString trimEdgeText(TrimEdge edge)
{
    return edge == TrimEdge::start ? QStringLiteral("START") : QStringLiteral("END");
}

double waveformXPosition(qint64 frame, const FrameRange& visible, double width)
{
    const double count = static_cast<double>(std::max<qint64>(visible.length(), 1));
    return width * static_cast<double>(frame - visible.start) / count;
}

qint64 waveformFrameAt(double x, const FrameRange& visible, double width)
{
    const qint64 count = std::max<qint64>(visible.length(), 1);
    double ratio = width >= 1.0 ? x / width : x;
    ratio = std::isnan(ratio) ? 0.0 : std::clamp(ratio, 0.0, 1.0);
    return visible.start + static_cast<qint64>(ratio * static_cast<double>(count));
}

// The drawing surface: grid, peaks, dimming and playhead; it reports clicks to the view. The
// boundary markers and trim handles are Grip children on top of it.
class CaptureWaveformView::Canvas : public QWidget
{
public:
    explicit Canvas(CaptureWaveformView* view) : QWidget(view), view_(view)
    {
        setAccessibleName(QStringLiteral("Waveform"));
        setMinimumHeight(150);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        const double w = width();
        const double h = height();
        const double middle = h / 2.0;
        painter.fillRect(rect(), faceplate::wellColor());

        painter.setPen(QPen(withAlpha(faceplate::legendColor(), 0.16), 0.5));
        for (int i = 0; i <= 10; ++i) {
            const double x = std::clamp(w * i / 10.0, 0.25, w - 0.25);
            painter.drawLine(QPointF(x, 0), QPointF(x, h));
        }
        painter.drawLine(QPointF(0, middle), QPointF(w, middle));

        const CaptureWaveformState& state = view_->state_;
        const auto count = state.waveform.size();
        const double step = w / static_cast<double>(std::max<qsizetype>(count, 2) - 1);
        painter.setPen(QPen(withAlpha(faceplate::lampBlue(), 0.85), 1.0));
        for (qsizetype k = 0; k < count; ++k) {
            const WaveformPeak& peak = state.waveform[k];
            const double x = step * static_cast<double>(k);
            painter.drawLine(QPointF(x, middle - peak.maximum * middle * 0.9),
                             QPointF(x, middle - peak.minimum * middle * 0.9));
        }

        if (view_->masterFrameCount() >= 1) {
            const QColor dim = withAlpha(faceplate::wellColor(), 0.8);
            const double start = view_->xOf(view_->displayedTrimStart());
            const double end = view_->xOf(view_->displayedTrimEnd());
            painter.fillRect(QRectF(0, 0, std::clamp(start, 0.0, w), h), dim);
            const double dimFrom = std::clamp(end, 0.0, w);
            painter.fillRect(QRectF(dimFrom, 0, w - dimFrom, h), dim);
            painter.setPen(QPen(withAlpha(faceplate::legendColor(), 0.7), 1.0));
            for (const double x : {start, end}) {
                if (x >= 0 && x <= w) {
                    painter.drawLine(QPointF(x, 0), QPointF(x, h));
                }
            }
        }

        const double playhead = view_->xOf(state.playhead);
        if (playhead >= 0 && playhead <= w) {
            painter.setPen(QPen(faceplate::legendColor(), 1.0));
            painter.drawLine(QPointF(playhead, 0), QPointF(playhead, h));
            // A small head tells the playhead from the trim edges.
            QPainterPath head;
            head.moveTo(playhead - 5, 0);
            head.lineTo(playhead + 5, 0);
            head.lineTo(playhead, 6);
            head.closeSubpath();
            painter.setRenderHint(QPainter::Antialiasing);
            painter.fillPath(head, faceplate::legendColor());
        }
    }

    void resizeEvent(QResizeEvent* event) override
    {
        QWidget::resizeEvent(event);
        view_->layoutGrips();
    }

    void mousePressEvent(QMouseEvent* event) override
    {
        if (event->button() != Qt::LeftButton) {
            event->ignore();
            return;
        }
        pressPosition_ = event->position();
        event->accept();
    }

    void mouseReleaseEvent(QMouseEvent* event) override
    {
        if (event->button() != Qt::LeftButton || !pressPosition_) {
            event->ignore();
            return;
        }
        const QPointF moved = event->position() - *pressPosition_;
        pressPosition_.reset();
        event->accept();
        if (std::hypot(moved.x(), moved.y()) < dragThreshold) {
            view_->canvasClicked(event->position().x());
        }
    }

    void mouseDoubleClickEvent(QMouseEvent* event) override
    {
        if (event->button() != Qt::LeftButton) {
            event->ignore();
            return;
        }
        // The release that follows belongs to the double click, not to a second single click.
        pressPosition_.reset();
        event->accept();
        view_->canvasDoubleClicked(event->position().x());
    }

    void contextMenuEvent(QContextMenuEvent* event) override
    {
        QMenu* menu = view_->createContextMenu(this);
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->popup(event->globalPos());
        event->accept();
    }

private:
    CaptureWaveformView* view_;
    std::optional<QPointF> pressPosition_;
};

// A boundary marker, a trim handle or the track-one badge: draws itself and hands its pointer
// events to the view, which runs the gesture.
class CaptureWaveformView::Grip : public QWidget
{
public:
    Grip(CaptureWaveformView* view, GripKind kind, QWidget* parent)
        : QWidget(parent), view_(view), kind_(kind)
    {
        setCursor(Qt::SizeHorCursor);
        setFocusPolicy(Qt::NoFocus);
        switch (kind) {
        case GripKind::boundary:
            break;
        case GripKind::trimStart:
        case GripKind::trimEnd: {
            const TrimEdge edge = kind == GripKind::trimStart ? TrimEdge::start : TrimEdge::end;
            const QString help = QStringLiteral("Drag to set the side ") + edgeWord(edge) +
                                 QStringLiteral(". Original audio is preserved.");
            setToolTip(help);
            setAccessibleDescription(help);
            setAccessibleName(QStringLiteral("Side ") + edgeWord(edge) +
                              QStringLiteral(" trim handle"));
            resize(trimTagSize);
            break;
        }
        case GripKind::trackOne: {
            const QString help =
                QStringLiteral("Track 1 starts here. Drag to trim audio before the first track.");
            setToolTip(help);
            setAccessibleDescription(help);
            setAccessibleName(QStringLiteral("Track 1 start"));
            resize(badgeSize, badgeSize);
            break;
        }
        }
    }

    void setIndex(qsizetype index)
    {
        if (index_ != index || accessibleName().isEmpty()) {
            index_ = index;
            // Boundary i is where track i + 2 begins.
            setAccessibleName(QStringLiteral("Track %1 boundary").arg(index + 2));
        }
    }

    void setSelected(bool selected)
    {
        if (selected_ != selected) {
            selected_ = selected;
            update();
        }
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QFont font = painter.font();
        font.setBold(true);
        switch (kind_) {
        case GripKind::boundary: {
            const double centre = width() / 2.0;
            painter.setPen(QPen(amber(), selected_ ? 2.0 : 1.0));
            painter.drawLine(QPointF(centre, 0), QPointF(centre, height()));
            const QRectF badge(centre - 10, 3, 20, 16);
            painter.setPen(selected_ ? QPen(faceplate::legendColor(), 1.5) : Qt::NoPen);
            painter.setBrush(amber());
            painter.drawRoundedRect(badge, 4, 4);
            font.setPointSizeF(7.5);
            painter.setFont(font);
            painter.setPen(faceplate::wellColor());
            painter.drawText(badge, Qt::AlignCenter, QString::number(index_ + 2));
            break;
        }
        case GripKind::trimStart:
        case GripKind::trimEnd: {
            const QRectF tag = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
            painter.setPen(QPen(faceplate::wellColor(), 1.0));
            painter.setBrush(faceplate::legendColor());
            painter.drawRoundedRect(tag, 4, 4);
            font.setPointSizeF(7.5);
            painter.setFont(font);
            painter.setPen(faceplate::wellColor());
            painter.drawText(
                tag, Qt::AlignCenter,
                trimEdgeText(kind_ == GripKind::trimStart ? TrimEdge::start : TrimEdge::end));
            break;
        }
        case GripKind::trackOne: {
            const QRectF badge = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
            painter.setPen(Qt::NoPen);
            painter.setBrush(faceplate::legendColor());
            painter.drawRoundedRect(badge, 4, 4);
            QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
            mono.setBold(true);
            mono.setPointSizeF(8);
            painter.setFont(mono);
            painter.setPen(faceplate::wellColor());
            painter.drawText(badge, Qt::AlignCenter, QStringLiteral("1"));
            break;
        }
        }
    }

    void mousePressEvent(QMouseEvent* event) override
    {
        if (event->button() != Qt::LeftButton) {
            event->ignore();
            return;
        }
        event->accept();
        view_->gripPressed(kind_, index_, event->globalPosition());
    }

    // A second quick press on a grip starts a gesture like the first.
    void mouseDoubleClickEvent(QMouseEvent* event) override { mousePressEvent(event); }

    void mouseMoveEvent(QMouseEvent* event) override
    {
        event->accept();
        if (event->buttons().testFlag(Qt::LeftButton)) {
            view_->gripMoved(event->globalPosition());
        }
    }

    void mouseReleaseEvent(QMouseEvent* event) override
    {
        if (event->button() != Qt::LeftButton) {
            event->ignore();
            return;
        }
        event->accept();
        view_->gripReleased();
    }

private:
    CaptureWaveformView* view_;
    GripKind kind_;
    qsizetype index_ = 0;
    bool selected_ = false;
};

CaptureWaveformView::CaptureWaveformView(QWidget* parent) : QWidget(parent)
{
    setAccessibleName(QStringLiteral("Waveform editor"));
    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(6);

    buildControls();

    canvas_ = new Canvas(this);
    root->addWidget(canvas_, 1);
    startHandle_ = new Grip(this, GripKind::trimStart, canvas_);
    endHandle_ = new Grip(this, GripKind::trimEnd, canvas_);
    trackOneBadge_ = new Grip(this, GripKind::trackOne, canvas_);

    loadingLabel_ = new QLabel(waveformText::loading, canvas_);
    loadingLabel_->setAccessibleName(waveformText::loading);
    loadingLabel_->setAlignment(Qt::AlignCenter);
    loadingLabel_->setAttribute(Qt::WA_TransparentForMouseEvents);
    loadingLabel_->hide();

    positionSlider_ = new QSlider(Qt::Horizontal, this);
    positionSlider_->setRange(0, sliderSteps);
    positionSlider_->setAccessibleName(waveformText::horizontalPosition);
    positionSlider_->setToolTip(waveformText::horizontalPosition);
    connect(positionSlider_, &QSlider::valueChanged, this, [this](int value) {
        if (!updatingControls_) {
            emit scrollTo(static_cast<double>(value) / sliderSteps);
        }
    });
    root->addWidget(positionSlider_);

    root->addWidget(caption(waveformText::clickCaption, this));
    root->addWidget(caption(waveformText::trimCaption, this));

    updateControls();
    layoutGrips();
}

CaptureWaveformView::~CaptureWaveformView() = default;

void CaptureWaveformView::buildControls()
{
    auto* row = new QHBoxLayout;
    row->setSpacing(4);
    previousButton_ = symbolButton(QStringLiteral("backward.end.fill"),
                                   QStringLiteral("Previous boundary"), this);
    playButton_ = symbolButton(QStringLiteral("play.fill"), QStringLiteral("Play"), this);
    playButton_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    playButton_->setToolTip({});
    playButton_->setAccessibleDescription({});
    nextButton_ =
        symbolButton(QStringLiteral("forward.end.fill"), QStringLiteral("Next boundary"), this);
    zoomInButton_ =
        symbolButton(QStringLiteral("plus.magnifyingglass"), QStringLiteral("Zoom in"), this);
    zoomOutButton_ =
        symbolButton(QStringLiteral("minus.magnifyingglass"), QStringLiteral("Zoom out"), this);
    addButton_ = symbolButton(QStringLiteral("flag.fill"),
                              QStringLiteral("Add a boundary at the cursor"), this);
    deleteButton_ =
        symbolButton(QStringLiteral("trash"), QStringLiteral("Delete selected boundary"), this);
    deleteButton_->setText(QStringLiteral("Delete"));
    deleteButton_->setAccessibleName(QStringLiteral("Delete"));
    deleteButton_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    listenBeforeButton_ = textButton(QStringLiteral("Listen before"), this);
    listenAfterButton_ = textButton(QStringLiteral("Listen after"), this);
    clickModeSwitch_ = new QCheckBox(waveformText::clickMode, this);
    clickModeSwitch_->setAccessibleName(waveformText::clickMode);

    connect(previousButton_, &QToolButton::clicked, this, &CaptureWaveformView::jumpToPreviousStop);
    connect(playButton_, &QToolButton::clicked, this, &CaptureWaveformView::togglePlayback);
    connect(nextButton_, &QToolButton::clicked, this, &CaptureWaveformView::jumpToNextStop);
    connect(zoomInButton_, &QToolButton::clicked, this, [this] { emit zoom(0.5); });
    connect(zoomOutButton_, &QToolButton::clicked, this, [this] { emit zoom(2.0); });
    connect(addButton_, &QToolButton::clicked, this, &CaptureWaveformView::addBoundaryAtPlayhead);
    connect(deleteButton_, &QToolButton::clicked, this, [this] {
        emit deleteSelectedBoundary();
        selectMarker(std::nullopt);
    });
    for (const bool after : {false, true}) {
        QToolButton* button = after ? listenAfterButton_ : listenBeforeButton_;
        connect(button, &QToolButton::clicked, this, [this, after] {
            if (state_.selectedMarker) {
                emit auditionBoundary(*state_.selectedMarker, after);
            }
        });
    }
    connect(clickModeSwitch_, &QCheckBox::toggled, this, [this](bool on) {
        if (!updatingControls_) {
            state_.addMarkersOnClick = on;
            emit setAddMarkersOnClick(on);
        }
    });

    for (QWidget* widget :
         {static_cast<QWidget*>(previousButton_), static_cast<QWidget*>(playButton_),
          static_cast<QWidget*>(nextButton_)}) {
        row->addWidget(widget);
    }
    row->addSpacing(10);
    row->addWidget(zoomInButton_);
    row->addWidget(zoomOutButton_);
    row->addSpacing(10);
    row->addWidget(addButton_);
    row->addWidget(deleteButton_);
    row->addSpacing(10);
    row->addWidget(listenBeforeButton_);
    row->addWidget(listenAfterButton_);
    row->addStretch(1);
    row->addWidget(clickModeSwitch_);
    static_cast<QVBoxLayout*>(layout())->addLayout(row);
}

void CaptureWaveformView::setState(const CaptureWaveformState& state)
{
    const bool sameSide = state.side.id == state_.side.id;
    state_ = state;
    if (gesture_ && !gesture_->cancelled) {
        const bool lostBoundary =
            gesture_->kind == GripKind::boundary && gesture_->index >= state_.side.markers.size();
        if (!sameSide || lostBoundary || masterFrameCount() < 1) {
            cancelGesture();
        }
    }
    updateControls();
    layoutGrips();
    canvas_->update();
}

void CaptureWaveformView::cancelGesture()
{
    if (!gesture_ || gesture_->cancelled) {
        return;
    }
    // The rest of this press does nothing; its release must not commit or click.
    gesture_->cancelled = true;
    const bool previewing = dragFrame_ || trimDragFrame_;
    draggedIndex_.reset();
    dragFrame_.reset();
    draggedTrim_.reset();
    trimDragFrame_.reset();
    if (previewing) {
        emit previewChanged(std::nullopt);
    }
}

void CaptureWaveformView::hideEvent(QHideEvent* event)
{
    // A release that will never come must not leave the track list showing a provisional side.
    cancelGesture();
    layoutGrips();
    QWidget::hideEvent(event);
}

qint64 CaptureWaveformView::masterFrameCount() const
{
    return state_.side.master ? state_.side.master->frameCount : 0;
}

qint64 CaptureWaveformView::displayedTrimStart() const
{
    if (draggedTrim_ == TrimEdge::start && trimDragFrame_) {
        return *trimDragFrame_;
    }
    return state_.side.trimStartFrame.value_or(0);
}

qint64 CaptureWaveformView::displayedTrimEnd() const
{
    if (draggedTrim_ == TrimEdge::end && trimDragFrame_) {
        return *trimDragFrame_;
    }
    return state_.side.trimEndFrame.value_or(masterFrameCount());
}

qint64 CaptureWaveformView::markerFrame(qsizetype index) const
{
    if (draggedIndex_ == index && dragFrame_) {
        return *dragFrame_;
    }
    return state_.side.markers[index];
}

double CaptureWaveformView::xOf(qint64 frame) const
{
    return waveformXPosition(frame, state_.visibleRange, canvas_->width());
}

qint64 CaptureWaveformView::frameAt(double x) const
{
    return waveformFrameAt(x, state_.visibleRange, canvas_->width());
}

QWidget* CaptureWaveformView::waveformArea() const
{
    return canvas_;
}

QWidget* CaptureWaveformView::boundaryMarker(qsizetype index) const
{
    return index >= 0 && index < state_.side.markers.size() && index < markers_.size()
               ? markers_[index]
               : nullptr;
}

QWidget* CaptureWaveformView::trimHandle(TrimEdge edge) const
{
    return edge == TrimEdge::start ? startHandle_ : endHandle_;
}

QWidget* CaptureWaveformView::trackOneBadge() const
{
    return trackOneBadge_;
}

void CaptureWaveformView::updateControls()
{
    updatingControls_ = true;
    const bool hasAudio = masterFrameCount() >= 1;
    const bool canEdit = hasAudio && !state_.isBusy;
    const auto& selected = state_.selectedMarker;
    const bool hasSelection = selected && *selected >= 0 && *selected < state_.side.markers.size();

    setPanelIcon(playButton_,
                 state_.isPlaying ? QStringLiteral("pause.fill") : QStringLiteral("play.fill"),
                 faceplate::legendColor());
    const QString playText = state_.isPlaying ? QStringLiteral("Pause") : QStringLiteral("Play");
    playButton_->setText(playText);
    playButton_->setAccessibleName(playText);
    for (QToolButton* button :
         {previousButton_, playButton_, nextButton_, zoomInButton_, zoomOutButton_}) {
        button->setEnabled(hasAudio);
    }
    addButton_->setEnabled(canEdit);
    deleteButton_->setEnabled(canEdit && hasSelection);
    listenBeforeButton_->setEnabled(canEdit && hasSelection);
    listenAfterButton_->setEnabled(canEdit && hasSelection);
    clickModeSwitch_->setChecked(state_.addMarkersOnClick);

    const qint64 total = masterFrameCount();
    const qint64 shown = std::max<qint64>(state_.visibleRange.length(), 1);
    positionSlider_->setVisible(hasAudio && state_.visibleRange.length() < total);
    const double fraction = static_cast<double>(state_.visibleRange.start) /
                            static_cast<double>(std::max<qint64>(total - shown, 1));
    positionSlider_->setValue(
        static_cast<int>(std::lround(std::clamp(fraction, 0.0, 1.0) * sliderSteps)));

    loadingLabel_->setVisible(state_.isLoadingWaveform);
    updatingControls_ = false;
}

void CaptureWaveformView::layoutGrips()
{
    if (!loadingLabel_) {
        return; // still being built
    }
    const double w = canvas_->width();
    const int h = canvas_->height();
    const bool hasAudio = masterFrameCount() >= 1;
    // Keeps the grip under the pointer on screen, so its release still reaches it.
    const auto held = [this](GripKind kind, qsizetype index) {
        return gesture_ && !gesture_->cancelled && gesture_->kind == kind &&
               (kind != GripKind::boundary || gesture_->index == index);
    };
    const auto inView = [w](double x) { return x >= 0.0 && x <= w; };

    const qsizetype count = hasAudio ? state_.side.markers.size() : 0;
    while (markers_.size() < count) {
        auto* grip = new Grip(this, GripKind::boundary, canvas_);
        grip->setIndex(markers_.size());
        markers_.append(grip);
    }
    for (qsizetype i = 0; i < markers_.size(); ++i) {
        Grip* grip = markers_[i];
        if (i >= count) {
            grip->hide();
            continue;
        }
        const double x = xOf(markerFrame(i));
        grip->setIndex(i);
        grip->setSelected(state_.selectedMarker == i);
        grip->setGeometry(static_cast<int>(std::lround(x)) - markerHitWidth / 2, 0, markerHitWidth,
                          h);
        grip->setVisible(inView(x) || held(GripKind::boundary, i));
    }

    const double start = xOf(displayedTrimStart());
    const double end = xOf(displayedTrimEnd());
    const int startX = static_cast<int>(std::lround(start));
    const int endX = static_cast<int>(std::lround(end));
    const int maxLeft = std::max(static_cast<int>(w) - trimTagSize.width(), 0);
    startHandle_->move(std::clamp(startX, 0, maxLeft), h - trimTagSize.height());
    endHandle_->move(std::clamp(endX - trimTagSize.width(), 0, maxLeft), h - trimTagSize.height());
    trackOneBadge_->move(std::clamp(startX + 3, 0, std::max(static_cast<int>(w) - badgeSize, 0)),
                         3);
    const bool startShown =
        hasAudio && (inView(start) || held(GripKind::trimStart, 0) || held(GripKind::trackOne, 0));
    startHandle_->setVisible(startShown);
    trackOneBadge_->setVisible(startShown);
    endHandle_->setVisible(hasAudio && (inView(end) || held(GripKind::trimEnd, 0)));
    // Handles over boundaries, so a trim at a boundary's neighbour stays reachable.
    startHandle_->raise();
    endHandle_->raise();
    trackOneBadge_->raise();

    loadingLabel_->setGeometry(canvas_->rect());
    loadingLabel_->raise();
}

QMenu* CaptureWaveformView::createContextMenu(QWidget* parent)
{
    auto* menu = new QMenu(parent);
    QAction* reset = menu->addAction(waveformText::resetTrim);
    const bool hasTrim = state_.side.trimStartFrame || state_.side.trimEndFrame;
    reset->setEnabled(hasTrim && !state_.isBusy);
    connect(reset, &QAction::triggered, this, &CaptureWaveformView::resetTrim);
    return menu;
}

void CaptureWaveformView::canvasClicked(double x)
{
    if (masterFrameCount() < 1) {
        return;
    }
    const qint64 frame = frameAt(x);
    if (state_.addMarkersOnClick) {
        emit addBoundary(frame);
    } else {
        emit seek(frame);
    }
}

void CaptureWaveformView::canvasDoubleClicked(double x)
{
    if (masterFrameCount() >= 1) {
        emit addBoundary(frameAt(x));
    }
}

void CaptureWaveformView::selectMarker(std::optional<qsizetype> index)
{
    state_.selectedMarker = index;
    emit setSelectedMarker(index);
    updateControls();
    for (qsizetype i = 0; i < markers_.size(); ++i) {
        markers_[i]->setSelected(index == i);
    }
}

void CaptureWaveformView::gripPressed(GripKind kind, qsizetype index, QPointF global)
{
    if (masterFrameCount() < 1) {
        return;
    }
    Gesture gesture;
    gesture.kind = kind;
    gesture.index = index;
    gesture.pressGlobal = global;
    switch (kind) {
    case GripKind::boundary:
        if (index >= state_.side.markers.size()) {
            return;
        }
        gesture.startFrame = markerFrame(index);
        break;
    case GripKind::trimStart:
    case GripKind::trackOne:
        gesture.startFrame = displayedTrimStart();
        break;
    case GripKind::trimEnd:
        gesture.startFrame = displayedTrimEnd();
        break;
    }
    gesture_ = gesture;
}

void CaptureWaveformView::gripMoved(QPointF global)
{
    if (!gesture_ || gesture_->cancelled) {
        return;
    }
    const QPointF translation = global - gesture_->pressGlobal;
    if (!gesture_->dragging) {
        if (std::hypot(translation.x(), translation.y()) < dragThreshold) {
            return;
        }
        gesture_->dragging = true;
    }
    if (gesture_->kind == GripKind::boundary) {
        dragBoundary(gesture_->index, translation.x());
    } else {
        dragTrim(gesture_->kind == GripKind::trimEnd ? TrimEdge::end : TrimEdge::start,
                 translation.x());
    }
    layoutGrips();
    canvas_->update();
}

void CaptureWaveformView::dragBoundary(qsizetype index, double translation)
{
    const QList<qint64>& markers = state_.side.markers;
    draggedIndex_ = index;
    if (state_.selectedMarker != index) {
        selectMarker(index);
    }
    const qint64 candidate = frameAt(xOf(gesture_->startFrame) + translation);
    const qint64 lower =
        (index == 0 ? state_.side.trimStartFrame.value_or(0) : markers[index - 1]) + 1;
    qint64 upper = -1;
    if (index + 1 < markers.size()) {
        upper = markers[index + 1] - 1;
    } else if (state_.side.trimEndFrame) {
        upper = *state_.side.trimEndFrame - 1;
    } else if (state_.side.master) {
        upper = state_.side.master->frameCount - 1;
    }
    dragFrame_ = std::min(upper, std::max(candidate, lower));
    CaptureSide preview = state_.side;
    preview.markers[index] = *dragFrame_;
    emit previewChanged(preview);
}

void CaptureWaveformView::dragTrim(TrimEdge edge, double translation)
{
    draggedTrim_ = edge;
    const qint64 candidate = frameAt(xOf(gesture_->startFrame) + translation);
    // The same clamp the controller applies when the drag ends.
    const auto range =
        edge == TrimEdge::start ? trimStartRange(state_.side) : trimEndRange(state_.side);
    if (!range) {
        return;
    }
    const qint64 frame = std::min(range->upper, std::max(candidate, range->lower));
    trimDragFrame_ = frame;
    CaptureSide preview = state_.side;
    // A trim at its default is stored as absent.
    if (edge == TrimEdge::start) {
        preview.trimStartFrame = frame == 0 ? std::nullopt : std::optional<qint64>(frame);
    } else {
        preview.trimEndFrame =
            frame == masterFrameCount() ? std::nullopt : std::optional<qint64>(frame);
    }
    emit previewChanged(preview);
}

void CaptureWaveformView::gripReleased()
{
    if (!gesture_) {
        return;
    }
    const Gesture gesture = *gesture_;
    gesture_.reset();
    if (gesture.cancelled) {
        return;
    }
    if (gesture.dragging) {
        endDrag();
        return;
    }
    if (gesture.kind == GripKind::boundary) {
        selectMarker(gesture.index);
    } else {
        selectMarker(std::nullopt);
        emit seek(gesture.startFrame);
    }
}

void CaptureWaveformView::endDrag()
{
    const auto index = draggedIndex_;
    const auto frame = dragFrame_;
    const auto edge = draggedTrim_;
    const auto trimFrame = trimDragFrame_;
    draggedIndex_.reset();
    dragFrame_.reset();
    draggedTrim_.reset();
    trimDragFrame_.reset();
    if (index && frame) {
        emit moveBoundary(*index, *frame);
    }
    if (edge && trimFrame) {
        if (*edge == TrimEdge::start) {
            emit setTrimStart(*trimFrame);
        } else {
            emit setTrimEnd(*trimFrame);
        }
    }
    emit previewChanged(std::nullopt);
    layoutGrips();
    canvas_->update();
}

} // namespace brevalo
