#pragma once

// The two top-level windows. Each has a File menu whose Quit command (Ctrl+Q) is the way to end
// the application: closing a window only hides it.

#include <QMainWindow>

namespace brevalo {

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
    QAction* quitAction() const { return quitAction_; }

signals:
    // Every time the window is shown.
    void appeared();

protected:
    void showEvent(QShowEvent* event) override;

private:
    MonitorView* view_;
    QAction* quitAction_;
};

// "Album Capture": the capture workspace. Empty until the capture controller exists.
class CaptureWindow : public QMainWindow
{
    Q_OBJECT
public:
    explicit CaptureWindow(QWidget* parent = nullptr);

    QAction* quitAction() const { return quitAction_; }

private:
    QAction* quitAction_;
};

} // namespace brevalo
