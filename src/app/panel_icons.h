#pragma once

// The panel's key glyphs, drawn in the legend colour so they read on the dark plate whatever the
// desktop's icon theme is. Names are the symbol names the panel rules use ("stop.fill").

#include <QColor>
#include <QIcon>
#include <QString>

namespace brevalo {

// An empty icon for an unknown name.
QIcon panelIcon(const QString& name, const QColor& color);

// Records the symbol name on the widget (property "iconName") and sets the drawn icon.
template <typename Button>
void setPanelIcon(Button* button, const QString& name, const QColor& color)
{
    if (button->property("iconName").toString() == name) {
        return;
    }
    button->setProperty("iconName", name);
    button->setIcon(panelIcon(name, color));
}

} // namespace brevalo
