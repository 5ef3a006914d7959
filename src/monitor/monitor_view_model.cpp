#include "monitor/monitor_view_model.h"

#include "monitor/display_format.h"

#include <QMetaObject>

#include <cmath>
#include <deque>
#include <mutex>

namespace brevalo {

const QString MonitorViewModel::formatFailureMessage =
    QStringLiteral("The audio system couldn't open the current input/output format. Keep the "
                   "Scarlett at its working "
                   "rate, check that both devices are available, then retry.");
const QString MonitorViewModel::startFailureMessage =
    QStringLiteral("Check that the selected input and system output are available, then retry.");
const QString MonitorViewModel::runtimeFailureMessage = QStringLiteral(
    "The audio stream stopped unexpectedly. Check the connected devices, then retry.");

struct MonitorViewModel::Mailbox
{
    std::mutex mutex;
    MonitorViewModel* target = nullptr; // null once the controller is going away
    // Work travels under the mutex rather than inside the queued call, so the hand-over between
    // threads is ordered by a lock every race detector can see; Qt's queue only carries a wake-up.
    std::deque<std::function<void(MonitorViewModel&)>> pending;
    bool drainQueued = false;
};

namespace {

// Rates the monitoring graph accepts, in Hz.
constexpr double minimumSampleRate = 8000.0;
constexpr double maximumSampleRate = 192000.0;

bool isSupportedRate(double rate)
{
    return std::isfinite(rate) && rate >= minimumSampleRate && rate <= maximumSampleRate;
}

std::optional<QString> nonEmpty(const std::optional<QString>& text)
{
    if (text.has_value() && text->isEmpty()) {
        return std::nullopt;
    }
    return text;
}

QString kilohertz(double rate)
{
    return formatDecimal(1, rate / 1000.0);
}

} // namespace

MonitorViewModel::MonitorViewModel(AudioSystem& audioSystem, QSettings& settings, Options options,
                                   QObject* parent)
    : QObject(parent), audioSystem_(audioSystem), options_(std::move(options)),
      preferences_(settings), mailbox_(std::make_shared<Mailbox>())
{
    if (options_.scheduler != nullptr) {
        scheduler_ = options_.scheduler;
    } else {
        ownedScheduler_ = std::make_unique<QtMainThreadScheduler>();
        scheduler_ = ownedScheduler_.get();
    }
    deviceService_ = std::make_unique<AudioDeviceService>(audioSystem_.hardware());
    engine_ = std::make_unique<MonitoringEngine>(audioSystem_, options_.fadeOutSleep);

    selectedDeviceUID_ = preferences_.inputDeviceUID();
    selectedPairID_ = preferences_.channelPairID();
    isMuted_ = preferences_.isMuted();
    permission_ = currentAuthorization();

    mailbox_->target = this;
    // Runs on the notification thread.
    deviceService_->setChangeHandler([mailbox = mailbox_](AudioDeviceService::Change change) {
        post(mailbox,
             [change](MonitorViewModel& controller) { controller.handleDeviceChange(change); });
    });

    deviceService_->startListening();
    refreshDevices(true);
    startPolling();
}

MonitorViewModel::~MonitorViewModel()
{
    {
        std::lock_guard lock(mailbox_->mutex);
        mailbox_->target = nullptr;
        mailbox_->pending.clear();
    }
    // No handler runs once the service is gone; then the engine may stop.
    deviceService_.reset();
    shutdown();
}

void MonitorViewModel::post(const std::shared_ptr<Mailbox>& mailbox,
                            std::function<void(MonitorViewModel&)> work)
{
    std::lock_guard lock(mailbox->mutex);
    if (mailbox->target == nullptr) {
        return;
    }
    mailbox->pending.push_back(std::move(work));
    if (!mailbox->drainQueued) {
        mailbox->drainQueued = true;
        // Queued events die with their receiver, so a wake-up never reaches a destroyed object.
        QMetaObject::invokeMethod(mailbox->target, &MonitorViewModel::drainMailbox,
                                  Qt::QueuedConnection);
    }
}

void MonitorViewModel::drainMailbox()
{
    std::deque<std::function<void(MonitorViewModel&)>> work;
    {
        std::lock_guard lock(mailbox_->mutex);
        work.swap(mailbox_->pending);
        mailbox_->drainQueued = false;
    }
    for (auto& item : work) {
        item(*this);
    }
}

// Assigns a published value and announces it, only on a real change. Values that the status,
// the readiness or the transport title derive from also announce the presentation.
template <typename T>
bool MonitorViewModel::publish(T& member, const T& value, void (MonitorViewModel::*changed)(),
                               bool affectsPresentation)
{
    if (member == value) {
        return false;
    }
    member = value;
    emit(this->*changed)();
    if (affectsPresentation) {
        emit presentationChanged();
    }
    return true;
}

// Derived values.

std::optional<AudioInputDevice> MonitorViewModel::selectedInputDevice() const
{
    if (!selectedDeviceUID_.has_value()) {
        return std::nullopt;
    }
    for (const AudioInputDevice& device : inputDevices_) {
        if (device.uid == *selectedDeviceUID_) {
            return device;
        }
    }
    return std::nullopt;
}

std::optional<AudioChannelPair> MonitorViewModel::selectedChannelPair() const
{
    const auto device = selectedInputDevice();
    if (!device.has_value() || !selectedPairID_.has_value()) {
        return std::nullopt;
    }
    for (const AudioChannelPair& pair : device->channelPairs) {
        if (pair.identity() == *selectedPairID_) {
            return pair;
        }
    }
    return std::nullopt;
}

bool MonitorViewModel::isActive() const
{
    return phase_.kind() == MonitoringPhase::Kind::running ||
           phase_.kind() == MonitoringPhase::Kind::reconfiguring;
}

bool MonitorViewModel::canStartMonitoring() const
{
    switch (phase_.kind()) {
    case MonitoringPhase::Kind::requestingPermission:
    case MonitoringPhase::Kind::starting:
    case MonitoringPhase::Kind::reconfiguring:
    case MonitoringPhase::Kind::stopping:
        return false;
    default:
        break;
    }
    if (permission_ == MicrophonePermission::denied ||
        permission_ == MicrophonePermission::restricted) {
        return false;
    }
    return routeReadiness().isReady();
}

QString MonitorViewModel::transportTitle() const
{
    if (isActive()) {
        return QStringLiteral("Stop Monitoring");
    }
    if (!monitorIntent_) {
        return QStringLiteral("Start Monitoring");
    }
    if (phase_.kind() == MonitoringPhase::Kind::failed) {
        return QStringLiteral("Cancel Retry");
    }
    if (phase_.isWaiting()) {
        return QStringLiteral("Cancel Auto-Resume");
    }
    return QStringLiteral("Stop Monitoring");
}

std::optional<QString> MonitorViewModel::routeDescription() const
{
    const auto input = selectedInputDevice();
    if (!input.has_value() || !outputDevice_.has_value()) {
        return std::nullopt;
    }
    return kilohertz(input->nominalSampleRate) + QStringLiteral(" kHz input → ") +
           kilohertz(outputDevice_->nominalSampleRate) + QStringLiteral(" kHz system output.");
}

RouteReadiness MonitorViewModel::routeReadiness() const
{
    if (!outputDevice_.has_value() || !outputDevice_->isAlive) {
        return RouteReadiness::outputUnavailable();
    }
    const auto input = selectedInputDevice();
    if (!input.has_value() || !input->isAlive) {
        return RouteReadiness::inputUnavailable(selectedDeviceUID_.has_value());
    }
    const auto pair = selectedChannelPair();
    if (!pair.has_value()) {
        return RouteReadiness::invalidChannelPair();
    }
    if (!isSupportedRate(input->nominalSampleRate)) {
        return RouteReadiness::unsupportedFormat(QStringLiteral("input"), input->nominalSampleRate);
    }
    if (!isSupportedRate(outputDevice_->nominalSampleRate)) {
        return RouteReadiness::unsupportedFormat(QStringLiteral("output"),
                                                 outputDevice_->nominalSampleRate);
    }
    return RouteReadiness::ready(MonitoringConfiguration{
        .inputDeviceID = input->id,
        .channelPair = *pair,
        .inputSampleRate = input->nominalSampleRate,
        .inputBufferFrameSize = input->bufferFrameSize,
        .outputDeviceID = outputDevice_->id,
        .outputSampleRate = outputDevice_->nominalSampleRate,
        .outputBufferFrameSize = outputDevice_->bufferFrameSize,
    });
}

StatusPresentation MonitorViewModel::status() const
{
    using Kind = MonitoringPhase::Kind;
    if (permission_ == MicrophonePermission::denied ||
        permission_ == MicrophonePermission::restricted) {
        return {
            QStringLiteral("Audio input access is off"),
            QStringLiteral("Allow BREVALO CAPTURE to use audio input in the system settings, then "
                           "try again."),
            StatusSeverity::error};
    }
    if (phase_.kind() == Kind::failed) {
        return {QStringLiteral("Monitoring couldn't start"), phase_.failureMessage(),
                StatusSeverity::error};
    }
    const RouteReadiness readiness = routeReadiness();
    switch (readiness.kind) {
    case RouteReadiness::Kind::outputUnavailable:
        return {QStringLiteral("System output unavailable"),
                QStringLiteral("Choose an audio output in the system's Sound settings."),
                StatusSeverity::error};
    case RouteReadiness::Kind::invalidChannelPair:
        return {QStringLiteral("Choose a valid stereo pair"),
                QStringLiteral("The saved channel layout is no longer available on this device."),
                StatusSeverity::warning};
    case RouteReadiness::Kind::unsupportedFormat:
        return {QStringLiteral("Unsupported ") + readiness.route + QStringLiteral(" sample rate"),
                QStringLiteral("The audio system reported ") + kilohertz(readiness.sampleRate) +
                    QStringLiteral(" kHz for the ") + readiness.route +
                    QStringLiteral(". BREVALO CAPTURE accepts standard PCM rates through 192 kHz."),
                StatusSeverity::warning};
    case RouteReadiness::Kind::inputUnavailable:
        if (readiness.hasSavedSelection) {
            return {
                QStringLiteral("Waiting for the selected input"),
                QStringLiteral("Reconnect the interface; the saved selection will be restored."),
                StatusSeverity::warning};
        }
        return {QStringLiteral("Choose an audio input"),
                QStringLiteral("Select the Scarlett or another stereo input device."),
                StatusSeverity::neutral};
    case RouteReadiness::Kind::ready:
        break;
    }

    switch (phase_.kind()) {
    case Kind::stopped: {
        const auto description = routeDescription();
        return {QStringLiteral("Ready"),
                description.has_value() ? *description + QStringLiteral(" Monitoring is off.")
                                        : QStringLiteral("Monitoring is off."),
                StatusSeverity::neutral};
    }
    case Kind::requestingPermission:
        return {QStringLiteral("Requesting audio input access…"), std::nullopt,
                StatusSeverity::neutral};
    case Kind::starting:
        return {QStringLiteral("Starting monitoring…"), std::nullopt, StatusSeverity::neutral};
    case Kind::running:
        if (isMuted_) {
            return {QStringLiteral("Monitoring · Muted"),
                    QStringLiteral("Input is active, but output is muted."),
                    StatusSeverity::active};
        }
        return {QStringLiteral("Monitoring"), routeDescription(), StatusSeverity::active};
    case Kind::reconfiguring:
        return {QStringLiteral("Following the new system output…"),
                QStringLiteral("AirPlay routes may take a moment to become ready."),
                StatusSeverity::neutral};
    case Kind::stopping:
        return {QStringLiteral("Stopping…"), std::nullopt, StatusSeverity::neutral};
    case Kind::waitingForInput:
        return {
            QStringLiteral("Waiting for the selected input"),
            QStringLiteral("Monitoring will resume when the exact device and channel pair return."),
            StatusSeverity::warning};
    case Kind::waitingForOutput:
        return {QStringLiteral("Waiting for the system output"),
                QStringLiteral("Monitoring will resume when the system output route is ready."),
                StatusSeverity::warning};
    case Kind::waitingForFormat:
        return {QStringLiteral("Waiting for a supported format"),
                QStringLiteral(
                    "Monitoring will resume when the audio system reports a usable PCM format."),
                StatusSeverity::warning};
    case Kind::failed:
        break;
    }
    return {QStringLiteral("Monitoring couldn't start"), phase_.failureMessage(),
            StatusSeverity::error};
}

// Operations.

void MonitorViewModel::toggleMonitoring()
{
    if (!monitorIntent_ && !engine_->isRunning()) {
        startMonitoring();
    } else {
        stopMonitoring(true);
    }
}

void MonitorViewModel::startMonitoring()
{
    if (isShutDown_ || !canStartMonitoring()) {
        return;
    }
    setMonitorIntent(true);
    setTechnicalError(std::nullopt);
    setPermission(currentAuthorization());

    if (permission_ == MicrophonePermission::notDetermined) {
        setPhase(MonitoringPhase::Kind::requestingPermission);
        const std::uint64_t request = ++permissionRequest_;
        // The answer comes on a backend thread, possibly after a newer request or shutdown.
        audioSystem_.capturePermission().requestAccess([mailbox = mailbox_, request](bool granted) {
            post(mailbox, [request, granted](MonitorViewModel& controller) {
                controller.finishPermissionRequest(request, granted);
            });
        });
        return;
    }
    continueStart();
}

void MonitorViewModel::finishPermissionRequest(std::uint64_t request, bool granted)
{
    if (isShutDown_ || request != permissionRequest_) {
        return;
    }
    setPermission(granted ? MicrophonePermission::authorized : currentAuthorization());
    continueStart();
}

void MonitorViewModel::continueStart()
{
    if (!monitorIntent_) {
        setPhase(MonitoringPhase::Kind::stopped);
    } else if (permission_ == MicrophonePermission::authorized) {
        resetMeters();
        startEngine(false);
    } else {
        setMonitorIntent(false);
        setPhase(MonitoringPhase::Kind::stopped);
    }
}

void MonitorViewModel::stopMonitoring(bool clearIntent)
{
    if (clearIntent) {
        setMonitorIntent(false);
    }
    setPhase(MonitoringPhase::Kind::stopping);
    stopEngine();
    activeRoute_.reset();
    setDiagnostics(EngineDiagnostics{});
    setPhase(MonitoringPhase::Kind::stopped);
}

void MonitorViewModel::selectInputDevice(const std::optional<QString>& uid)
{
    const auto chosen = nonEmpty(uid);
    if (isInputSelectionLocked_ || chosen == selectedDeviceUID_) {
        return;
    }
    const bool hadIntent = monitorIntent_;

    setSelectedDeviceUID(chosen);
    preferences_.setInputDeviceUID(chosen);

    const auto device = selectedInputDevice();
    if (device.has_value() && !device->channelPairs.isEmpty()) {
        const AudioChannelPair& first = device->channelPairs.first();
        setSelectedPairID(first.identity());
        preferences_.setChannelPair(first);
    } else {
        setSelectedPairID(std::nullopt);
        preferences_.setChannelPair(std::nullopt);
    }

    resetMeters();
    watchSelectedDevices();
    if (!hadIntent) {
        setPhase(MonitoringPhase::Kind::stopped);
    } else {
        reconcileRoute(false);
    }
}

void MonitorViewModel::selectChannelPair(const std::optional<QString>& pairID)
{
    const auto chosen = nonEmpty(pairID);
    if (isInputSelectionLocked_ || chosen == selectedPairID_) {
        return;
    }
    const bool hadIntent = monitorIntent_;

    setSelectedPairID(chosen);
    const auto pair = selectedChannelPair();
    preferences_.setChannelPair(pair);

    resetMeters();
    if (!hadIntent) {
        setPhase(MonitoringPhase::Kind::stopped);
    } else {
        reconcileRoute(false);
    }
}

void MonitorViewModel::refreshFromSystem()
{
    if (isShutDown_) {
        return;
    }
    setPermission(currentAuthorization());
    refreshDevices(false);
    reconcileRoute(false);
}

void MonitorViewModel::setMuted(bool muted)
{
    if (muted == isMuted_) {
        return;
    }
    isMuted_ = muted;
    preferences_.setMuted(muted);
    if (MonitorRing* ring = engine_->ring()) {
        monitor_ring_set_muted(ring, muted);
    }
    emit isMutedChanged();
    emit presentationChanged();
}

void MonitorViewModel::setInputSelectionLocked(bool locked)
{
    publish(isInputSelectionLocked_, locked, &MonitorViewModel::isInputSelectionLockedChanged);
}

void MonitorViewModel::releaseSessionPeak(MeterChannel channel)
{
    MeterReading reading = meter(channel);
    reading.sessionPeakDBFS = MeterReading::floorDBFS;
    setMeter(channel, reading);
}

void MonitorViewModel::clearClip(MeterChannel channel)
{
    MeterReading reading = meter(channel);
    reading.isClipping = false;
    setMeter(channel, reading);
    if (MonitorRing* ring = engine_->ring()) {
        if (channel == MeterChannel::left) {
            monitor_ring_clear_left_clip(ring);
        } else {
            monitor_ring_clear_right_clip(ring);
        }
    }
}

QUrl MonitorViewModel::microphoneSettingsUrl()
{
    // Input access on a Linux desktop is a matter of the sound settings (the audio server's
    // devices and stream permissions). The cross-desktop settings:// scheme names that page; the
    // desktop's URL handler opens its settings application there.
    return QUrl(QStringLiteral("settings://sound"));
}

void MonitorViewModel::openMicrophoneSettings()
{
    if (options_.openUrl) {
        options_.openUrl(microphoneSettingsUrl());
    }
}

void MonitorViewModel::shutdown()
{
    if (isShutDown_) {
        return;
    }
    isShutDown_ = true;
    refreshTask_.reset();
    pollingTask_.reset();
    setMonitorIntent(false);
    stopEngine();
    activeRoute_.reset();
}

// Device refresh and reconciliation.

void MonitorViewModel::handleDeviceChange(AudioDeviceService::Change change)
{
    if (isShutDown_) {
        return;
    }
    scheduleRefresh(change == AudioDeviceService::Change::selectedDevice);
}

void MonitorViewModel::refreshDevices(bool autoSelect)
{
    setInputDevices(deviceService_->inputDevices());
    setOutputDevice(deviceService_->defaultOutputDevice());
    setPermission(currentAuthorization());

    if (autoSelect && !selectedDeviceUID_.has_value() && !inputDevices_.isEmpty()) {
        const AudioInputDevice* chosen = &inputDevices_.first();
        for (const AudioInputDevice& device : inputDevices_) {
            if (device.name.contains(QLatin1String("Scarlett"), Qt::CaseInsensitive)) {
                chosen = &device;
                break;
            }
        }
        const QString uid = chosen->uid;
        setSelectedDeviceUID(uid);
        preferences_.setInputDeviceUID(uid);
    }

    const auto device = selectedInputDevice();
    if (device.has_value() && !selectedPairID_.has_value() && !device->channelPairs.isEmpty()) {
        const AudioChannelPair& first = device->channelPairs.first();
        setSelectedPairID(first.identity());
        preferences_.setChannelPair(first);
    }

    watchSelectedDevices();
}

void MonitorViewModel::watchSelectedDevices()
{
    const auto input = selectedInputDevice();
    deviceService_->watchSelectedDevices(
        input.has_value() ? std::optional<std::uint32_t>(input->id) : std::nullopt,
        outputDevice_.has_value() ? std::optional<std::uint32_t>(outputDevice_->id) : std::nullopt);
}

void MonitorViewModel::scheduleRefresh(bool reconfigure)
{
    refreshNeedsReconfiguration_ = refreshNeedsReconfiguration_ || reconfigure;
    // At most one refresh is pending: a burst of notifications ends in one, after the last.
    refreshTask_.reset();
    refreshTask_ = scheduler_->schedule(refreshDebounce, [this] { runScheduledRefresh(); });
}

void MonitorViewModel::runScheduledRefresh()
{
    const bool force = refreshNeedsReconfiguration_;
    refreshNeedsReconfiguration_ = false;
    refreshDevices(false);
    reconcileRoute(force);
}

void MonitorViewModel::reconcileRoute(bool force)
{
    if (!monitorIntent_) {
        return;
    }
    if (permission_ == MicrophonePermission::denied ||
        permission_ == MicrophonePermission::restricted) {
        if (phase_.kind() != MonitoringPhase::Kind::requestingPermission) {
            stopMonitoring(false);
        }
        setMonitorIntent(false);
        return;
    }
    if (permission_ == MicrophonePermission::notDetermined) {
        return;
    }

    const RouteReadiness readiness = routeReadiness();
    if (!readiness.isReady()) {
        stopEngine();
        activeRoute_.reset();
        setPhase(readiness.waitingPhase());
        return;
    }
    if (!force && activeRoute_ == RouteKey::of(*readiness.configuration) && engine_->isRunning()) {
        return;
    }
    stopEngine();
    activeRoute_.reset();
    startEngine(true);
}

void MonitorViewModel::startEngine(bool reconfiguring)
{
    const RouteReadiness readiness = routeReadiness();
    if (!readiness.isReady()) {
        stopEngine();
        activeRoute_.reset();
        setPhase(readiness.waitingPhase());
        return;
    }
    setPhase(reconfiguring ? MonitoringPhase::Kind::reconfiguring
                           : MonitoringPhase::Kind::starting);

    std::optional<QString> failureMessage;
    QString description;
    try {
        engine_->start(*readiness.configuration, isMuted_);
    } catch (const CoreAudioFailure& failure) {
        failureMessage = failure.status() == status::unsupportedFormat ? formatFailureMessage
                                                                       : startFailureMessage;
        description = failure.description();
    } catch (const std::exception& failure) {
        failureMessage = startFailureMessage;
        description = QString::fromUtf8(failure.what());
    }

    if (failureMessage.has_value()) {
        stopEngine();
        activeRoute_.reset();
        if (!reconfiguring) {
            setMonitorIntent(false);
        }
        setPhase(MonitoringPhase::failed(*failureMessage));
        setTechnicalError(description);
        return;
    }
    activeRoute_ = RouteKey::of(*readiness.configuration);
    setPhase(MonitoringPhase::Kind::running);
    setTechnicalError(std::nullopt);
}

void MonitorViewModel::stopEngine()
{
    engine_->stop();
}

// Meters.

void MonitorViewModel::resetMeters()
{
    setMeter(MeterChannel::left, MeterReading::silent());
    setMeter(MeterChannel::right, MeterReading::silent());
    leftPeakHoldUntil_ = MainThreadScheduler::TimePoint::min();
    rightPeakHoldUntil_ = MainThreadScheduler::TimePoint::min();
    if (MonitorRing* ring = engine_->ring()) {
        monitor_ring_clear_clips(ring);
    }
}

void MonitorViewModel::startPolling()
{
    pollingTask_.reset();
    schedulePoll(std::chrono::nanoseconds::zero());
}

void MonitorViewModel::schedulePoll(std::chrono::nanoseconds delay)
{
    // Each tick schedules the next, so a slow tick delays the poll instead of piling up ticks.
    pollingTask_ = scheduler_->schedule(delay, [this] {
        pollRealtime();
        if (!isShutDown_) {
            schedulePoll(pollInterval);
        }
    });
}

void MonitorViewModel::pollRealtime()
{
    const std::optional<RealtimeSnapshot> snapshot = engine_->snapshot();
    if (snapshot.has_value() && snapshot->runtimeFailure.has_value()) {
        stopEngine();
        activeRoute_.reset();
        setTechnicalError(snapshot->runtimeFailure->description());
        setPhase(MonitoringPhase::failed(runtimeFailureMessage));
    }

    const auto now = scheduler_->now();
    setMeter(MeterChannel::left,
             MonitorMeterRule::next(leftMeter_, snapshot ? snapshot->leftPeak : 0.0f,
                                    snapshot && snapshot->leftClipped, now, leftPeakHoldUntil_));
    setMeter(MeterChannel::right,
             MonitorMeterRule::next(rightMeter_, snapshot ? snapshot->rightPeak : 0.0f,
                                    snapshot && snapshot->rightClipped, now, rightPeakHoldUntil_));
    setDiagnostics(snapshot ? snapshot->diagnostics : EngineDiagnostics{});
}

// Setters: each emits only on a real change.

MicrophonePermission MonitorViewModel::currentAuthorization() const
{
    return microphonePermission(audioSystem_.capturePermission().authorizationStatus());
}

void MonitorViewModel::setInputDevices(const QList<AudioInputDevice>& devices)
{
    publish(inputDevices_, devices, &MonitorViewModel::inputDevicesChanged);
}

void MonitorViewModel::setSelectedDeviceUID(const std::optional<QString>& uid)
{
    publish(selectedDeviceUID_, uid, &MonitorViewModel::selectedDeviceUIDChanged);
}

void MonitorViewModel::setSelectedPairID(const std::optional<QString>& pairID)
{
    publish(selectedPairID_, pairID, &MonitorViewModel::selectedPairIDChanged);
}

void MonitorViewModel::setOutputDevice(const std::optional<AudioOutputDevice>& device)
{
    publish(outputDevice_, device, &MonitorViewModel::outputDeviceChanged);
}

void MonitorViewModel::setPermission(MicrophonePermission permission)
{
    publish(permission_, permission, &MonitorViewModel::permissionChanged);
}

void MonitorViewModel::setPhase(const MonitoringPhase& phase)
{
    publish(phase_, phase, &MonitorViewModel::phaseChanged);
}

void MonitorViewModel::setMeter(MeterChannel channel, const MeterReading& reading)
{
    if (channel == MeterChannel::left) {
        publish(leftMeter_, reading, &MonitorViewModel::leftMeterChanged, false);
    } else {
        publish(rightMeter_, reading, &MonitorViewModel::rightMeterChanged, false);
    }
}

void MonitorViewModel::setDiagnostics(const EngineDiagnostics& diagnostics)
{
    publish(diagnostics_, diagnostics, &MonitorViewModel::diagnosticsChanged, false);
}

void MonitorViewModel::setTechnicalError(const std::optional<QString>& error)
{
    publish(technicalError_, error, &MonitorViewModel::technicalErrorChanged);
}

void MonitorViewModel::setMonitorIntent(bool intent)
{
    publish(monitorIntent_, intent, &MonitorViewModel::monitorIntentChanged);
}

} // namespace brevalo
