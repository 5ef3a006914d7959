#include "app/monitor_view.h"

#include "app/accessible_value.h"
#include "app/desktop_settings.h"
#include "app/faceplate_widgets.h"
#include "app/level_meter_view.h"
#include "app/panel_icons.h"
#include "monitor/monitor_view_model.h"

#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

namespace brevalo {

namespace {

// Labels of the selectors and of the lamp, for assistive technology; the panel rules give the
// captions but not the controls' names.
const QString deviceMenuName = QStringLiteral("Input device");
const QString pairMenuName = QStringLiteral("Channel pair");
const QString statusLampName = QStringLiteral("System status");

constexpr int diagnosticsRowCount = 7; // six measurements and the last error

const char* panelStyleSheet = R"(
QLabel { color: #e6e7ea; }
QLabel#title { color: #f2f2f4; }
QLabel#subtitle { color: #8d9096; }
QLabel#badge { color: #d8dadf; border: 1px solid #5a5d63; border-radius: 3px; padding: 2px 6px;
               background: #202124; }
QPushButton#selector { color: #e6e7ea; background: #202124; border: 1px solid #050506;
                       border-radius: 5px; padding: 5px; }
QPushButton#selector:pressed { background: #2a2c30; }
QPushButton#selector:hover { border-color: #4da3ff; }
QPushButton#selector:disabled { color: #6b6e74; }
QPushButton#selector::menu-indicator { image: none; width: 0px; }
QLabel#outputSummary { color: #e6e7ea; background: #202124; border: 1px solid #050506;
                       border-radius: 5px; padding: 5px 9px; }
QPushButton { color: #e6e7ea; border: 1px solid #050506; border-radius: 5px; padding: 5px 12px;
              background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #4b4e54, stop:1 #2d2f33); }
QPushButton:hover { border-color: #4da3ff; }
QPushButton:pressed { background: #25272a; }
QPushButton:disabled { color: #6b6e74; background: #2a2c2f; }
QPushButton#peakMemory { color: #ffb43c; background: #0e0f10; font-family: monospace;
                         padding: 3px 6px; }
QPushButton#transportKey { font-weight: bold; font-size: 11pt; padding: 10px 14px; min-height: 26px; }
QPushButton#transportKey[engaged="true"] {
              background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #7a2a24, stop:1 #4d1714); }
QPushButton#muteKey { padding: 8px; min-width: 40px; min-height: 26px; }
QPushButton#muteKey:checked {
              background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #a56d16, stop:1 #6e4608); }
QPushButton#openCapture { font-weight: bold; padding: 8px 16px; }
QFrame#console { background: #0b0f0c; border: 1px solid #000; border-radius: 4px; }
QLabel#consoleTitle { color: #9ff0bd; font-weight: bold; }
QLabel#consoleDetail { color: #9fb4a6; }
QLabel#lampWord { font-weight: bold; font-size: 13pt; }
QLabel#diagnosticsValue { color: #d8dadf; font-family: monospace; }
QLabel#diagnosticsError { color: #ff6b5e; }
QLabel#notice { color: #ffb43c; }
QToolButton#disclosure { color: #9a9da3; border: none; font-weight: bold; }
QScrollArea { background: transparent; border: none; }
QToolTip { color: #e6e7ea; background: #26282b; border: 1px solid #000; }
)";

EngravedLabel* heading(const QString& text, QWidget* parent)
{
    auto* label = new EngravedLabel(text, parent);
    label->setAccessibleName(text);
    return label;
}

QColor lampColorForWord(const QString& word)
{
    if (word == QLatin1String("ACTIVE")) {
        return faceplate::lampGreen();
    }
    if (word == QLatin1String("MUTED") || word == QLatin1String("WAIT")) {
        return faceplate::lampAmber();
    }
    if (word == QLatin1String("FAULT")) {
        return faceplate::lampRed();
    }
    if (word == QLatin1String("SYNC")) {
        return faceplate::lampBlue();
    }
    return QColor(0xd8, 0xdc, 0xe2); // READY: a calm white
}

QColor consoleColorFor(StatusSeverity severity)
{
    switch (severity) {
    case StatusSeverity::neutral:
        return QColor(0xc8, 0xd6, 0xcc);
    case StatusSeverity::active:
        return QColor(0x9f, 0xf0, 0xbd);
    case StatusSeverity::warning:
        return QColor(0xff, 0xc8, 0x6a);
    case StatusSeverity::error:
        break;
    }
    return QColor(0xff, 0x8a, 0x7e);
}

void setTextColor(QLabel* label, const QColor& color)
{
    QPalette p = label->palette();
    p.setColor(QPalette::WindowText, color);
    label->setPalette(p);
    label->setStyleSheet(QStringLiteral("color: %1;").arg(color.name()));
}

} // namespace

MonitorView::MonitorView(MonitorViewModel& monitor, DesktopSettings* settings, QWidget* parent)
    : QWidget(parent), monitor_(monitor), settings_(settings)
{
    installAccessibleValueFactory();

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    scroll_ = new QScrollArea(this);
    scroll_->setWidgetResizable(true);
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    outer->addWidget(scroll_);

    faceplate_ = new Faceplate;
    faceplate_->setObjectName(QStringLiteral("faceplate"));
    faceplate_->setStyleSheet(QString::fromLatin1(panelStyleSheet));
    scroll_->setWidget(faceplate_);

    auto* column = new QVBoxLayout(faceplate_);
    column->setContentsMargins(30, 22, 30, 24);
    column->setSpacing(9);
    buildHeader(column);
    column->addSpacing(6);
    column->addWidget(buildSignalPath());
    column->addSpacing(4);
    column->addWidget(buildMeters());
    column->addSpacing(4);

    auto* lower = new QHBoxLayout;
    lower->setSpacing(12);
    lower->addWidget(buildStatus(), 1);
    // A fixed width, so the columns do not shift when the key's title changes length.
    QWidget* transport = buildTransport();
    transport->setFixedWidth(228);
    lower->addWidget(transport);
    column->addLayout(lower);
    column->addWidget(buildService());
    column->addWidget(buildDiagnostics());
    column->addStretch(1);

    openCaptureButton_ = new QPushButton(panelText::openCapture, faceplate_);
    openCaptureButton_->setObjectName(QStringLiteral("openCapture"));
    openCaptureButton_->setAccessibleName(panelText::openCapture);
    openCaptureButton_->setAccessibleDescription(panelText::openCaptureHint);
    openCaptureButton_->setToolTip(panelText::openCaptureHint);
    connect(openCaptureButton_, &QPushButton::clicked, this, &MonitorView::openCaptureRequested);
    auto* bottom = new QHBoxLayout;
    bottom->addStretch(1);
    bottom->addWidget(openCaptureButton_);
    column->addLayout(bottom);

    if (settings_) {
        connect(settings_, &DesktopSettings::unavailable, this, &MonitorView::showNotice);
    }

    // Every published value the panel shows (other than meters and diagnostics) also announces
    // presentationChanged, so this one connection rebuilds the panel once per change.
    connect(&monitor_, &MonitorViewModel::presentationChanged, this,
            &MonitorView::updatePresentation);
    connect(&monitor_, &MonitorViewModel::leftMeterChanged, this, &MonitorView::updateMeters);
    connect(&monitor_, &MonitorViewModel::rightMeterChanged, this, &MonitorView::updateMeters);
    connect(&monitor_, &MonitorViewModel::diagnosticsChanged, this,
            &MonitorView::updateDiagnostics);
    connect(&monitor_, &MonitorViewModel::technicalErrorChanged, this,
            &MonitorView::updateDiagnostics);

    // Devices may have come or gone while another application was in front.
    connect(qApp, &QGuiApplication::applicationStateChanged, this,
            [this](Qt::ApplicationState state) {
                if (state == Qt::ApplicationActive) {
                    monitor_.refreshFromSystem();
                }
            });

    updatePresentation();
    updateMeters();
    updateDiagnostics();
}

void MonitorView::buildHeader(QLayout* into)
{
    auto* row = new QHBoxLayout;
    row->setSpacing(10);
    auto* power = new PilotLamp(faceplate_, 10);
    power->setColor(faceplate::lampGreen());
    power->setLit(true);
    power->setAccessibleName(QStringLiteral("Power"));

    auto* title = new QLabel(panelText::title, faceplate_);
    title->setObjectName(QStringLiteral("title"));
    QFont tf = title->font();
    tf.setPointSize(17);
    tf.setBold(true);
    tf.setLetterSpacing(QFont::AbsoluteSpacing, 3.0);
    title->setFont(tf);
    auto* subtitle = new EngravedLabel(panelText::subtitle, faceplate_, 8);
    subtitle->setObjectName(QStringLiteral("subtitle"));
    auto* titles = new QVBoxLayout;
    titles->setSpacing(0);
    titles->addWidget(title);
    titles->addWidget(subtitle);

    auto* badge = new QLabel(panelText::badge, faceplate_);
    badge->setObjectName(QStringLiteral("badge"));
    QFont bf = badge->font();
    bf.setPointSize(9);
    bf.setBold(true);
    bf.setLetterSpacing(QFont::AbsoluteSpacing, 1.5);
    badge->setFont(bf);

    row->addWidget(power, 0, Qt::AlignVCenter);
    row->addLayout(titles);
    row->addStretch(1);
    row->addWidget(badge, 0, Qt::AlignVCenter);
    static_cast<QBoxLayout*>(into)->addLayout(row);
}

QWidget* MonitorView::buildSignalPath()
{
    auto* section = new QWidget(faceplate_);
    auto* v = new QVBoxLayout(section);
    v->setContentsMargins(0, 0, 0, 0);
    v->setSpacing(4);
    v->addWidget(heading(panelText::signalPath, section));

    auto* well = new Well(section);
    auto* grid = new QGridLayout(well);
    grid->setContentsMargins(14, 10, 14, 10);
    grid->setHorizontalSpacing(14);
    grid->setVerticalSpacing(7);

    auto makeSelector = [well](const QString& name) {
        auto* button = new SelectorButton(well);
        button->setObjectName(QStringLiteral("selector"));
        button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        button->setMenu(new QMenu(button));
        button->setAccessibleName(name);
        setAccessibleValue(button, {});
        return button;
    };
    deviceButton_ = makeSelector(deviceMenuName);
    pairButton_ = makeSelector(pairMenuName);
    outputLabel_ = new QLabel(well);
    outputLabel_->setObjectName(QStringLiteral("outputSummary"));
    outputLabel_->setAccessibleName(QStringLiteral("System output"));
    outputLabel_->setTextInteractionFlags(Qt::TextSelectableByMouse);

    grid->addWidget(new EngravedLabel(panelText::input, well), 0, 0);
    grid->addWidget(deviceButton_, 0, 1);
    grid->addWidget(new EngravedLabel(panelText::channels, well), 1, 0);
    grid->addWidget(pairButton_, 1, 1);
    grid->addWidget(new EngravedLabel(panelText::output, well), 2, 0);
    grid->addWidget(outputLabel_, 2, 1);
    grid->setColumnStretch(1, 1);
    v->addWidget(well);
    return section;
}

QWidget* MonitorView::buildMeters()
{
    auto* section = new QWidget(faceplate_);
    auto* v = new QVBoxLayout(section);
    v->setContentsMargins(0, 0, 0, 0);
    v->setSpacing(4);
    auto* headings = new QHBoxLayout;
    headings->addWidget(heading(panelText::levelMeters, section));
    headings->addStretch(1);
    headings->addWidget(heading(panelText::peakMemory, section));
    v->addLayout(headings);

    auto* well = new Well(section);
    auto* meters = new QVBoxLayout(well);
    meters->setContentsMargins(14, 8, 14, 12);
    meters->setSpacing(8);
    leftMeter_ = new LevelMeterView(QStringLiteral("Left"), true, well);
    rightMeter_ = new LevelMeterView(QStringLiteral("Right"), false, well);
    meters->addWidget(leftMeter_);
    meters->addWidget(rightMeter_);
    connect(leftMeter_, &LevelMeterView::releasePeak, this,
            [this] { monitor_.releaseSessionPeak(MeterChannel::left); });
    connect(rightMeter_, &LevelMeterView::releasePeak, this,
            [this] { monitor_.releaseSessionPeak(MeterChannel::right); });
    connect(leftMeter_, &LevelMeterView::clearClip, this,
            [this] { monitor_.clearClip(MeterChannel::left); });
    connect(rightMeter_, &LevelMeterView::clearClip, this,
            [this] { monitor_.clearClip(MeterChannel::right); });
    v->addWidget(well);
    return section;
}

QWidget* MonitorView::buildStatus()
{
    auto* section = new QWidget(faceplate_);
    auto* v = new QVBoxLayout(section);
    v->setContentsMargins(0, 0, 0, 0);
    v->setSpacing(4);
    v->addWidget(heading(panelText::systemStatus, section));

    auto* well = new Well(section);
    auto* inner = new QVBoxLayout(well);
    inner->setContentsMargins(14, 10, 14, 12);
    inner->setSpacing(8);

    auto* lampRow = new QHBoxLayout;
    lampRow->setSpacing(8);
    statusLamp_ = new PilotLamp(well, 14);
    statusLamp_->setAccessibleName(statusLampName);
    lampRow->addWidget(new EngravedLabel(panelText::system, well));
    lampRow->addStretch(1);
    lampRow->addWidget(statusLamp_, 0, Qt::AlignVCenter);
    lampWord_ = new QLabel(well);
    lampWord_->setObjectName(QStringLiteral("lampWord"));
    lampWord_->setMinimumWidth(70);
    lampWord_->setAccessibleName(statusLampName);
    setAccessibleValue(lampWord_, {});
    lampRow->addWidget(lampWord_);
    inner->addLayout(lampRow);

    auto* console = new QFrame(well);
    console->setObjectName(QStringLiteral("console"));
    auto* c = new QVBoxLayout(console);
    c->setContentsMargins(10, 7, 10, 9);
    c->setSpacing(3);
    c->addWidget(new EngravedLabel(panelText::status, console, 7));
    statusTitle_ = new QLabel(console);
    statusTitle_->setObjectName(QStringLiteral("consoleTitle"));
    statusTitle_->setWordWrap(true);
    statusDetail_ = new QLabel(console);
    statusDetail_->setObjectName(QStringLiteral("consoleDetail"));
    statusDetail_->setWordWrap(true);
    statusDetail_->setMinimumHeight(statusDetail_->fontMetrics().lineSpacing() * 3);
    statusDetail_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    c->addWidget(statusTitle_);
    c->addWidget(statusDetail_, 1);
    inner->addWidget(console, 1);
    v->addWidget(well, 1);
    return section;
}

QWidget* MonitorView::buildTransport()
{
    auto* section = new QWidget(faceplate_);
    auto* v = new QVBoxLayout(section);
    v->setContentsMargins(0, 0, 0, 0);
    v->setSpacing(4);
    v->addWidget(heading(panelText::outputTransport, section));

    auto* well = new Well(section);
    auto* inner = new QVBoxLayout(well);
    inner->setContentsMargins(14, 10, 14, 12);
    inner->setSpacing(6);

    transportCaption_ = new EngravedLabel(QString(), well, 7);
    transportKey_ = new QPushButton(well);
    transportKey_->setObjectName(QStringLiteral("transportKey"));
    transportKey_->setIconSize(QSize(18, 18));
    transportKey_->setCursor(Qt::PointingHandCursor);
    connect(transportKey_, &QPushButton::clicked, this, [this] { monitor_.toggleMonitoring(); });
    inner->addWidget(transportCaption_);
    inner->addWidget(transportKey_);
    inner->addSpacing(6);

    const MutePresentation mute = mutePresentation(false);
    auto* muteRow = new QHBoxLayout;
    muteRow->setSpacing(10);
    muteKey_ = new QPushButton(well);
    muteKey_->setObjectName(QStringLiteral("muteKey"));
    muteKey_->setCheckable(true);
    muteKey_->setIconSize(QSize(20, 20));
    muteKey_->setCursor(Qt::PointingHandCursor);
    muteKey_->setAccessibleName(mute.accessibleLabel);
    muteKey_->setAccessibleDescription(mute.hint);
    muteKey_->setToolTip(mute.hint);
    connect(muteKey_, &QPushButton::clicked, this,
            [this](bool checked) { monitor_.setMuted(checked); });
    auto* muteText = new QVBoxLayout;
    muteText->setSpacing(1);
    muteText->addWidget(new EngravedLabel(mute.caption, well, 9));
    muteState_ = new EngravedLabel(QString(), well, 7);
    muteText->addWidget(muteState_);
    muteRow->addWidget(muteKey_);
    muteRow->addLayout(muteText);
    muteRow->addStretch(1);
    inner->addLayout(muteRow);
    inner->addStretch(1);
    v->addWidget(well, 1);
    return section;
}

QWidget* MonitorView::buildService()
{
    auto* section = new QWidget(faceplate_);
    auto* v = new QVBoxLayout(section);
    v->setContentsMargins(0, 4, 0, 0);
    v->setSpacing(4);
    auto* row = new QHBoxLayout;
    row->setSpacing(8);

    const QColor legend = faceplate::legendColor();
    retryButton_ = new QPushButton(panelText::retry, section);
    setPanelIcon(retryButton_, QStringLiteral("arrow.clockwise"), legend);
    connect(retryButton_, &QPushButton::clicked, this, &MonitorView::retry);

    microphoneButton_ = new QPushButton(panelText::microphoneSettings, section);
    setPanelIcon(microphoneButton_, QStringLiteral("gear"), legend);
    connect(microphoneButton_, &QPushButton::clicked, this, [this] {
        notice_->hide();
        monitor_.openMicrophoneSettings();
    });

    audioSetupButton_ = new QPushButton(panelText::audioSetup, section);
    setPanelIcon(audioSetupButton_, QStringLiteral("slider.horizontal.3"), legend);
    audioSetupButton_->setToolTip(QStringLiteral("Opens the desktop's sound settings"));
    connect(audioSetupButton_, &QPushButton::clicked, this, [this] {
        notice_->hide();
        if (settings_) {
            settings_->openSoundSettings();
        } else {
            showNotice(DesktopSettings::unavailableMessage);
        }
    });

    row->addWidget(retryButton_);
    row->addWidget(microphoneButton_);
    row->addStretch(1);
    row->addWidget(audioSetupButton_);
    v->addLayout(row);

    notice_ = new QLabel(section);
    notice_->setObjectName(QStringLiteral("notice"));
    notice_->setWordWrap(true);
    notice_->hide();
    v->addWidget(notice_);
    return section;
}

QWidget* MonitorView::buildDiagnostics()
{
    auto* section = new QWidget(faceplate_);
    auto* v = new QVBoxLayout(section);
    v->setContentsMargins(0, 2, 0, 0);
    v->setSpacing(4);
    diagnosticsToggle_ = new QToolButton(section);
    diagnosticsToggle_->setObjectName(QStringLiteral("disclosure"));
    diagnosticsToggle_->setText(panelText::diagnostics);
    diagnosticsToggle_->setCheckable(true);
    diagnosticsToggle_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    diagnosticsToggle_->setArrowType(Qt::RightArrow);
    diagnosticsToggle_->setAccessibleName(panelText::diagnostics);
    QFont f = diagnosticsToggle_->font();
    f.setPointSize(8);
    f.setLetterSpacing(QFont::AbsoluteSpacing, 1.2);
    diagnosticsToggle_->setFont(f);
    connect(diagnosticsToggle_, &QToolButton::toggled, this, &MonitorView::setDiagnosticsExpanded);
    v->addWidget(diagnosticsToggle_, 0, Qt::AlignLeft);

    auto* well = new Well(section);
    diagnosticsPanel_ = well;
    diagnosticsGrid_ = new QGridLayout(well);
    diagnosticsGrid_->setContentsMargins(14, 10, 14, 10);
    diagnosticsGrid_->setHorizontalSpacing(18);
    diagnosticsGrid_->setVerticalSpacing(4);
    for (int i = 0; i < diagnosticsRowCount; ++i) {
        auto* title = new EngravedLabel(QString(), well, 7);
        auto* value = new QLabel(well);
        value->setObjectName(QStringLiteral("diagnosticsValue"));
        value->setWordWrap(true);
        value->setTextInteractionFlags(Qt::TextSelectableByMouse);
        diagnosticsGrid_->addWidget(title, i, 0, Qt::AlignLeft | Qt::AlignTop);
        diagnosticsGrid_->addWidget(value, i, 1);
        diagnosticsLabels_.append({title, value});
    }
    diagnosticsGrid_->setColumnStretch(1, 1);
    well->hide();
    v->addWidget(well);
    return section;
}

void MonitorView::setDiagnosticsExpanded(bool expanded)
{
    if (diagnosticsToggle_->isChecked() != expanded) {
        diagnosticsToggle_->setChecked(expanded); // comes back here through toggled
        return;
    }
    diagnosticsToggle_->setArrowType(expanded ? Qt::DownArrow : Qt::RightArrow);
    diagnosticsPanel_->setVisible(expanded);
    if (!expanded) {
        return;
    }
    // Grow the window rather than hide the rows behind a scroll bar, within the screen.
    QWidget* w = window();
    if (w && w->isVisible()) {
        faceplate_->adjustSize();
        const int chrome = w->height() - scroll_->viewport()->height();
        int wanted = faceplate_->sizeHint().height() + chrome;
        if (const QScreen* screen = w->screen()) {
            wanted = std::min(wanted, screen->availableGeometry().height());
        }
        if (wanted > w->height()) {
            w->resize(w->width(), wanted);
        }
    }
}

bool MonitorView::isDiagnosticsExpanded() const
{
    return diagnosticsToggle_->isChecked();
}

QList<DiagnosticsRow> MonitorView::shownDiagnostics() const
{
    QList<DiagnosticsRow> rows;
    for (const auto& [title, value] : diagnosticsLabels_) {
        if (!title->isHidden()) {
            rows.append({title->text(), value->text(),
                         value->objectName() == QLatin1String("diagnosticsError")});
        }
    }
    return rows;
}

void MonitorView::updatePresentation()
{
    updateDeviceMenus();

    const MonitoringPhase phase = monitor_.phase();
    const StatusPresentation status = monitor_.status();
    const bool isActive = monitor_.isActive();
    const bool isMuted = monitor_.isMuted();

    outputLabel_->setText(outputSummary(monitor_.outputDevice()));

    const QString word = statusLampWord(isActive, isMuted, phase.kind(), status.severity);
    lampWord_->setText(word);
    setAccessibleValue(lampWord_, word);
    setAccessibleValue(statusLamp_, word);
    const QColor lampColor = lampColorForWord(word);
    statusLamp_->setColor(lampColor);
    statusLamp_->setLit(true);
    setTextColor(lampWord_, lampColor);

    statusTitle_->setText(status.title);
    statusDetail_->setText(status.detail.value_or(QString()));
    setTextColor(statusTitle_, consoleColorFor(status.severity));

    const TransportPresentation transport =
        transportPresentation(monitor_.transportTitle(), monitor_.monitorIntent(), isActive,
                              phase.kind(), monitor_.canStartMonitoring());
    transportCaption_->setText(transport.caption);
    transportKey_->setText(transport.title);
    transportKey_->setAccessibleName(transport.title);
    transportKey_->setAccessibleDescription(transport.hint);
    transportKey_->setToolTip(transport.hint);
    transportKey_->setEnabled(transport.isEnabled);
    setPanelIcon(transportKey_, transport.iconName, faceplate::legendColor());
    const bool engaged = transport.iconName == QLatin1String("stop.fill");
    if (transportKey_->property("engaged").toBool() != engaged) {
        transportKey_->setProperty("engaged", engaged);
        transportKey_->style()->unpolish(transportKey_);
        transportKey_->style()->polish(transportKey_);
    }

    const MutePresentation mute = mutePresentation(isMuted);
    muteKey_->setChecked(isMuted);
    muteState_->setText(mute.stateLine);
    setPanelIcon(muteKey_, mute.iconName, faceplate::legendColor());

    retryButton_->setVisible(showsRetry(phase));
    microphoneButton_->setVisible(showsMicrophoneSettings(monitor_.permission()));
}

void MonitorView::updateDeviceMenus()
{
    const auto selectedDevice = monitor_.selectedInputDevice();
    const auto selectedPair = monitor_.selectedChannelPair();
    const bool locked = monitor_.isInputSelectionLocked();

    const QString deviceCaption = deviceMenuCaption(selectedDevice, monitor_.selectedDeviceUID());
    deviceButton_->setText(deviceCaption);
    setAccessibleValue(deviceButton_, deviceCaption);
    deviceButton_->setToolTip(deviceCaption);
    const QString pairCaption = pairMenuCaption(selectedPair, monitor_.selectedPairID());
    pairButton_->setText(pairCaption);
    setAccessibleValue(pairButton_, pairCaption);
    pairButton_->setToolTip(pairCaption);
    deviceButton_->setEnabled(!locked);
    pairButton_->setEnabled(!locked);

    if (menuDevices_ == monitor_.inputDevices() && menuDeviceUID_ == monitor_.selectedDeviceUID() &&
        menuPairID_ == monitor_.selectedPairID()) {
        return;
    }
    menuDevices_ = monitor_.inputDevices();
    menuDeviceUID_ = monitor_.selectedDeviceUID();
    menuPairID_ = monitor_.selectedPairID();

    QMenu* deviceMenu = deviceButton_->menu();
    deviceMenu->clear();
    for (const AudioInputDevice& device : monitor_.inputDevices()) {
        QAction* action = deviceMenu->addAction(device.name);
        action->setCheckable(true);
        action->setChecked(monitor_.selectedDeviceUID() == device.uid);
        action->setData(device.uid);
        const QString uid = device.uid;
        connect(action, &QAction::triggered, this,
                [this, uid] { monitor_.selectInputDevice(uid); });
    }
    if (deviceMenu->isEmpty()) {
        deviceMenu->addAction(QStringLiteral("No input devices"))->setEnabled(false);
    }

    QMenu* pairMenu = pairButton_->menu();
    pairMenu->clear();
    if (selectedDevice) {
        for (const AudioChannelPair& pair : selectedDevice->channelPairs) {
            QAction* action = pairMenu->addAction(pairMenuText(pair));
            action->setCheckable(true);
            action->setChecked(monitor_.selectedPairID() == pair.identity());
            action->setData(pair.identity());
            const QString identity = pair.identity();
            connect(action, &QAction::triggered, this,
                    [this, identity] { monitor_.selectChannelPair(identity); });
        }
    }
    if (pairMenu->isEmpty()) {
        pairMenu->addAction(QStringLiteral("No channel pairs"))->setEnabled(false);
    }
}

void MonitorView::updateMeters()
{
    leftMeter_->setReading(monitor_.leftMeter());
    rightMeter_->setReading(monitor_.rightMeter());
}

void MonitorView::updateDiagnostics()
{
    const QList<DiagnosticsRow> rows =
        diagnosticsRows(monitor_.diagnostics(), monitor_.technicalError());
    for (int i = 0; i < diagnosticsLabels_.size(); ++i) {
        auto [title, value] = diagnosticsLabels_[i];
        const bool shown = i < rows.size();
        title->setVisible(shown);
        value->setVisible(shown);
        if (!shown) {
            continue;
        }
        title->setText(rows[i].title);
        value->setText(rows[i].value);
        value->setAccessibleName(rows[i].title);
        const QString name = rows[i].isError ? QStringLiteral("diagnosticsError")
                                             : QStringLiteral("diagnosticsValue");
        if (value->objectName() != name) {
            value->setObjectName(name);
            value->style()->unpolish(value);
            value->style()->polish(value);
        }
    }
}

void MonitorView::showNotice(const QString& message)
{
    notice_->setText(message);
    notice_->show();
}

void MonitorView::retry()
{
    // As a main-thread task, so the press finishes before the engine starts.
    retryTask_ = monitor_.scheduler().schedule(std::chrono::nanoseconds::zero(), [this] {
        if (!monitor_.engine().isRunning()) {
            monitor_.startMonitoring();
        }
    });
}

} // namespace brevalo
