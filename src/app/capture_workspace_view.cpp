#include "app/capture_workspace_view.h"

namespace brevalo {

CaptureWorkspaceView::CaptureWorkspaceView(MonitorViewModel& monitor, CaptureViewModel& capture,
                                           QWidget* parent)
    : QWidget(parent), monitor_(monitor), capture_(capture)
{}

} // namespace brevalo
