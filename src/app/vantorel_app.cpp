#include "app/vantorel_app.h"

#include "app/app_windows.h"
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

    monitorWindow_ = std::make_unique<MonitorWindow>(*monitor_, desktopSettings_.get());
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
        captureWindow_ = std::make_unique<CaptureWindow>();
    }
    captureWindow_->show();
    captureWindow_->raise();
    captureWindow_->activateWindow();
}

void VantorelApp::installTerminationHook()
{
    // Weak references: the hook keeps neither controller alive and does nothing for one that
    // is already gone. The capture controller's shutdown will run first once it exists.
    QPointer<MonitorViewModel> monitor = monitor_.get();
    appDelegate_->onTerminate = [monitor] {
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
