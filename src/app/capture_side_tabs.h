#pragma once

// The "Record sides" row of the capture workspace: one tab per physical side of the open project.
// Clicking a tab selects its side; dragging a tab onto another (or the "Swap recording with"
// context menu) asks the capture controller to exchange the two sides' recordings.
//
// Threads: main thread.

#include <QWidget>

namespace brevalo {

class CaptureViewModel;

class CaptureSideTabBar : public QWidget
{
    Q_OBJECT
public:
    // Follows the controller's document, selected side and busy state by itself.
    explicit CaptureSideTabBar(CaptureViewModel& capture, QWidget* parent = nullptr);

private:
    [[maybe_unused]] CaptureViewModel& capture_;
};

} // namespace brevalo
