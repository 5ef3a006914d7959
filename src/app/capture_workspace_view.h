#pragma once

// The content of the "Album Capture" window: one project at a time as a workspace with a panel
// for the album, the side tabs, the waveform editor of the selected side and the track list with
// the export commands, or the introduction when no project is open. Every action goes to the
// capture controller; the view keeps only transient interaction state.
//
// Threads: main thread.

#include <QWidget>

namespace brevalo {

class CaptureViewModel;
class MonitorViewModel;

class CaptureWorkspaceView : public QWidget
{
    Q_OBJECT
public:
    // Both controllers must outlive the view.
    CaptureWorkspaceView(MonitorViewModel& monitor, CaptureViewModel& capture,
                         QWidget* parent = nullptr);

private:
    [[maybe_unused]] MonitorViewModel& monitor_;
    [[maybe_unused]] CaptureViewModel& capture_;
};

} // namespace brevalo
