#pragma once

// Each window's full-screen and zoom behaviour follows its role: the monitor window is a fixed
// panel (no full screen, no maximize), the album capture window is a workspace (both allowed).
// Windows are recognised by their titles, so a window of any other title is left alone.

#include <QRectF>
#include <QSize>
#include <QString>
#include <Qt>

#include <optional>

class QWidget;

namespace brevalo {

namespace windowTitle {
inline const QString monitor = QStringLiteral("Brevalo Capture");
inline const QString capture = QStringLiteral("Album Capture");
} // namespace windowTitle

struct WindowPolicy
{
    bool fullScreenAllowed = false;
    bool zoomAllowed = false;

    bool operator==(const WindowPolicy&) const = default;
};

// None for a title that is neither of the two.
std::optional<WindowPolicy> windowPolicyForTitle(const QString& title);

// The window flags that carry the policy: the maximize and full-screen buttons, as an explicit
// set of title-bar hints so that the window manager does not add its defaults back.
Qt::WindowFlags windowFlagsWithPolicy(Qt::WindowFlags current, const WindowPolicy& policy);

// Applies the policy of the window's title to a top-level widget: flags are written only when
// they differ (writing them hides the window, which is then shown again), and a window that
// may not be maximized or full screen is brought back to normal if it got there anyway.
// Returns whether the window had a policy.
bool applyWindowPolicy(QWidget* window);

// The capture window's ideal size for the screen's available area (points); 1200 × 800 without
// a screen.
QSize captureWindowIdealSize(const std::optional<QRectF>& availableGeometry);

// Minimum sizes of the two windows' contents.
inline constexpr QSize monitorWindowMinimumSize{620, 700};
inline constexpr QSize captureWindowMinimumSize{1000, 620};

} // namespace brevalo
