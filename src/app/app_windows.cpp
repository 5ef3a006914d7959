#include "app/app_windows.h"

#include "app/faceplate_widgets.h"
#include "app/monitor_view.h"
#include "app/window_policy.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QMenuBar>
#include <QScreen>

namespace brevalo {

namespace {

QAction* addFileMenu(QMainWindow* window)
{
    QMenu* file = window->menuBar()->addMenu(QStringLiteral("&File"));
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
    quitAction_ = addFileMenu(this);
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

CaptureWindow::CaptureWindow(QWidget* parent) : QMainWindow(parent)
{
    setObjectName(QStringLiteral("capture-project"));
    setWindowTitle(windowTitle::capture);
    auto* plate = new Faceplate(this);
    setCentralWidget(plate);
    quitAction_ = addFileMenu(this);
    plate->setMinimumSize(captureWindowMinimumSize);
    std::optional<QRectF> available;
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        available = QRectF(screen->availableGeometry());
    }
    const QSize ideal = captureWindowIdealSize(available);
    resize(ideal.width(), ideal.height() + menuBar()->sizeHint().height());
    applyWindowPolicy(this);
}

} // namespace brevalo
