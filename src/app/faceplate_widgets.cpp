#include "app/faceplate_widgets.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QStyleOptionButton>
#include <QStylePainter>

namespace brevalo {

namespace faceplate {
QColor plateTop()
{
    return QColor(0x2e, 0x30, 0x34);
}
QColor plateBottom()
{
    return QColor(0x1b, 0x1c, 0x1f);
}
QColor wellColor()
{
    return QColor(0x14, 0x15, 0x17);
}
QColor engravingColor()
{
    return QColor(0x9a, 0x9d, 0xa3);
}
QColor legendColor()
{
    return QColor(0xe6, 0xe7, 0xea);
}
QColor lampGreen()
{
    return QColor::fromRgbF(0.18f, 0.8f, 0.41f);
}
QColor lampAmber()
{
    return QColor::fromRgbF(1.0f, 0.65f, 0.145f);
}
QColor lampRed()
{
    return QColor::fromRgbF(1.0f, 0.22f, 0.16f);
}
QColor lampBlue()
{
    return QColor(0x4d, 0xa3, 0xff);
}
QColor errorTextColor()
{
    return QColor(0xff, 0x6b, 0x5e);
}
} // namespace faceplate

namespace {

void paintScrew(QPainter& painter, QPointF centre, qreal radius)
{
    QRadialGradient head(centre - QPointF(radius / 3, radius / 3), radius * 1.6);
    head.setColorAt(0.0, QColor(0x8c, 0x8f, 0x95));
    head.setColorAt(1.0, QColor(0x3a, 0x3c, 0x40));
    painter.setPen(QPen(QColor(0x0c, 0x0c, 0x0d), 1.0));
    painter.setBrush(head);
    painter.drawEllipse(centre, radius, radius);
    // A slot at an angle, as screws are never all aligned on a real panel.
    painter.save();
    painter.translate(centre);
    painter.rotate(35);
    painter.setPen(QPen(QColor(0x1a, 0x1b, 0x1d), 1.6, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(-radius * 0.65, 0), QPointF(radius * 0.65, 0));
    painter.restore();
}

} // namespace

Faceplate::Faceplate(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAutoFillBackground(false);
}

void Faceplate::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient plate(0, 0, 0, height());
    plate.setColorAt(0.0, faceplate::plateTop());
    plate.setColorAt(1.0, faceplate::plateBottom());
    painter.fillRect(rect(), plate);

    // Fine horizontal brushing.
    painter.setPen(QPen(QColor(255, 255, 255, 6), 1));
    for (int y = 0; y < height(); y += 3) {
        painter.drawLine(0, y, width(), y);
    }
    painter.setPen(QPen(QColor(255, 255, 255, 28), 1));
    painter.drawLine(0, 0, width(), 0);

    const qreal inset = 12;
    const qreal radius = 5;
    for (QPointF corner :
         {QPointF(inset, inset), QPointF(width() - inset, inset), QPointF(inset, height() - inset),
          QPointF(width() - inset, height() - inset)}) {
        paintScrew(painter, corner, radius);
    }
}

EngravedLabel::EngravedLabel(const QString& text, QWidget* parent, int pointSize)
    : QLabel(text, parent)
{
    QFont f = font();
    f.setPointSize(pointSize);
    f.setBold(true);
    f.setLetterSpacing(QFont::AbsoluteSpacing, 1.2);
    setFont(f);
    QPalette p = palette();
    p.setColor(QPalette::WindowText, faceplate::engravingColor());
    setPalette(p);
}

Well::Well(QWidget* parent) : QFrame(parent) {}

void Well::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    painter.setPen(QPen(QColor(0, 0, 0, 160), 1));
    painter.setBrush(faceplate::wellColor());
    painter.drawRoundedRect(r, 6, 6);
    // Light catching the lower lip of the recess.
    painter.setPen(QPen(QColor(255, 255, 255, 22), 1));
    painter.drawLine(QPointF(r.left() + 6, r.bottom() + 0.5),
                     QPointF(r.right() - 6, r.bottom() + 0.5));
}

PilotLamp::PilotLamp(QWidget* parent, int diameter)
    : QWidget(parent), color_(faceplate::lampGreen()), diameter_(diameter)
{
    setFixedSize(diameter + 6, diameter + 6);
}

void PilotLamp::setColor(const QColor& color)
{
    if (color_ != color) {
        color_ = color;
        update();
    }
}

void PilotLamp::setLit(bool lit)
{
    if (lit_ != lit) {
        lit_ = lit;
        update();
    }
}

