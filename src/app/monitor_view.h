#pragma once

// The monitor window's content: a dark hardware-style faceplate with the signal path, the two
// level meters, the status lamp and console, the transport and mute keys, the service actions
// and the collapsible technical diagnostics. It reads the monitor controller's published state
// and calls its operations; it decides nothing about monitoring itself.
//
// Threads: main thread.

#include "app/monitor_presentation.h"
#include "monitor/main_thread_scheduler.h"

#include <QPointer>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>

class QGridLayout;
class QLabel;
class QPushButton;
class QScrollArea;
class QToolButton;

namespace brevalo {

class DesktopSettings;
class LevelMeterView;
class MonitorViewModel;
class PilotLamp;
class Well;

class MonitorView : public QWidget
{
    Q_OBJECT
public:
    // settings opens the desktop's sound settings for "Open Sound Settings" and reports when
    // nothing could be opened (microphone settings go through the controller, which uses the
    // same opener in the application). It may be null: the button then only shows the notice.
    MonitorView(MonitorViewModel& monitor, DesktopSettings* settings, QWidget* parent = nullptr);

    MonitorViewModel& monitor() const { return monitor_; }

    // The parts tests and the window look at.
    LevelMeterView* leftMeter() const { return leftMeter_; }
    LevelMeterView* rightMeter() const { return rightMeter_; }
    QPushButton* deviceMenuButton() const { return deviceButton_; }
    QPushButton* pairMenuButton() const { return pairButton_; }
    QLabel* outputSummaryLabel() const { return outputLabel_; }
    QLabel* statusLampWordLabel() const { return lampWord_; }
    PilotLamp* statusLamp() const { return statusLamp_; }
    QLabel* statusTitleLabel() const { return statusTitle_; }
    QLabel* statusDetailLabel() const { return statusDetail_; }
    QLabel* transportCaptionLabel() const { return transportCaption_; }
    QPushButton* transportKey() const { return transportKey_; }
    QPushButton* muteKey() const { return muteKey_; }
    QLabel* muteStateLabel() const { return muteState_; }
    QToolButton* diagnosticsToggle() const { return diagnosticsToggle_; }
    QWidget* diagnosticsPanel() const { return diagnosticsPanel_; }
    QPushButton* retryButton() const { return retryButton_; }
    QPushButton* microphoneSettingsButton() const { return microphoneButton_; }
    QPushButton* audioSetupButton() const { return audioSetupButton_; }
    QPushButton* openCaptureButton() const { return openCaptureButton_; }
    QLabel* noticeLabel() const { return notice_; }

    // Title and value of every diagnostics row currently shown, in order.
    QList<DiagnosticsRow> shownDiagnostics() const;
    void setDiagnosticsExpanded(bool expanded);
    bool isDiagnosticsExpanded() const;

    // The whole faceplate at its laid-out size, without the scroll view around it.
    QWidget* faceplate() const { return faceplate_; }

signals:
    // "Open album capture" was pressed.
    void openCaptureRequested();

private:
    void buildHeader(QLayout* into);
    QWidget* buildSignalPath();
    QWidget* buildMeters();
    QWidget* buildStatus();
    QWidget* buildTransport();
    QWidget* buildService();
    QWidget* buildDiagnostics();

    void updatePresentation();
    void updateDeviceMenus();
    void updateMeters();
    void updateDiagnostics();
    void showNotice(const QString& message);
    void retry();

    MonitorViewModel& monitor_;
    QPointer<DesktopSettings> settings_;

    QWidget* faceplate_ = nullptr;
    QScrollArea* scroll_ = nullptr;
    QPushButton* deviceButton_ = nullptr;
    QPushButton* pairButton_ = nullptr;
    QLabel* outputLabel_ = nullptr;
    LevelMeterView* leftMeter_ = nullptr;
    LevelMeterView* rightMeter_ = nullptr;
    PilotLamp* statusLamp_ = nullptr;
    QLabel* lampWord_ = nullptr;
    QLabel* statusTitle_ = nullptr;
    QLabel* statusDetail_ = nullptr;
    QLabel* transportCaption_ = nullptr;
    QPushButton* transportKey_ = nullptr;
    QPushButton* muteKey_ = nullptr;
    QLabel* muteState_ = nullptr;
    QPushButton* retryButton_ = nullptr;
    QPushButton* microphoneButton_ = nullptr;
    QPushButton* audioSetupButton_ = nullptr;
    QLabel* notice_ = nullptr;
    QToolButton* diagnosticsToggle_ = nullptr;
    QWidget* diagnosticsPanel_ = nullptr;
    QGridLayout* diagnosticsGrid_ = nullptr;
    QList<QPair<QLabel*, QLabel*>> diagnosticsLabels_;
    QPushButton* openCaptureButton_ = nullptr;
    std::unique_ptr<ScheduledTask> retryTask_;
    // What the two menus were last built from; rebuilt only when it changes, so that a menu
    // the user holds open is not pulled from under the pointer by a meter-unrelated update.
    std::optional<QList<AudioInputDevice>> menuDevices_;
    std::optional<QString> menuDeviceUID_;
    std::optional<QString> menuPairID_;
};

} // namespace brevalo
