#pragma once

// The decorative pieces of the hardware-style panels: the brushed faceplate with its screws,
// engraved headings, recessed wells, pilot lamps and the lamp button. Styling only: none of them
// decides anything the panel shows.

#include <QAbstractButton>
#include <QColor>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QWidget>

namespace brevalo {

namespace faceplate {
// The panel palette; the meter segment colours live with the meter scale.
QColor plateTop();
QColor plateBottom();
QColor wellColor();
QColor engravingColor();
QColor legendColor();
QColor lampGreen();
QColor lampAmber();
QColor lampRed();
QColor lampBlue();
QColor errorTextColor();
} // namespace faceplate

// The panel's background: a dark brushed plate with a screw in each corner.
class Faceplate : public QWidget
{
    Q_OBJECT
public:
    explicit Faceplate(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

// A small engraved caption ("SIGNAL PATH").
class EngravedLabel : public QLabel
{
    Q_OBJECT
public:
    explicit EngravedLabel(const QString& text, QWidget* parent = nullptr, int pointSize = 8);
};

// A recessed area of the plate that groups related controls.
class Well : public QFrame
{
    Q_OBJECT
public:
    explicit Well(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

// A round indicator lamp; dim when off.
class PilotLamp : public QWidget
{
    Q_OBJECT
public:
    explicit PilotLamp(QWidget* parent = nullptr, int diameter = 12);

    void setColor(const QColor& color);
    void setLit(bool lit);
    QColor color() const { return color_; }
    bool isLit() const { return lit_; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor color_;
    bool lit_ = false;
    int diameter_;
};

// A push button drawn as a backlit lamp with a legend ("CLIP").
class LampButton : public QAbstractButton
{
    Q_OBJECT
public:
    explicit LampButton(const QString& legend, QWidget* parent = nullptr);

    void setLit(bool lit);
    bool isLit() const { return lit_; }
    void setLampColor(const QColor& color);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool lit_ = false;
    QColor lampColor_;
};

// A menu button showing its current choice left-aligned (elided when long) with a chevron.
class SelectorButton : public QPushButton
{
    Q_OBJECT
public:
    explicit SelectorButton(QWidget* parent = nullptr);
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace brevalo
