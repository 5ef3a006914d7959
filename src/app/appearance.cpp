#include "app/appearance.h"

#include <QApplication>
#include <QPalette>
#include <QStyleFactory>

namespace brevalo {

void applyDarkAppearance(QApplication& application)
{
    if (QStyle* fusion = QStyleFactory::create(QStringLiteral("Fusion"))) {
        QApplication::setStyle(fusion);
    }
    QPalette p;
    const QColor window(0x22, 0x23, 0x26);
    const QColor base(0x18, 0x19, 0x1b);
    const QColor text(0xe6, 0xe7, 0xea);
    const QColor dimText(0x6b, 0x6e, 0x74);
    const QColor highlight(0x2f, 0x6f, 0xc4);
    p.setColor(QPalette::Window, window);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, base);
    p.setColor(QPalette::AlternateBase, QColor(0x1f, 0x20, 0x23));
    p.setColor(QPalette::ToolTipBase, QColor(0x26, 0x28, 0x2b));
    p.setColor(QPalette::ToolTipText, text);
    p.setColor(QPalette::PlaceholderText, dimText);
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, QColor(0x33, 0x35, 0x39));
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::BrightText, QColor(0xff, 0x6b, 0x5e));
    p.setColor(QPalette::Light, QColor(0x45, 0x47, 0x4c));
    p.setColor(QPalette::Midlight, QColor(0x3a, 0x3c, 0x40));
    p.setColor(QPalette::Mid, QColor(0x2a, 0x2b, 0x2e));
    p.setColor(QPalette::Dark, QColor(0x12, 0x12, 0x14));
    p.setColor(QPalette::Shadow, Qt::black);
    p.setColor(QPalette::Highlight, highlight);
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::Link, QColor(0x4d, 0xa3, 0xff));
    p.setColor(QPalette::LinkVisited, QColor(0x9b, 0x8c, 0xff));
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) {
        p.setColor(QPalette::Disabled, role, dimText);
    }
    p.setColor(QPalette::Disabled, QPalette::Highlight, QColor(0x3a, 0x3c, 0x40));
    application.setPalette(p);
}

} // namespace brevalo
