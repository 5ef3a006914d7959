#pragma once

// The two top-level windows. Each has a File menu whose Quit command (Ctrl+Q) is the way to end
// the application: closing a window only hides it.

#include <QMainWindow>

class QMenu;

namespace brevalo {

class CaptureViewModel;
class CaptureWorkspaceView;
class DesktopSettings;
class MonitorView;
class MonitorViewModel;

// "Brevalo Capture": the monitor panel.
class MonitorWindow : public QMainWindow
{
    Q_OBJECT
public:
    MonitorWindow(MonitorViewModel& monitor, DesktopSettings* settings, QWidget* parent = nullptr);

    MonitorView* view() const { return view_; }
    QMenu* fileMenu() const { return fileMenu_; }
    QAction* quitAction() const { return quitAction_; }

signals:
    // Every time the window is shown.
    void appeared();

protected:
    void showEvent(QShowEvent* event) override;

private:
    MonitorView* view_;
    QMenu* fileMenu_;
    QAction* quitAction_;
};

// "Album Capture": the capture workspace, sized to the screen it opens on.
class CaptureWindow : public QMainWindow
{
    Q_OBJECT
public:
    // Both controllers must outlive the window.
    CaptureWindow(MonitorViewModel& monitor, CaptureViewModel& capture, QWidget* parent = nullptr);

    CaptureWorkspaceView* view() const { return view_; }
    QMenu* fileMenu() const { return fileMenu_; }
    QAction* quitAction() const { return quitAction_; }

private:
    CaptureWorkspaceView* view_;
    QMenu* fileMenu_;
    QAction* quitAction_;
};

} // namespace brevalo
