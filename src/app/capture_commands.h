#pragma once

// The File menu's capture commands, "New Capture…" (Ctrl+N) and "Open Capture Project…"
// (Ctrl+O). Each opens the album capture window and then asks the capture controller to start a
// new project draft or to open an existing project folder. Both are disabled while the controller
// is busy (recording, finalising or exporting), which also silences their shortcuts.
//
// Threads: main thread.

#include <QObject>
#include <QString>

#include <functional>

class QAction;
class QMenu;

namespace brevalo {

namespace captureCommandText {
inline const QString newCapture = QStringLiteral("New Capture…");
inline const QString openProject = QStringLiteral("Open Capture Project…");
} // namespace captureCommandText

class CaptureCommands : public QObject
{
    Q_OBJECT
public:
    // openWindow shows the capture window, creating it the first time; it runs before the
    // controller is asked, so the sheet or folder panel opens over that window.
    explicit CaptureCommands(std::function<void()> openWindow, QObject* parent = nullptr);

    QAction* newCaptureAction() const { return newCapture_; }
    QAction* openProjectAction() const { return openProject_; }

    // Puts both commands at the top of a window's File menu, where a new-item command goes. The
    // same actions may be added to the menus of several windows.
    void addTo(QMenu* fileMenu) const;

    // Follows the capture controller's isBusy.
    void setBusy(bool busy);
    bool isBusy() const { return busy_; }

signals:
    void beginNewProject();
    void openExistingProject();

private:
    void run(void (CaptureCommands::*request)());

    std::function<void()> openWindow_;
    QAction* newCapture_;
    QAction* openProject_;
    bool busy_ = false;
};

} // namespace brevalo
