#include "app/level_meter_view.h"

#include "app/accessible_value.h"
#include "app/faceplate_widgets.h"
#include "app/meter_scale.h"

#include <QGridLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>

namespace brevalo {

namespace {

constexpr qreal segmentGap = 2.0; // px between segments
constexpr qreal segmentRadius = 1.5;
constexpr int barHeight = 18;
constexpr int scaleHeight = 16;

} // namespace

MeterScaleView::MeterScaleView(QWidget* parent) : QWidget(parent)
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setAccessibleName(QStringLiteral("Level scale"));
}

QSize MeterScaleView::sizeHint() const
{
    return QSize(320, scaleHeight);
}

QSize MeterScaleView::minimumSizeHint() const
{
    return QSize(160, scaleHeight);
}

void MeterScaleView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QFont f = font();
    f.setPointSize(7);
    painter.setFont(f);
    const QFontMetricsF metrics(f);
    const qreal w = width();
    for (const ScaleMark& mark : scaleMarks()) {
        const qreal x = meterPosition(mark.db) * w;
        painter.setPen(QPen(faceplate::engravingColor(), 1));
        painter.drawLine(QPointF(x, height() - 4), QPointF(x, height()));
        const qreal textWidth = metrics.horizontalAdvance(mark.label);
        // Keep the end labels inside the widget rather than centred on the ends of the bar.
        const qreal left = std::clamp(x - textWidth / 2, 0.0, w - textWidth);
        painter.setPen(faceplate::legendColor());
        painter.drawText(QPointF(left, metrics.ascent()), mark.label);
    }
}

LevelMeterBar::LevelMeterBar(QWidget* parent) : QWidget(parent)
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

QSize LevelMeterBar::sizeHint() const
{
    return QSize(320, barHeight);
}

QSize LevelMeterBar::minimumSizeHint() const
{
    return QSize(160, barHeight);
}

void LevelMeterBar::setLevels(double levelDBFS, double peakDBFS)
{
    if (level_ == levelDBFS && peak_ == peakDBFS) {
        return;
    }
    // Repaint only when what is lit changes; the numbers move every tick.
    bool changed = false;
    for (int i = 0; i < meterSegmentCount && !changed; ++i) {
        changed = isSegmentLit(i, level_, peak_) != isSegmentLit(i, levelDBFS, peakDBFS);
    }
    level_ = levelDBFS;
    peak_ = peakDBFS;
    if (changed) {
        update();
    }
}

QRectF LevelMeterBar::segmentRect(int segment, const QRectF& bar)
{
    const qreal width = (bar.width() - segmentGap * (meterSegmentCount - 1)) / meterSegmentCount;
    return QRectF(bar.left() + segment * (width + segmentGap), bar.top(), width, bar.height());
}

void LevelMeterBar::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF bar = QRectF(rect());
    for (int i = 0; i < meterSegmentCount; ++i) {
        QColor colour = segmentQColor(segmentColor(i));
        if (!isSegmentLit(i, level_, peak_)) {
            colour.setAlphaF(static_cast<float>(unlitSegmentOpacity));
        }
        QPainterPath path;
        path.addRoundedRect(segmentRect(i, bar), segmentRadius, segmentRadius);
        painter.fillPath(path, colour);
    }
}

LevelMeterView::LevelMeterView(const QString& label, bool showsScale, QWidget* parent)
    : QWidget(parent), label_(label)
{
    installAccessibleValueFactory();

    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setHorizontalSpacing(10);
    grid->setVerticalSpacing(3);

    name_ = new EngravedLabel(label.left(1).toUpper(), this, 10);
    name_->setFixedWidth(16);
    name_->setAlignment(Qt::AlignCenter);
    name_->setAccessibleName(label);

    bar_ = new LevelMeterBar(this);
    memory_ = new QPushButton(this);
    memory_->setObjectName(QStringLiteral("peakMemory"));
    memory_->setFixedWidth(92);
    memory_->setCursor(Qt::PointingHandCursor);
    clip_ = new LampButton(QStringLiteral("CLIP"), this);
    clip_->setObjectName(QStringLiteral("clipLamp"));

    if (showsScale) {
        scale_ = new MeterScaleView(this);
        grid->addWidget(scale_, 0, 1);
    }
    grid->addWidget(name_, 1, 0);
    grid->addWidget(bar_, 1, 1);
    grid->addWidget(memory_, 1, 2);
    grid->addWidget(clip_, 1, 3);
    grid->setColumnStretch(1, 1);

    // The value texts must exist before anyone asks for the accessibility interface.
    setAccessibleValue(bar_, {});
    setAccessibleValue(memory_, {});
    setAccessibleValue(clip_, {});

    connect(memory_, &QPushButton::clicked, this, &LevelMeterView::releasePeak);
    connect(clip_, &QAbstractButton::clicked, this, [this] {
        if (reading_.isClipping) {
            emit clearClip();
        }
    });
    apply();
}

void LevelMeterView::setReading(const MeterReading& reading)
{
    if (reading_ == reading) {
        return;
    }
    reading_ = reading;
    apply();
}

void LevelMeterView::apply()
{
    const MeterTexts texts = meterTexts(label_, reading_);
    bar_->setLevels(reading_.levelDBFS, reading_.peakDBFS);
    bar_->setAccessibleName(texts.barLabel);
    setAccessibleValue(bar_, texts.barValue);

    memory_->setText(texts.memoryText);
    memory_->setAccessibleName(texts.memoryLabel);
    memory_->setToolTip(texts.memoryHelp);
    memory_->setWhatsThis(texts.memoryHelp);
    memory_->setAccessibleDescription(texts.memoryHint);
    setAccessibleValue(memory_, texts.memoryValue);

    clip_->setLit(reading_.isClipping);
    clip_->setEnabled(reading_.isClipping);
    clip_->setAccessibleName(texts.clipLabel);
    clip_->setToolTip(texts.clipHelp);
    clip_->setWhatsThis(texts.clipHelp);
    clip_->setAccessibleDescription(texts.clipHint);
    setAccessibleValue(clip_, texts.clipValue);
}

} // namespace brevalo
