#pragma once

// Qt's widget accessibility has a name, a description and a help text but no value text for
// buttons and custom widgets. The panel's meters and lamps need one ("Clipping detected"), so
// widgets carry it in a property and a small accessibility factory reports it.

#include <QString>

class QWidget;

namespace brevalo {

// Sets the text assistive technology reads as the widget's current value and announces the
// change when accessibility is active.
void setAccessibleValue(QWidget* widget, const QString& value);
QString accessibleValue(const QWidget* widget);

// Once per process, before the first widget is queried; idempotent.
void installAccessibleValueFactory();

} // namespace brevalo
