#include "app/app_windows.h"

#include "app/capture_workspace_view.h"
#include "app/monitor_view.h"
#include "app/window_policy.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QMenuBar>
#include <QScreen>

namespace brevalo {

namespace {

// The File menu with its Quit command; the capture commands are put above it later.
QAction* addFileMenu(QMainWindow* window, QMenu** menu)
{
    QMenu* file = window->menuBar()->addMenu(QStringLiteral("&File"));
    *menu = file;
    QAction* quit = file->addAction(QStringLiteral("&Quit"));
    quit->setShortcut(QKeySequence::Quit);
    quit->setShortcutContext(Qt::WindowShortcut);
    quit->setMenuRole(QAction::QuitRole);
    QObject::connect(quit, &QAction::triggered, qApp, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    return quit;
}

} // namespace

MonitorWindow::MonitorWindow(MonitorViewModel& monitor, DesktopSettings* settings, QWidget* parent)
    : QMainWindow(parent)
{
    setObjectName(QStringLiteral("monitor"));
    setWindowTitle(windowTitle::monitor);
    view_ = new MonitorView(monitor, settings, this);
    setCentralWidget(view_);
    quitAction_ = addFileMenu(this, &fileMenu_);
    // The content's minimum is the window's; the menu bar comes on top of it.
    view_->setMinimumSize(monitorWindowMinimumSize);
    resize(monitorWindowMinimumSize.width(),
           monitorWindowMinimumSize.height() + menuBar()->sizeHint().height());
    applyWindowPolicy(this);
}

void MonitorWindow::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    emit appeared();
}

CaptureWindow::CaptureWindow(MonitorViewModel& monitor, CaptureViewModel& capture, QWidget* parent)
    : QMainWindow(parent)
{
    setObjectName(QStringLiteral("capture-project"));
    setWindowTitle(windowTitle::capture);
    view_ = new CaptureWorkspaceView(monitor, capture, this);
    setCentralWidget(view_);
    quitAction_ = addFileMenu(this, &fileMenu_);
    view_->setMinimumSize(captureWindowMinimumSize);
    std::optional<QRectF> available;
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        available = QRectF(screen->availableGeometry());
    }
    const QSize ideal = captureWindowIdealSize(available);
    resize(ideal.width(), ideal.height() + menuBar()->sizeHint().height());
    applyWindowPolicy(this);
}

} // namespace brevalo
