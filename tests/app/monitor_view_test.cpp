// The monitor panel rendered off screen over a controller on simulated hardware: texts, enabled
// states and accessibility per state, and the operations its controls call.

#include "app/desktop_settings.h"
#include "app/faceplate_widgets.h"
#include "app/level_meter_view.h"
#include "app/monitor_view.h"
#include "app_test_support.h"
#include "monitor/display_format.h"
#include "monitor_controller/controller_fixture.h"

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

// What assistive technology says for a control: its name and its value.
QString spoken(QWidget* widget)
{
    return accessibleText(widget, QAccessible::Name) + QStringLiteral(": ") +
           accessibleText(widget, QAccessible::Value);
}

// The status lamp and title, and the transport key's text, caption, icon and enabled state.
QStringList statusAndKey(MonitorView& v)
{
    QPushButton* key = v.transportKey();
    return {v.statusLampWordLabel()->text(),
            v.statusTitleLabel()->text(),
            key->text(),
            v.transportCaptionLabel()->text(),
            key->property("iconName").toString(),
            key->isEnabled() ? QStringLiteral("enabled") : QStringLiteral("disabled")};
}

class MonitorPanel : public ControllerFixture
{
protected:
    // The usual desk playing a sine on both channels.
    void addStandardDevices(double amplitude = 0.25)
    {
        ControllerFixture::addStandardDevices();
        for (std::uint32_t channel : {0u, 1u}) {
            sim_.setInputSignal(input_, channel, SimSignal::sine(1000.0, amplitude));
        }
    }

