#include "app/app_delegate.h"

#include "app/window_policy.h"

#include <QApplication>
#include <QEvent>
#include <QWidget>

namespace brevalo {

AppDelegate::AppDelegate(QObject* parent) : QObject(parent) {}

AppDelegate::~AppDelegate()
{
    if (isWatching_ && qApp) {
        qApp->removeEventFilter(this);
    }
}

void AppDelegate::applicationDidFinishLaunching()
{
    if (!isWatching_) {
        qApp->installEventFilter(this);
        isWatching_ = true;
    }
    for (QWidget* window : QApplication::topLevelWidgets()) {
        applyWindowPolicy(window);
    }
}

void AppDelegate::applicationWillTerminate()
{
    if (isWatching_) {
        qApp->removeEventFilter(this);
        isWatching_ = false;
    }
    if (hasTerminated_) {
        return;
    }
    hasTerminated_ = true;
    if (onTerminate) {
        onTerminate();
    }
}

bool AppDelegate::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::WindowActivate:
    case QEvent::WindowStateChange:
    case QEvent::WindowTitleChange:
    case QEvent::Show:
        if (auto* widget = qobject_cast<QWidget*>(watched); widget && widget->isWindow()) {
            applyWindowPolicy(widget);
        }
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

} // namespace brevalo
