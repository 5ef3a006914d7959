#include "app/capture_commands.h"

#include <QAction>
#include <QMenu>

#include <utility>

namespace brevalo {

CaptureCommands::CaptureCommands(std::function<void()> openWindow, QObject* parent)
    : QObject(parent), openWindow_(std::move(openWindow)),
      newCapture_(new QAction(captureCommandText::newCapture, this)),
      openProject_(new QAction(captureCommandText::openProject, this))
{
    newCapture_->setShortcut(QKeySequence::New);
    openProject_->setShortcut(QKeySequence::Open);
    for (QAction* action : {newCapture_, openProject_}) {
        // Each window's menu bar carries its own copy of the File menu.
        action->setShortcutContext(Qt::WindowShortcut);
    }
    connect(newCapture_, &QAction::triggered, this,
            [this] { run(&CaptureCommands::beginNewProject); });
    connect(openProject_, &QAction::triggered, this,
            [this] { run(&CaptureCommands::openExistingProject); });
}

void CaptureCommands::addTo(QMenu* fileMenu) const
{
    QAction* first = fileMenu->actions().isEmpty() ? nullptr : fileMenu->actions().front();
    fileMenu->insertAction(first, newCapture_);
    fileMenu->insertAction(first, openProject_);
    if (first) {
        fileMenu->insertSeparator(first);
    }
}

void CaptureCommands::setBusy(bool busy)
{
    busy_ = busy;
    newCapture_->setEnabled(!busy);
    openProject_->setEnabled(!busy);
}

void CaptureCommands::run(void (CaptureCommands::*request)())
{
    // A trigger that slipped past the disabled action (a queued shortcut) still does nothing.
    if (busy_) {
        return;
    }
    if (openWindow_) {
        openWindow_();
    }
    emit(this->*request)();
}

} // namespace brevalo
