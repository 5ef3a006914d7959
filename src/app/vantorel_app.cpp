#include "app/vantorel_app.h"

#include "app/app_windows.h"
#include "app/capture_commands.h"
#include "app/dialog_file_panels.h"
#include "app/faceplate_widgets.h"
#include "app/monitor_view.h"

#include <QApplication>
#include <QMenu>
#include <QPainter>
#include <QSettings>
#include <QSystemTrayIcon>

#include <stdexcept>

namespace brevalo {

VantorelApp::VantorelApp(Options options, QObject* parent)
    : QObject(parent), appDelegate_(std::make_unique<AppDelegate>()),
      audioSystem_(std::move(options.audioSystem))
{
    if (!audioSystem_) {
        throw std::invalid_argument("VantorelApp needs an audio system");
    }
    if (options.settings) {
        settings_ = options.settings;
    } else {
        ownedSettings_ = std::make_unique<QSettings>();
        settings_ = ownedSettings_.get();
    }
    desktopSettings_ = std::make_unique<DesktopSettings>(std::move(options.desktopServices));
    if (!options.monitor.openUrl) {
        DesktopSettings* desktop = desktopSettings_.get();
        options.monitor.openUrl = [desktop](const QUrl& url) { return desktop->open(url); };
    }
    monitor_ =
        std::make_unique<MonitorViewModel>(*audioSystem_, *settings_, std::move(options.monitor));

    CaptureViewModelOptions& captureOptions = options.capture;
    if (!captureOptions.settings) {
        // The library folder is remembered beside the monitor's settings; the root owns them.
        captureOptions.settings = std::shared_ptr<QSettings>(settings_, [](QSettings*) {});
    }
    if (!captureOptions.panels) {
        captureOptions.panels = std::make_shared<DialogFilePanels>();
    }
    capture_ = std::make_unique<CaptureViewModel>(monitor_.get(), std::move(captureOptions));

    captureCommands_ = std::make_unique<CaptureCommands>([this] { openCaptureWindow(); });
    CaptureViewModel* capture = capture_.get();
    connect(captureCommands_.get(), &CaptureCommands::beginNewProject, capture,
            &CaptureViewModel::beginNewProject);
    connect(captureCommands_.get(), &CaptureCommands::openExistingProject, capture,
            &CaptureViewModel::openExistingProject);
    connect(capture, &CaptureViewModel::derivedStateChanged, captureCommands_.get(),
            [this] { captureCommands_->setBusy(capture_->isBusy()); });
    captureCommands_->setBusy(capture_->isBusy());

    monitorWindow_ = std::make_unique<MonitorWindow>(*monitor_, desktopSettings_.get());
    captureCommands_->addTo(monitorWindow_->fileMenu());
    connect(monitorWindow_->view(), &MonitorView::openCaptureRequested, this,
            &VantorelApp::openCaptureWindow);
    connect(monitorWindow_.get(), &MonitorWindow::appeared, this,
            &VantorelApp::installTerminationHook);

    QApplication::setQuitOnLastWindowClosed(
        AppDelegate::applicationShouldTerminateAfterLastWindowClosed());
    connect(qApp, &QCoreApplication::aboutToQuit, appDelegate_.get(),
            &AppDelegate::applicationWillTerminate);

    if (options.trayIcon && QSystemTrayIcon::isSystemTrayAvailable()) {
        createTrayIcon();
    }
}

VantorelApp::~VantorelApp()
{
    // A root torn down without a quit (tests, an exception in main) still stops the audio.
    appDelegate_->applicationWillTerminate();
}

void VantorelApp::showMonitorWindow()
{
    monitorWindow_->show();
    monitorWindow_->raise();
    monitorWindow_->activateWindow();
}

void VantorelApp::openCaptureWindow()
{
    if (!captureWindow_) {
        captureWindow_ = std::make_unique<CaptureWindow>(*monitor_, *capture_);
        captureCommands_->addTo(captureWindow_->fileMenu());
    }
    captureWindow_->show();
    captureWindow_->raise();
    captureWindow_->activateWindow();
}

void VantorelApp::installTerminationHook()
{
    // Weak references: the hook keeps neither controller alive and does nothing for one that
    // is already gone. The capture controller goes first, so that a take being recorded is
    // stored while its input still runs.
    QPointer<CaptureViewModel> capture = capture_.get();
    QPointer<MonitorViewModel> monitor = monitor_.get();
    appDelegate_->onTerminate = [capture, monitor] {
        if (capture) {
            capture->shutdown();
        }
        if (monitor) {
            monitor->shutdown();
        }
    };
}

void VantorelApp::createTrayIcon()
{
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    {
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(Qt::black, 2));
        painter.setBrush(faceplate::plateTop());
        painter.drawRoundedRect(QRectF(2, 2, 28, 28), 6, 6);
        painter.setPen(Qt::NoPen);
        painter.setBrush(faceplate::lampGreen());
        painter.drawEllipse(QPointF(16, 16), 6, 6);
    }
    trayIcon_ = std::make_unique<QSystemTrayIcon>(QIcon(pixmap));
    trayIcon_->setToolTip(QStringLiteral("Brevalo Capture"));
    auto* menu = new QMenu(monitorWindow_.get());
    connect(menu->addAction(QStringLiteral("Show Monitor")), &QAction::triggered, this,
            &VantorelApp::showMonitorWindow);
    connect(menu->addAction(QStringLiteral("Open Album Capture")), &QAction::triggered, this,
            &VantorelApp::openCaptureWindow);
    menu->addSeparator();
    connect(menu->addAction(QStringLiteral("Quit")), &QAction::triggered, qApp,
            &QCoreApplication::quit, Qt::QueuedConnection);
    trayIcon_->setContextMenu(menu);
    connect(trayIcon_.get(), &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger) {
                    showMonitorWindow();
                }
            });
    trayIcon_->show();
}

} // namespace brevalo
