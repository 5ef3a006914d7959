#include "app/window_policy.h"

#include <QTimer>
#include <QWidget>

#include <cmath>

namespace brevalo {

std::optional<WindowPolicy> windowPolicyForTitle(const QString& title)
{
    if (title == windowTitle::capture) {
        return WindowPolicy{.fullScreenAllowed = true, .zoomAllowed = true};
    }
    if (title == windowTitle::monitor) {
        return WindowPolicy{.fullScreenAllowed = false, .zoomAllowed = false};
    }
    return std::nullopt;
}

Qt::WindowFlags windowFlagsWithPolicy(Qt::WindowFlags current, const WindowPolicy& policy)
{
    Qt::WindowFlags flags = current;
    flags |= Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
             Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint;
    flags.setFlag(Qt::WindowMaximizeButtonHint, policy.zoomAllowed);
    flags.setFlag(Qt::WindowFullscreenButtonHint, policy.fullScreenAllowed);
    return flags;
}

bool applyWindowPolicy(QWidget* window)
{
    if (!window || !window->isWindow()) {
        return false;
    }
    const auto policy = windowPolicyForTitle(window->windowTitle());
    if (!policy) {
        return false;
    }
    const Qt::WindowFlags wanted = windowFlagsWithPolicy(window->windowFlags(), *policy);
    if (wanted != window->windowFlags()) {
        const bool wasVisible = window->isVisible();
        window->setWindowFlags(wanted);
        if (wasVisible) {
            window->show();
        }
    }
    const Qt::WindowStates states = window->windowState();
    const bool forbidden = (!policy->fullScreenAllowed && states.testFlag(Qt::WindowFullScreen)) ||
                           (!policy->zoomAllowed && states.testFlag(Qt::WindowMaximized));
    if (forbidden) {
        // Not from inside the state-change notification that reported it.
        QTimer::singleShot(0, window, [window] { window->showNormal(); });
    }
    return true;
}

QSize captureWindowIdealSize(const std::optional<QRectF>& availableGeometry)
{
    if (!availableGeometry) {
        return QSize(1200, 800);
    }
    const double vw = availableGeometry->width();
    const double vh = availableGeometry->height();
    // fmin/fmax pass over a NaN difference, which then yields the lower bound.
    const double width = std::fmin(std::fmax(vw - 64.0, 1000.0), 1200.0);
    // W′: the width before the lower bound could hide a NaN.
    const double widthForRatio = (vw - 64.0 >= 1000.0) ? std::min(vw - 64.0, 1200.0) : 1000.0;
    const double height = std::fmin(std::fmax(vh - 48.0, 620.0), widthForRatio / 1.5);
    return QSize(static_cast<int>(std::lround(width)), static_cast<int>(std::floor(height)));
}

} // namespace brevalo
