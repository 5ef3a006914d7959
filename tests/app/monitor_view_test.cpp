// The monitor panel rendered off screen over a controller on simulated hardware: texts, enabled
// states and accessibility per state, and the operations its controls call.

#include "app/accessible_value.h"
#include "app/desktop_settings.h"
#include "app/faceplate_widgets.h"
#include "app/level_meter_view.h"
#include "app/monitor_view.h"
#include "app_test_support.h"
#include "monitor/display_format.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QGuiApplication>
#include <QLabel>
#include <QLayout>
#include <QMenu>
#include <QPushButton>
#include <QToolButton>

#include <gmock/gmock.h>

namespace brevalo::testing_support {
namespace {

using ::testing::ElementsAre;
using Kind = MonitoringPhase::Kind;

QString accessibleText(QWidget* widget, QAccessible::Text which)
{
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(widget);
    return iface ? iface->text(which) : QString();
}

// Every text a person can read on the faceplate.
QStringList visibleTexts(QWidget* root)
{
    QStringList texts;
    for (auto* label : root->findChildren<QLabel*>()) {
        if (label->isVisibleTo(root)) {
            texts << label->text();
        }
    }
    for (auto* button : root->findChildren<QAbstractButton*>()) {
        if (button->isVisibleTo(root)) {
            texts << button->text();
        }
    }
    return texts;
}

QStringList menuTexts(QPushButton* button, QStringList* checked = nullptr)
{
    QStringList texts;
    for (QAction* action : button->menu()->actions()) {
        texts << action->text();
        if (checked && action->isChecked()) {
            *checked << action->text();
        }
    }
    return texts;
}

QAction* menuAction(QPushButton* button, const QString& text)
{
    for (QAction* action : button->menu()->actions()) {
        if (action->text() == text) {
            return action;
        }
    }
    return nullptr;
}

class MonitorPanel : public ::testing::Test, public SimulatedDesk
{
protected:
    ~MonitorPanel() override
    {
        view_.reset();
        controller_.reset();
        simulation_.drainNotifications();
    }

    SimulatedAudioSystem& sim() override { return simulation_; }

    // The usual desk: a Scarlett into the speakers, both at 48 kHz, playing a sine.
    void addStandardDevices(double amplitude = 0.25)
    {
        input_ = addInput("scarlett-1", "Scarlett 2i2");
        output_ = addOutput();
        for (std::uint32_t channel : {0u, 1u}) {
            sim().setInputSignal(input_, channel, SimSignal::sine(1000.0, amplitude));
        }
    }

    MonitorView& create()
    {
        sim().drainNotifications();
        controller_ =
            std::make_unique<MonitorViewModel>(simulation_, settings, controllerOptions());
        deliver();
        scheduler.runDue();
        desktop_ = std::make_unique<DesktopSettings>(desktopServices_);
        view_ = std::make_unique<MonitorView>(*controller_, desktop_.get());
        view_->resize(620, 700);
        view_->show();
        return *view_;
    }

    void render(const QString& name)
    {
        // Tall enough for the whole faceplate, so open diagnostics are not scrolled away.
        QCoreApplication::sendPostedEvents();
        view_->faceplate()->layout()->activate();
        view_->resize(620, std::max(700, view_->faceplate()->sizeHint().height()));
        saveRender(*view_, name);
    }

    MonitorViewModel& controller() { return *controller_; }
    MonitorView& view() { return *view_; }