QSize PilotLamp::sizeHint() const
{
    return QSize(diameter_ + 6, diameter_ + 6);
}

void PilotLamp::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPointF centre = QRectF(rect()).center();
    const qreal r = diameter_ / 2.0;
    if (lit_) {
        QRadialGradient glow(centre, r + 3);
        QColor halo = color_;
        halo.setAlpha(110);
        glow.setColorAt(0.6, halo);
        halo.setAlpha(0);
        glow.setColorAt(1.0, halo);
        painter.setPen(Qt::NoPen);
        painter.setBrush(glow);
        painter.drawEllipse(centre, r + 3, r + 3);
    }
    QRadialGradient lens(centre - QPointF(r / 3, r / 3), r * 1.4);
    const QColor base = lit_ ? color_ : color_.darker(420);
    lens.setColorAt(0.0, lit_ ? base.lighter(150) : base.lighter(130));
    lens.setColorAt(1.0, base);
    painter.setPen(QPen(QColor(0, 0, 0, 200), 1));
    painter.setBrush(lens);
    painter.drawEllipse(centre, r, r);
}

LampButton::LampButton(const QString& legend, QWidget* parent)
    : QAbstractButton(parent), lampColor_(faceplate::lampRed())
{
    setText(legend);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::StrongFocus);
}

void LampButton::setLit(bool lit)
{
    if (lit_ != lit) {
        lit_ = lit;
        update();
    }
}

void LampButton::setLampColor(const QColor& color)
{
    lampColor_ = color;
    update();
}

QSize LampButton::sizeHint() const
{
    return QSize(46, 24);
}

void LampButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF r = QRectF(rect()).adjusted(1.5, 1.5, -1.5, -1.5);
    QLinearGradient face(r.topLeft(), r.bottomLeft());
    if (lit_) {
        face.setColorAt(0.0, lampColor_.lighter(125));
        face.setColorAt(1.0, lampColor_.darker(115));
    } else {
        face.setColorAt(0.0, lampColor_.darker(520));
        face.setColorAt(1.0, lampColor_.darker(700));
    }
    painter.setPen(QPen(QColor(0, 0, 0, 220), 1));
    painter.setBrush(face);
    painter.drawRoundedRect(r, 4, 4);
    if (hasFocus()) {
        painter.setPen(QPen(faceplate::lampBlue(), 1.5));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(r.adjusted(-0.5, -0.5, 0.5, 0.5), 4, 4);
    }
    QFont f = font();
    f.setPointSize(7);
    f.setBold(true);
    f.setLetterSpacing(QFont::AbsoluteSpacing, 1.0);
    painter.setFont(f);
    painter.setPen(lit_ ? QColor(0x2a, 0x05, 0x03) : QColor(0x6a, 0x3a, 0x36));
    painter.drawText(r, Qt::AlignCenter, text());
}

SelectorButton::SelectorButton(QWidget* parent) : QPushButton(parent)
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

QSize SelectorButton::sizeHint() const
{
    return QSize(240, fontMetrics().height() + 14);
}

QSize SelectorButton::minimumSizeHint() const
{
    return QSize(120, fontMetrics().height() + 14);
}

void SelectorButton::paintEvent(QPaintEvent*)
{
    // The frame from the style (and the style sheet); text and chevron drawn here, because the
    // style centres a menu button's text and ignores its padding.
    QStylePainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    option.text.clear();
    option.icon = QIcon();
    option.features &= ~QStyleOptionButton::HasMenu;
    painter.drawControl(QStyle::CE_PushButton, option);

    constexpr int textInset = 13;
    constexpr int chevronSpace = 26;
    const QRect textRect = rect().adjusted(textInset, 0, -chevronSpace, 0);
    painter.setPen(
        palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::ButtonText));
    painter.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter,
                     fontMetrics().elidedText(text(), Qt::ElideRight, textRect.width()));

    painter.setRenderHint(QPainter::Antialiasing);
    const QPointF centre(width() - chevronSpace / 2.0, height() / 2.0);
    QPen pen(faceplate::engravingColor(), 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    painter.setPen(pen);
    painter.drawPolyline(QPolygonF{centre + QPointF(-4, -3.5), centre + QPointF(0, -6.5),
                                   centre + QPointF(4, -3.5)});
    painter.drawPolyline(
        QPolygonF{centre + QPointF(-4, 2.5), centre + QPointF(0, 5.5), centre + QPointF(4, 2.5)});
}

} // namespace brevalo