    MonitorView& show()
    {
        create();
        desktop_ = std::make_unique<DesktopSettings>(desktopServices_);
        view_ = std::make_unique<MonitorView>(controller(), desktop_.get());
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

    DesktopSettings::Services desktopServices_;
    std::unique_ptr<DesktopSettings> desktop_;
    std::unique_ptr<MonitorView> view_;
};

TEST(LevelMeterBar, SegmentsShareTheWidthWithSmallGaps)
{
    const QRectF bar(0, 0, 400, 18);
    const QRectF first = LevelMeterBar::segmentRect(0, bar);
    EXPECT_DOUBLE_EQ(first.left(), 0.0);
    EXPECT_NEAR(LevelMeterBar::segmentRect(31, bar).right(), 400.0, 1e-9);
    for (int i = 1; i < 32; ++i) {
        const QRectF current = LevelMeterBar::segmentRect(i, bar);
        EXPECT_NEAR(current.width(), first.width(), 1e-9);
        EXPECT_GT(current.left(), LevelMeterBar::segmentRect(i - 1, bar).right()) << i;
    }
}

TEST_F(MonitorPanel, StoppedPanelShowsTheFaceplateAndOffersToEngageTheRoute)
{
    addStandardDevices();
    MonitorView& v = show();
    EXPECT_EQ(v.deviceMenuButton()->text(), "Scarlett 2i2");
    EXPECT_EQ(v.pairMenuButton()->text(), pairMenuText(*controller().selectedChannelPair()));
    EXPECT_EQ(v.outputSummaryLabel()->text(), "Speakers, 48.0 kHz / 32-bit float");
    EXPECT_THAT(statusAndKey(v), ElementsAre("READY", "Ready", "Start Monitoring", "ENGAGE ROUTE",
                                             "play.fill", "enabled"));
    EXPECT_FALSE(v.transportKey()->icon().isNull());
    EXPECT_EQ(v.muteStateLabel()->text(), "OUTPUT ON");

    LevelMeterView* left = v.leftMeter();
    EXPECT_EQ(spoken(left->bar()), "Left input level: -60 decibels full scale, held peak -60 "
                                   "decibels full scale, no clipping");
    EXPECT_EQ(spoken(left->peakMemoryButton()),
              "Reset left peak memory: -60.0 decibels full scale");
    EXPECT_EQ(spoken(left->clipLamp()), "Left clipping indicator: No clipping");
    EXPECT_EQ(accessibleText(v.transportKey(), QAccessible::Description),
              "Starts audio monitoring");
    EXPECT_FALSE(left->clipLamp()->isEnabled());
    // A disabled lamp offers no press action to assistive technology.
    EXPECT_FALSE(QAccessible::queryAccessibleInterface(left->clipLamp())
                     ->actionInterface()
                     ->actionNames()
                     .contains(QAccessibleActionInterface::pressAction()));

    EXPECT_TRUE(v.retryButton()->isHidden());
    EXPECT_TRUE(v.microphoneSettingsButton()->isHidden());
    EXPECT_TRUE(v.diagnosticsPanel()->isHidden());
    render(QStringLiteral("monitor-stopped"));
}

TEST_F(MonitorPanel, DeviceAndPairMenusCheckTheSelectionAndSelect)
{
    addStandardDevices();
    addInput("usb-2", "USB Phono Preamp");
    MonitorView& v = show();

    QStringList checked;
    EXPECT_THAT(actionTexts(v.deviceMenuButton()->menu(), &checked),
                ElementsAre("Scarlett 2i2", "USB Phono Preamp"));
    EXPECT_THAT(checked, ElementsAre("Scarlett 2i2"));
    checked.clear();
    ASSERT_FALSE(actionTexts(v.pairMenuButton()->menu(), &checked).isEmpty());
    EXPECT_THAT(checked, ElementsAre(v.pairMenuButton()->text()));

    v.deviceMenuButton()->menu()->actions()[1]->trigger();
    EXPECT_EQ(controller().selectedDeviceUID(), "usb-2");
    EXPECT_EQ(v.deviceMenuButton()->text(), "USB Phono Preamp");
    checked.clear();
    actionTexts(v.deviceMenuButton()->menu(), &checked);
    EXPECT_THAT(checked, ElementsAre("USB Phono Preamp"));

    controller().setInputSelectionLocked(true);
    EXPECT_FALSE(v.deviceMenuButton()->isEnabled());
    EXPECT_FALSE(v.pairMenuButton()->isEnabled());
    controller().setInputSelectionLocked(false);
    EXPECT_TRUE(v.deviceMenuButton()->isEnabled());
}

TEST_F(MonitorPanel, MonitoringShowsLevelsEachMetersControlsActOnItsOwnChannelAndMuteLatches)
{
    addStandardDevices(0.25); // −12 dBFS on the right
    sim_.setInputSignal(input_, 0, SimSignal::sine(1000.0, 1.0));
    MonitorView& v = show();
    v.transportKey()->click();
    wait(1s);
    EXPECT_THAT(statusAndKey(v), ElementsAre("ACTIVE", "Monitoring", "Stop Monitoring",
                                             "DISENGAGE ROUTE", "stop.fill", "enabled"));
    const MeterReading right = controller().rightMeter();
    EXPECT_EQ(v.rightMeter()->reading(), right);
    EXPECT_EQ(v.rightMeter()->peakMemoryButton()->text(),
              formatDecimal(1, right.sessionPeakDBFS) + " dBFS");

    LampButton* lamp = v.leftMeter()->clipLamp();
    ASSERT_TRUE(controller().leftMeter().isClipping);
    EXPECT_TRUE(lamp->isEnabled());
    EXPECT_TRUE(lamp->isLit());
    EXPECT_EQ(spoken(lamp), "Clear left clipping indicator: Clipping detected");
    EXPECT_TRUE(accessibleText(v.leftMeter()->bar(), QAccessible::Value)
                    .endsWith("clipping indicator latched"));
    EXPECT_FALSE(v.rightMeter()->clipLamp()->isEnabled());
    render(QStringLiteral("monitor-clipping"));
    sim_.setInputSignal(input_, 0, SimSignal::sine(1000.0, 0.25));
    wait(300ms);
    lamp->click();
    EXPECT_FALSE(controller().leftMeter().isClipping);
    EXPECT_FALSE(lamp->isEnabled());
    render(QStringLiteral("monitor-running"));

    v.rightMeter()->peakMemoryButton()->click();
    EXPECT_EQ(controller().rightMeter().sessionPeakDBFS, -60.0);
    EXPECT_EQ(v.rightMeter()->peakMemoryButton()->text(), "-60.0 dBFS");
    EXPECT_GT(controller().leftMeter().sessionPeakDBFS, -1.0);

    v.muteKey()->click();
    EXPECT_TRUE(controller().isMuted());
    EXPECT_TRUE(v.muteKey()->isChecked());
    EXPECT_EQ(v.muteStateLabel()->text(), "LATCHED");
    EXPECT_THAT(statusAndKey(v).mid(0, 2), ElementsAre("MUTED", "Monitoring · Muted"));
    v.muteKey()->click();
    EXPECT_FALSE(controller().isMuted());
}

TEST_F(MonitorPanel, MissingInputWaitsAndOffersToCancelTheResume)
{
    addStandardDevices();
    MonitorView& v = show();
    v.transportKey()->click();
    wait(300ms);
    sim_.removeDevice(input_);
    wait(300ms);

    ASSERT_EQ(controller().phase(), Kind::waitingForInput);
    EXPECT_EQ(v.deviceMenuButton()->text(), "Saved device (disconnected)");
    EXPECT_THAT(statusAndKey(v),
                ElementsAre("WAIT", "Waiting for the selected input", "Cancel Auto-Resume",
                            "DISENGAGE ROUTE", "stop.fill", "enabled"));
    render(QStringLiteral("monitor-waiting"));

    // Cancelled, nothing is left to start on.
    v.transportKey()->click();
    EXPECT_EQ(controller().phase(), Kind::stopped);
    EXPECT_FALSE(v.transportKey()->isEnabled());
}

TEST_F(MonitorPanel, FailedStartShowsTheErrorAndRetryStartsAgain)
{
    addStandardDevices();
    MonitorView& v = show();
    sim_.failNext(AudioOperation::start, status::paramError);
    v.transportKey()->click();

    ASSERT_EQ(controller().phase().kind(), Kind::failed);
    ASSERT_TRUE(controller().technicalError().has_value());
    EXPECT_THAT(statusAndKey(v).mid(0, 2), ElementsAre("FAULT", "Monitoring couldn't start"));
    EXPECT_EQ(v.statusDetailLabel()->text(), controller().phase().failureMessage());
    EXPECT_FALSE(v.retryButton()->isHidden());

    v.diagnosticsToggle()->click();
    const QList<DiagnosticsRow> rows = v.shownDiagnostics();
    ASSERT_EQ(rows.size(), 7);
    EXPECT_EQ(rows.last(), (DiagnosticsRow{"LAST ERROR", *controller().technicalError(), true}));
    render(QStringLiteral("monitor-failed"));

    // Retry runs as a main-thread task, not inside the press.
    v.retryButton()->click();
    EXPECT_EQ(controller().phase().kind(), Kind::failed);
    scheduler_.runDue();
    EXPECT_EQ(controller().phase(), Kind::running);
    EXPECT_TRUE(v.retryButton()->isHidden());
    EXPECT_EQ(v.shownDiagnostics().size(), 6);
}

TEST_F(MonitorPanel, RefusedInputAccessOffersTheSettings)
{
    addStandardDevices();
    sim_.setAuthorization(AudioCaptureAuthorization::denied);
    MonitorView& v = show();

    EXPECT_THAT(statusAndKey(v).mid(0, 2), ElementsAre("FAULT", "Audio input access is off"));
    EXPECT_FALSE(v.transportKey()->isEnabled());
    ASSERT_FALSE(v.microphoneSettingsButton()->isHidden());
    v.microphoneSettingsButton()->click();
    EXPECT_THAT(openedUrls_, ElementsAre(MonitorViewModel::microphoneSettingsUrl()));
}

TEST_F(MonitorPanel, AudioSetupTriesEachProgramThenTheAddressThenSaysSo)
{
    std::vector<QString> looked;
    std::vector<QUrl> urls;
    desktopServices_.findExecutable = [&looked](const QString& program) {
        looked.push_back(program);
        return program == QLatin1String("gnome-control-center") ? QStringLiteral("/bin/gcc-fake")
                                                                : QString();
    };
    // The first program is found but refuses to start; the rest are absent.
    desktopServices_.startDetached = [](const QString&, const QStringList&) { return false; };
    desktopServices_.openUrl = [&urls](const QUrl& url) {
        urls.push_back(url);
        return false;
    };
    addStandardDevices();
    MonitorView& v = show();
    v.audioSetupButton()->click();
    EXPECT_EQ(looked.size(), static_cast<size_t>(DesktopSettings::soundSettingsLaunchers().size()));
    EXPECT_EQ(looked.front(), "gnome-control-center");
    EXPECT_THAT(urls, ElementsAre(DesktopSettings::soundSettingsUrl()));
    EXPECT_FALSE(v.noticeLabel()->isHidden());
    EXPECT_EQ(v.noticeLabel()->text(), DesktopSettings::unavailableMessage);

    // Other addresses go straight to the address handler.
    looked.clear();
    desktop_->open(QUrl("https://example.org/help"));
    EXPECT_TRUE(looked.empty());
    EXPECT_EQ(urls.size(), 2u);
}

TEST_F(MonitorPanel, EmptyCatalogInvitesAChoiceAndBecomingActiveRereadsTheDevices)
{
    addOutput();
    MonitorView& v = show();
    EXPECT_EQ(v.deviceMenuButton()->text(), "Choose an input…");
    EXPECT_EQ(v.pairMenuButton()->text(), "Choose channels…");
    EXPECT_FALSE(v.transportKey()->isEnabled());
    ASSERT_EQ(v.deviceMenuButton()->menu()->actions().size(), 1);
    EXPECT_FALSE(v.deviceMenuButton()->menu()->actions()[0]->isEnabled());

    // A device that arrived while the application was in the background; its notification has
    // not been handled yet.
    addInput("usb-2", "USB Phono Preamp");
    emit qApp->applicationStateChanged(Qt::ApplicationActive);
    EXPECT_THAT(actionTexts(v.deviceMenuButton()->menu()), ElementsAre("USB Phono Preamp"));
}

} // namespace
} // namespace brevalo::testing_support
