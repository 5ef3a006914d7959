#pragma once

// One channel's meter row: the 32-segment bar, the session peak memory (a button that releases
// it) and the latching CLIP lamp (a button that clears it). The left meter also carries the dB
// scale above its bar.

#include "app/monitor_presentation.h"
#include "monitor/meter_reading.h"

#include <QWidget>

class QLabel;
class QPushButton;

namespace brevalo {

class LampButton;

// The dB scale marks at their meter positions.
class MeterScaleView : public QWidget
{
    Q_OBJECT
public:
    explicit MeterScaleView(QWidget* parent = nullptr);
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
};

// The segmented bar. Reads only level and held peak.
class LevelMeterBar : public QWidget
{
    Q_OBJECT
public:
    explicit LevelMeterBar(QWidget* parent = nullptr);

    void setLevels(double levelDBFS, double peakDBFS);
    double levelDBFS() const { return level_; }
    double peakDBFS() const { return peak_; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    // The segment rectangles for a bar of the given width and height: equal widths, small gaps.
    static QRectF segmentRect(int segment, const QRectF& bar);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    double level_ = MeterReading::floorDBFS;
    double peak_ = MeterReading::floorDBFS;
};

class LevelMeterView : public QWidget
{
    Q_OBJECT
public:
    // label is "Left" or "Right".
    LevelMeterView(const QString& label, bool showsScale, QWidget* parent = nullptr);

    const QString& label() const { return label_; }
    bool showsScale() const { return scale_ != nullptr; }
    const MeterReading& reading() const { return reading_; }
    void setReading(const MeterReading& reading);

    LevelMeterBar* bar() const { return bar_; }
    QPushButton* peakMemoryButton() const { return memory_; }
    LampButton* clipLamp() const { return clip_; }
    MeterScaleView* scaleView() const { return scale_; }

signals:
    // The user pressed the peak memory: the next peak starts a new maximum.
    void releasePeak();
    // The user pressed the latched clip lamp.
    void clearClip();

private:
    void apply();

    QString label_;
    MeterReading reading_;
    MeterScaleView* scale_ = nullptr;
    LevelMeterBar* bar_ = nullptr;
    QPushButton* memory_ = nullptr;
    LampButton* clip_ = nullptr;
    QLabel* name_ = nullptr;
};

} // namespace brevalo
