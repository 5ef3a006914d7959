#include "app/panel_icons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <cmath>
#include <functional>
#include <numbers>

namespace brevalo {

namespace {

// Glyphs are drawn on a 24 × 24 grid and scaled to the pixmap.
using Glyph = std::function<void(QPainter&, const QColor&)>;

void speaker(QPainter& p, const QColor& c)
{
    QPainterPath body;
    body.moveTo(3, 9);
    body.lineTo(7, 9);
    body.lineTo(12, 4.5);
    body.lineTo(12, 19.5);
    body.lineTo(7, 15);
    body.lineTo(3, 15);
    body.closeSubpath();
    p.fillPath(body, c);
}

Glyph glyphFor(const QString& name)
{
    if (name == QLatin1String("play.fill")) {
        return [](QPainter& p, const QColor& c) {
            QPainterPath path;
            path.moveTo(7, 4);
            path.lineTo(20, 12);
            path.lineTo(7, 20);
            path.closeSubpath();
            p.fillPath(path, c);
        };
    }
    if (name == QLatin1String("stop.fill")) {
        return [](QPainter& p, const QColor& c) {
            QPainterPath path;
            path.addRoundedRect(QRectF(5, 5, 14, 14), 2, 2);
            p.fillPath(path, c);
        };
    }
    if (name == QLatin1String("speaker.wave.2.fill")) {
        return [](QPainter& p, const QColor& c) {
            speaker(p, c);
            p.setPen(QPen(c, 1.8, Qt::SolidLine, Qt::RoundCap));
            p.drawArc(QRectF(9, 8, 8, 8), -50 * 16, 100 * 16);
            p.drawArc(QRectF(7, 4.5, 15, 15), -50 * 16, 100 * 16);
        };
    }
    if (name == QLatin1String("speaker.slash.fill")) {
        return [](QPainter& p, const QColor& c) {
            speaker(p, c);
            p.setPen(QPen(c, 1.8, Qt::SolidLine, Qt::RoundCap));
            p.drawLine(QPointF(15, 9), QPointF(21, 15));
            p.drawLine(QPointF(21, 9), QPointF(15, 15));
        };
    }
    if (name == QLatin1String("arrow.clockwise")) {
        return [](QPainter& p, const QColor& c) {
            p.setPen(QPen(c, 2.0, Qt::SolidLine, Qt::RoundCap));
            p.drawArc(QRectF(5, 5, 14, 14), 80 * 16, 290 * 16);
            QPainterPath head;
            head.moveTo(12, 1.5);
            head.lineTo(17, 5);
            head.lineTo(12, 8.5);
            head.closeSubpath();
            p.fillPath(head, c);
        };
    }
    if (name == QLatin1String("gear")) {
        return [](QPainter& p, const QColor& c) {
            QPainterPath teeth;
            for (int i = 0; i < 8; ++i) {
                const double a = i * std::numbers::pi / 4;
                const QPointF centre(12 + 8 * std::cos(a), 12 + 8 * std::sin(a));
                teeth.addEllipse(centre, 2.2, 2.2);
            }
            teeth.addEllipse(QPointF(12, 12), 7.5, 7.5);
            p.fillPath(teeth.simplified(), c);
            QPainterPath hole;
            hole.addEllipse(QPointF(12, 12), 3, 3);
            p.setCompositionMode(QPainter::CompositionMode_Clear);
            p.fillPath(hole, Qt::transparent);
            p.setCompositionMode(QPainter::CompositionMode_SourceOver);
        };
    }
    if (name == QLatin1String("slider.horizontal.3")) {
        return [](QPainter& p, const QColor& c) {
            p.setPen(QPen(c, 1.8, Qt::SolidLine, Qt::RoundCap));
            const double knobs[] = {15, 8, 13};
            for (int i = 0; i < 3; ++i) {
                const double y = 6 + 6 * i;
                p.drawLine(QPointF(3, y), QPointF(21, y));
                p.setBrush(c);
                p.drawEllipse(QPointF(knobs[i], y), 2.4, 2.4);
            }
        };
    }
    if (name == QLatin1String("pause.fill")) {
        return [](QPainter& p, const QColor& c) {
            p.fillRect(QRectF(6.5, 5, 4, 14), c);
            p.fillRect(QRectF(13.5, 5, 4, 14), c);
        };
    }
    if (name == QLatin1String("backward.end.fill")) {
        return [](QPainter& p, const QColor& c) {
            QPainterPath path;
            path.moveTo(19, 5);
            path.lineTo(8, 12);
            path.lineTo(19, 19);
            path.closeSubpath();
            p.fillPath(path, c);
            p.fillRect(QRectF(5, 5, 2.5, 14), c);
        };
    }
    if (name == QLatin1String("forward.end.fill")) {
        return [](QPainter& p, const QColor& c) {
            QPainterPath path;
            path.moveTo(5, 5);
            path.lineTo(16, 12);
            path.lineTo(5, 19);
            path.closeSubpath();
            p.fillPath(path, c);
            p.fillRect(QRectF(16.5, 5, 2.5, 14), c);
        };
    }
    if (name == QLatin1String("plus.magnifyingglass") ||
        name == QLatin1String("minus.magnifyingglass")) {
        const bool plus = name.startsWith(QLatin1String("plus"));
        return [plus](QPainter& p, const QColor& c) {
            p.setPen(QPen(c, 2.0, Qt::SolidLine, Qt::RoundCap));
            p.setBrush(Qt::NoBrush);
            p.drawEllipse(QPointF(10, 10), 6.5, 6.5);
            p.drawLine(QPointF(15, 15), QPointF(20.5, 20.5));
            p.setPen(QPen(c, 1.8, Qt::SolidLine, Qt::RoundCap));
            p.drawLine(QPointF(7, 10), QPointF(13, 10));
            if (plus) {
                p.drawLine(QPointF(10, 7), QPointF(10, 13));
            }
        };
    }
    if (name == QLatin1String("flag.fill")) {
        return [](QPainter& p, const QColor& c) {
            p.fillRect(QRectF(5, 3, 2, 18), c);
            QPainterPath path;
            path.moveTo(7, 4);
            path.cubicTo(11, 2, 14, 7, 19, 5);
            path.lineTo(19, 13);
            path.cubicTo(14, 15, 11, 10, 7, 12);
            path.closeSubpath();
            p.fillPath(path, c);
        };
    }
    if (name == QLatin1String("trash")) {
        return [](QPainter& p, const QColor& c) {
            p.setPen(QPen(c, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
            p.setBrush(Qt::NoBrush);
            p.drawLine(QPointF(4, 6), QPointF(20, 6));
            p.drawLine(QPointF(9.5, 6), QPointF(10, 3.5));
            p.drawLine(QPointF(10, 3.5), QPointF(14, 3.5));
            p.drawLine(QPointF(14, 3.5), QPointF(14.5, 6));
            QPainterPath bin;
            bin.moveTo(6, 6);
            bin.lineTo(7.2, 20.5);
            bin.lineTo(16.8, 20.5);
            bin.lineTo(18, 6);
            p.drawPath(bin);
            p.drawLine(QPointF(10, 9.5), QPointF(10.3, 17.5));
            p.drawLine(QPointF(14, 9.5), QPointF(13.7, 17.5));
        };
    }
    return {};
}

} // namespace

QIcon panelIcon(const QString& name, const QColor& color)
{
    const Glyph glyph = glyphFor(name);
    if (!glyph) {
        return {};
    }
    QIcon icon;
    for (int size : {16, 24, 32, 48}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.scale(size / 24.0, size / 24.0);
        glyph(painter, color);
        painter.end();
        icon.addPixmap(pixmap);
        QColor dim = color;
        dim.setAlphaF(0.35f);
        QPixmap disabled(size, size);
        disabled.fill(Qt::transparent);
        QPainter dp(&disabled);
        dp.setRenderHint(QPainter::Antialiasing);
        dp.scale(size / 24.0, size / 24.0);
        glyph(dp, dim);
        dp.end();
        icon.addPixmap(disabled, QIcon::Disabled);
    }
    return icon;
}

} // namespace brevalo
