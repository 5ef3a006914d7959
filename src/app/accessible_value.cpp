#include "app/accessible_value.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QVariant>
#include <QWidget>

namespace brevalo {

namespace {

constexpr const char* valueProperty = "brevaloAccessibleValue";

// A widget's usual accessibility plus the value text; buttons keep their press action.
class ValueAccessible final : public QAccessibleWidget
{
public:
    explicit ValueAccessible(QWidget* widget) : QAccessibleWidget(widget, roleOf(widget)) {}

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Value) {
            return accessibleValue(widget());
        }
        if (t == QAccessible::Name) {
            const QString name = widget()->accessibleName();
            if (!name.isEmpty()) {
                return name;
            }
            if (auto* button = qobject_cast<QAbstractButton*>(widget())) {
                return button->text();
            }
        }
        return QAccessibleWidget::text(t);
    }

    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        if (auto* button = qobject_cast<QAbstractButton*>(widget());
            button && button->isCheckable()) {
            s.checkable = true;
            s.checked = button->isChecked();
        }
        return s;
    }

    QStringList actionNames() const override
    {
        QStringList names = QAccessibleWidget::actionNames();
        if (qobject_cast<QAbstractButton*>(widget()) && widget()->isEnabled()) {
            names.prepend(pressAction());
        }
        return names;
    }

    void doAction(const QString& name) override
    {
        if (name == pressAction()) {
            if (auto* button = qobject_cast<QAbstractButton*>(widget());
                button && button->isEnabled()) {
                button->click();
            }
            return;
        }
        QAccessibleWidget::doAction(name);
    }

private:
    static QAccessible::Role roleOf(QWidget* widget)
    {
        if (qobject_cast<QAbstractButton*>(widget)) {
            return QAccessible::Button;
        }
        return QAccessible::Indicator;
    }
};

QAccessibleInterface* valueFactory(const QString&, QObject* object)
{
    auto* widget = qobject_cast<QWidget*>(object);
    if (widget && widget->property(valueProperty).isValid()) {
        return new ValueAccessible(widget);
    }
    return nullptr;
}

} // namespace

void setAccessibleValue(QWidget* widget, const QString& value)
{
    if (widget->property(valueProperty).toString() == value &&
        widget->property(valueProperty).isValid()) {
        return;
    }
    const bool isFirst = !widget->property(valueProperty).isValid();
    widget->setProperty(valueProperty, value);
    if (isFirst) {
        // Widgets announce their names while they are built, which caches Qt's own interface
        // before this property exists; drop it so that the next query comes to the factory.
        QAccessibleInterface* cached = QAccessible::queryAccessibleInterface(widget);
        if (cached && !dynamic_cast<ValueAccessible*>(cached)) {
            QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(cached));
        }
    }
    if (QAccessible::isActive()) {
        QAccessibleValueChangeEvent event(widget, value);
        QAccessible::updateAccessibility(&event);
    }
}

QString accessibleValue(const QWidget* widget)
{
    return widget->property(valueProperty).toString();
}

void installAccessibleValueFactory()
{
    static const bool installed = [] {
        QAccessible::installFactory(valueFactory);
        return true;
    }();
    (void)installed;
}

} // namespace brevalo
