#include "app/capture_side_tabs.h"

namespace brevalo {

CaptureSideTabBar::CaptureSideTabBar(CaptureViewModel& capture, QWidget* parent)
    : QWidget(parent), capture_(capture)
{}

} // namespace brevalo