    SimulatedAudioSystem simulation_{SimTimeMode::manual};
    DesktopSettings::Services desktopServices_;
    std::unique_ptr<MonitorViewModel> controller_;
    std::unique_ptr<DesktopSettings> desktop_;
    std::unique_ptr<MonitorView> view_;
    ObjectId input_ = unknownObject;
    ObjectId output_ = unknownObject;
};

TEST(LevelMeterBar, SegmentsShareTheWidthWithSmallGaps)
{
    const QRectF bar(0, 0, 400, 18);
    const QRectF first = LevelMeterBar::segmentRect(0, bar);
    const QRectF last = LevelMeterBar::segmentRect(31, bar);
    EXPECT_DOUBLE_EQ(first.left(), 0.0);
    EXPECT_NEAR(last.right(), 400.0, 1e-9);
    for (int i = 1; i < 32; ++i) {
        const QRectF previous = LevelMeterBar::segmentRect(i - 1, bar);
        const QRectF current = LevelMeterBar::segmentRect(i, bar);
        EXPECT_NEAR(current.width(), first.width(), 1e-9);
        EXPECT_GT(current.left(), previous.right()) << i;
    }
}

TEST_F(MonitorPanel, ShowsEveryFixedTextOfTheFaceplate)
{
    addStandardDevices();
    MonitorView& v = create();
    v.setDiagnosticsExpanded(true);
    const QStringList texts = visibleTexts(&v);
    for (const QString& fixed :
         {panelText::title, panelText::subtitle, panelText::badge, panelText::signalPath,
          panelText::levelMeters, panelText::systemStatus, panelText::outputTransport,
          panelText::peakMemory, panelText::input, panelText::channels, panelText::output,
          panelText::system, panelText::status, panelText::diagnostics, panelText::audioSetup,
          panelText::openCapture, QStringLiteral("MUTE"), QStringLiteral("CLIP")}) {
        EXPECT_TRUE(texts.contains(fixed)) << fixed.toStdString();
    }
    EXPECT_EQ(v.openCaptureButton()->accessibleDescription(), panelText::openCaptureHint);
    EXPECT_EQ(v.openCaptureButton()->toolTip(), panelText::openCaptureHint);
}

TEST_F(MonitorPanel, StoppedPanelOffersToEngageTheRoute)
{
    addStandardDevices();
    MonitorView& v = create();

    EXPECT_EQ(v.deviceMenuButton()->text(), "Scarlett 2i2");
    EXPECT_EQ(v.pairMenuButton()->text(), pairMenuText(*controller().selectedChannelPair()));
    EXPECT_EQ(v.outputSummaryLabel()->text(), "Speakers, 48.0 kHz / 32-bit float");
    EXPECT_EQ(v.statusLampWordLabel()->text(), "READY");
    EXPECT_EQ(v.statusTitleLabel()->text(), "Ready");
    EXPECT_EQ(v.statusDetailLabel()->text(),
              "48.0 kHz input → 48.0 kHz system output. Monitoring is off.");

    QPushButton* key = v.transportKey();
    EXPECT_EQ(key->text(), "Start Monitoring");
    EXPECT_TRUE(key->isEnabled());
    EXPECT_EQ(key->property("iconName").toString(), "play.fill");
    EXPECT_FALSE(key->icon().isNull());
    EXPECT_EQ(v.transportCaptionLabel()->text(), "ENGAGE ROUTE");
    EXPECT_EQ(accessibleText(key, QAccessible::Description), "Starts audio monitoring");

    EXPECT_FALSE(v.muteKey()->isChecked());
    EXPECT_EQ(v.muteStateLabel()->text(), "OUTPUT ON");
    EXPECT_EQ(v.muteKey()->property("iconName").toString(), "speaker.wave.2.fill");
    EXPECT_EQ(accessibleText(v.muteKey(), QAccessible::Name), "Mute output");
    EXPECT_EQ(accessibleText(v.muteKey(), QAccessible::Description),
              "Toggles output mute without stopping monitoring");

    for (LevelMeterView* meter : {v.leftMeter(), v.rightMeter()}) {
        EXPECT_FALSE(meter->clipLamp()->isEnabled());
        EXPECT_FALSE(meter->clipLamp()->isLit());
        EXPECT_EQ(meter->peakMemoryButton()->text(), "-60.0 dBFS");
    }
    EXPECT_NE(v.leftMeter()->scaleView(), nullptr);
    EXPECT_EQ(v.rightMeter()->scaleView(), nullptr);

    EXPECT_TRUE(v.retryButton()->isHidden());
    EXPECT_TRUE(v.microphoneSettingsButton()->isHidden());
    EXPECT_FALSE(v.audioSetupButton()->isHidden());
    EXPECT_FALSE(v.isDiagnosticsExpanded());
    EXPECT_TRUE(v.diagnosticsPanel()->isHidden());
    render(QStringLiteral("monitor-stopped"));
}

TEST_F(MonitorPanel, MeterAccessibilityTextsAreExposed)
{
    addStandardDevices();
    MonitorView& v = create();
    LevelMeterView* left = v.leftMeter();
    EXPECT_EQ(accessibleText(left->bar(), QAccessible::Name), "Left input level");
    EXPECT_EQ(accessibleText(left->bar(), QAccessible::Value),
              "-60 decibels full scale, held peak -60 decibels full scale, no clipping");
    QPushButton* memory = left->peakMemoryButton();
    EXPECT_EQ(accessibleText(memory, QAccessible::Name), "Reset left peak memory");
    EXPECT_EQ(accessibleText(memory, QAccessible::Value), "-60.0 decibels full scale");
    EXPECT_EQ(accessibleText(memory, QAccessible::Description),
              "The next measured peak starts a new maximum");
    EXPECT_EQ(memory->toolTip(), "Reset left peak memory · the next peak starts a new maximum");
    EXPECT_EQ(accessibleText(left->clipLamp(), QAccessible::Name), "Left clipping indicator");
    EXPECT_EQ(accessibleText(left->clipLamp(), QAccessible::Value), "No clipping");
    EXPECT_EQ(accessibleText(left->clipLamp(), QAccessible::Description),
              "The lamp latches when clipping is detected");
    EXPECT_EQ(left->clipLamp()->toolTip(), "No clipping detected");
    EXPECT_EQ(accessibleText(v.rightMeter()->peakMemoryButton(), QAccessible::Name),
              "Reset right peak memory");
    // A disabled lamp offers no press action to assistive technology.
    EXPECT_FALSE(QAccessible::queryAccessibleInterface(left->clipLamp())
                     ->actionInterface()
                     ->actionNames()
                     .contains(QAccessibleActionInterface::pressAction()));
}

TEST_F(MonitorPanel, DeviceAndPairMenusCheckTheSelectionAndSelect)
{
    addStandardDevices();
    const ObjectId second = addInput("usb-2", "USB Phono Preamp");
    sim().setInputSignal(second, 0, SimSignal::sine(500.0, 0.1));
    MonitorView& v = create();

    QStringList checked;
    EXPECT_THAT(menuTexts(v.deviceMenuButton(), &checked),
                ElementsAre("Scarlett 2i2", "USB Phono Preamp"));
    EXPECT_THAT(checked, ElementsAre("Scarlett 2i2"));
    checked.clear();
    const QStringList pairs = menuTexts(v.pairMenuButton(), &checked);
    ASSERT_FALSE(pairs.isEmpty());
    EXPECT_THAT(checked, ElementsAre(v.pairMenuButton()->text()));

    menuAction(v.deviceMenuButton(), "USB Phono Preamp")->trigger();
    EXPECT_EQ(controller().selectedDeviceUID(), "usb-2");
    EXPECT_EQ(v.deviceMenuButton()->text(), "USB Phono Preamp");
    checked.clear();
    menuTexts(v.deviceMenuButton(), &checked);
    EXPECT_THAT(checked, ElementsAre("USB Phono Preamp"));

    controller().setInputSelectionLocked(true);
    EXPECT_FALSE(v.deviceMenuButton()->isEnabled());
    EXPECT_FALSE(v.pairMenuButton()->isEnabled());
    controller().setInputSelectionLocked(false);
    EXPECT_TRUE(v.deviceMenuButton()->isEnabled());
}

TEST_F(MonitorPanel, MonitoringShowsLevelsAndTheMuteKeyLatches)
{
    addStandardDevices(0.25); // −12 dBFS
    MonitorView& v = create();
    v.transportKey()->click();
    EXPECT_EQ(controller().phase(), Kind::running);
    wait(1s);

    EXPECT_EQ(v.transportKey()->text(), "Stop Monitoring");
    EXPECT_EQ(v.transportKey()->property("iconName").toString(), "stop.fill");
    EXPECT_EQ(v.transportCaptionLabel()->text(), "DISENGAGE ROUTE");
    EXPECT_EQ(accessibleText(v.transportKey(), QAccessible::Description), "Stops audio monitoring");
    EXPECT_EQ(v.statusLampWordLabel()->text(), "ACTIVE");
    EXPECT_EQ(v.statusTitleLabel()->text(), "Monitoring");

    const MeterReading left = controller().leftMeter();
    EXPECT_NEAR(left.levelDBFS, -12.0, 0.5);
    EXPECT_EQ(v.leftMeter()->reading(), left);
    EXPECT_TRUE(accessibleText(v.leftMeter()->bar(), QAccessible::Value)
                    .startsWith("-12 decibels full scale, held peak -12 decibels full scale"));
    EXPECT_EQ(v.leftMeter()->peakMemoryButton()->text(),
              formatDecimal(1, left.sessionPeakDBFS) + " dBFS");

    v.diagnosticsToggle()->click();
    const QList<DiagnosticsRow> rows = v.shownDiagnostics();
    ASSERT_EQ(rows.size(), 6);
    EXPECT_EQ(rows[0], (DiagnosticsRow{"INPUT RATE", "48000 Hz"}));
    EXPECT_EQ(rows[1], (DiagnosticsRow{"OUTPUT RATE", "48000 Hz"}));
    EXPECT_TRUE(rows[2].value.endsWith(" frames"));
    v.diagnosticsToggle()->click();
    render(QStringLiteral("monitor-running"));

    v.muteKey()->click();
    EXPECT_TRUE(controller().isMuted());
    EXPECT_TRUE(v.muteKey()->isChecked());
    EXPECT_EQ(v.muteStateLabel()->text(), "LATCHED");
    EXPECT_EQ(v.muteKey()->property("iconName").toString(), "speaker.slash.fill");
    EXPECT_EQ(v.statusLampWordLabel()->text(), "MUTED");
    EXPECT_EQ(v.statusTitleLabel()->text(), "Monitoring · Muted");
    EXPECT_EQ(controller().phase(), Kind::running);
    v.muteKey()->click();
    EXPECT_FALSE(controller().isMuted());
    EXPECT_EQ(v.statusLampWordLabel()->text(), "ACTIVE");

    v.transportKey()->click();
    EXPECT_EQ(controller().phase(), Kind::stopped);
    EXPECT_EQ(v.transportKey()->text(), "Start Monitoring");
}

TEST_F(MonitorPanel, PeakMemoryButtonReleasesTheSessionPeak)
{
    addStandardDevices(0.5);
    MonitorView& v = create();
    v.transportKey()->click();
    wait(500ms);
    EXPECT_NEAR(controller().rightMeter().sessionPeakDBFS, -6.0, 0.2);
    sim().setInputSignal(input_, 1, SimSignal::sine(1000.0, 0.125));
    v.rightMeter()->peakMemoryButton()->click();
    EXPECT_EQ(controller().rightMeter().sessionPeakDBFS, -60.0);
    EXPECT_EQ(v.rightMeter()->peakMemoryButton()->text(), "-60.0 dBFS");
    wait(500ms);
    EXPECT_NEAR(controller().rightMeter().sessionPeakDBFS, -18.0, 0.3);
    EXPECT_NEAR(controller().leftMeter().sessionPeakDBFS, -6.0, 0.2);
}

TEST_F(MonitorPanel, ClipLampLatchesUntilPressed)
{
    addStandardDevices(0.25);
    sim().setInputSignal(input_, 0, SimSignal::sine(1000.0, 1.0));
    MonitorView& v = create();
    v.transportKey()->click();
    wait(500ms);

    LampButton* lamp = v.leftMeter()->clipLamp();
    EXPECT_TRUE(controller().leftMeter().isClipping);
    EXPECT_TRUE(lamp->isEnabled());
    EXPECT_TRUE(lamp->isLit());
    EXPECT_EQ(accessibleText(lamp, QAccessible::Name), "Clear left clipping indicator");
    EXPECT_EQ(accessibleText(lamp, QAccessible::Value), "Clipping detected");
    EXPECT_EQ(accessibleText(lamp, QAccessible::Description),
              "Press to clear the latched indicator");
    EXPECT_EQ(lamp->toolTip(), "Click to clear the latched clip indicator");
    EXPECT_TRUE(accessibleText(v.leftMeter()->bar(), QAccessible::Value)
                    .endsWith("clipping indicator latched"));
    EXPECT_FALSE(v.rightMeter()->clipLamp()->isEnabled());
    render(QStringLiteral("monitor-clipping"));

    // Still latched after the signal drops back.
    sim().setInputSignal(input_, 0, SimSignal::sine(1000.0, 0.25));
    wait(500ms);
    EXPECT_TRUE(lamp->isLit());
    lamp->click();
    EXPECT_FALSE(controller().leftMeter().isClipping);
    EXPECT_FALSE(lamp->isEnabled());
    EXPECT_EQ(accessibleText(lamp, QAccessible::Value), "No clipping");
    wait(500ms);
    EXPECT_FALSE(lamp->isLit());
}

TEST_F(MonitorPanel, MissingInputWaitsAndOffersToCancelTheResume)
{
    addStandardDevices();
    MonitorView& v = create();
    v.transportKey()->click();
    wait(300ms);
    sim().removeDevice(input_);
    wait(300ms);

    EXPECT_EQ(controller().phase(), Kind::waitingForInput);
    EXPECT_EQ(v.deviceMenuButton()->text(), "Saved device (disconnected)");
    EXPECT_EQ(v.statusLampWordLabel()->text(), "WAIT");
    EXPECT_EQ(v.statusTitleLabel()->text(), "Waiting for the selected input");
    EXPECT_EQ(v.transportKey()->text(), "Cancel Auto-Resume");
    EXPECT_TRUE(v.transportKey()->isEnabled());
    EXPECT_EQ(v.transportKey()->property("iconName").toString(), "stop.fill");
    EXPECT_EQ(v.transportCaptionLabel()->text(), "DISENGAGE ROUTE");
    render(QStringLiteral("monitor-waiting"));

    v.transportKey()->click();
    EXPECT_EQ(controller().phase(), Kind::stopped);
    EXPECT_FALSE(controller().monitorIntent());
    // Nothing to start on now.
    EXPECT_FALSE(v.transportKey()->isEnabled());
    EXPECT_EQ(v.transportCaptionLabel()->text(), "ENGAGE ROUTE");
}

TEST_F(MonitorPanel, FailedStartShowsTheErrorAndRetryStartsAgain)
{
    addStandardDevices();
    MonitorView& v = create();
    sim().failNext(AudioOperation::start, status::paramError);
    v.transportKey()->click();

    ASSERT_EQ(controller().phase().kind(), Kind::failed);
    ASSERT_TRUE(controller().technicalError().has_value());
    EXPECT_EQ(v.statusLampWordLabel()->text(), "FAULT");
    EXPECT_EQ(v.statusTitleLabel()->text(), "Monitoring couldn't start");
    EXPECT_EQ(v.statusDetailLabel()->text(), controller().phase().failureMessage());
    EXPECT_FALSE(v.retryButton()->isHidden());
    EXPECT_EQ(v.retryButton()->property("iconName").toString(), "arrow.clockwise");

    v.setDiagnosticsExpanded(true);
    EXPECT_FALSE(v.diagnosticsPanel()->isHidden());
    const QList<DiagnosticsRow> rows = v.shownDiagnostics();
    ASSERT_EQ(rows.size(), 7);
    EXPECT_EQ(rows.last(), (DiagnosticsRow{"LAST ERROR", *controller().technicalError(), true}));
    EXPECT_EQ(rows[0].value, "—");
    render(QStringLiteral("monitor-failed"));

    // Retry runs as a main-thread task, not inside the press.
    v.retryButton()->click();
    EXPECT_EQ(controller().phase().kind(), Kind::failed);
    scheduler.runDue();
    EXPECT_EQ(controller().phase(), Kind::running);
    EXPECT_TRUE(v.retryButton()->isHidden());
    EXPECT_EQ(v.shownDiagnostics().size(), 6);
}

TEST_F(MonitorPanel, RefusedInputAccessOffersTheSettings)
{
    addStandardDevices();
    sim().setAuthorization(AudioCaptureAuthorization::denied);
    MonitorView& v = create();

    EXPECT_EQ(v.statusLampWordLabel()->text(), "FAULT");
    EXPECT_EQ(v.statusTitleLabel()->text(), "Audio input access is off");
    EXPECT_FALSE(v.transportKey()->isEnabled());
    ASSERT_FALSE(v.microphoneSettingsButton()->isHidden());
    EXPECT_EQ(v.microphoneSettingsButton()->property("iconName").toString(), "gear");
    v.microphoneSettingsButton()->click();
    ASSERT_EQ(openedUrls.size(), 1u);
    EXPECT_EQ(openedUrls[0], MonitorViewModel::microphoneSettingsUrl());
}

TEST_F(MonitorPanel, PermissionRequestIsARouteTransition)
{
    addStandardDevices();
    sim().setAuthorization(AudioCaptureAuthorization::notDetermined);
    sim().setPermissionAnswer(std::nullopt);
    MonitorView& v = create();
    v.transportKey()->click();

    ASSERT_EQ(controller().phase(), Kind::requestingPermission);
    EXPECT_EQ(v.statusLampWordLabel()->text(), "SYNC");
    EXPECT_EQ(v.transportCaptionLabel()->text(), "ROUTE TRANSITION");
    EXPECT_EQ(v.statusTitleLabel()->text(), "Requesting audio input access…");
    EXPECT_EQ(v.transportKey()->property("iconName").toString(), "stop.fill");
    EXPECT_TRUE(v.transportKey()->isEnabled());

    ASSERT_TRUE(sim().answerPermissionRequest(true));
    deliver();
    EXPECT_EQ(controller().phase(), Kind::running);
    EXPECT_EQ(v.statusLampWordLabel()->text(), "ACTIVE");
    EXPECT_EQ(v.transportCaptionLabel()->text(), "DISENGAGE ROUTE");
}

TEST_F(MonitorPanel, AudioSetupSaysSoWhenNothingCanBeOpened)
{
    desktopServices_.findExecutable = [](const QString&) { return QString(); };
    desktopServices_.startDetached = [](const QString&, const QStringList&) { return false; };
    std::vector<QUrl> urls;
    desktopServices_.openUrl = [&urls](const QUrl& url) {
        urls.push_back(url);
        return false;
    };
    addStandardDevices();
    MonitorView& v = create();
    v.audioSetupButton()->click();
    EXPECT_THAT(urls, ElementsAre(DesktopSettings::soundSettingsUrl()));
    EXPECT_FALSE(v.noticeLabel()->isHidden());
    EXPECT_EQ(v.noticeLabel()->text(), DesktopSettings::unavailableMessage);
}

TEST_F(MonitorPanel, BecomingActiveRereadsTheDevices)
{
    addStandardDevices();
    MonitorView& v = create();
    // A device that arrived while the application was in the background; its notification has
    // not been handled yet.
    addInput("usb-2", "USB Phono Preamp");
    EXPECT_EQ(menuTexts(v.deviceMenuButton()).size(), 1);
    emit qApp->applicationStateChanged(Qt::ApplicationActive);
    EXPECT_THAT(menuTexts(v.deviceMenuButton()), ElementsAre("Scarlett 2i2", "USB Phono Preamp"));
}

TEST_F(MonitorPanel, EmptyCatalogInvitesAChoice)
{
    addOutput();
    MonitorView& v = create();
    EXPECT_EQ(v.deviceMenuButton()->text(), "Choose an input…");
    EXPECT_EQ(v.pairMenuButton()->text(), "Choose channels…");
    EXPECT_FALSE(v.transportKey()->isEnabled());
    ASSERT_EQ(v.deviceMenuButton()->menu()->actions().size(), 1);
    EXPECT_FALSE(v.deviceMenuButton()->menu()->actions()[0]->isEnabled());
}

} // namespace
} // namespace brevalo::testing_support
