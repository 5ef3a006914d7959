#include "recording/capture_review_player.h"

#include "platform/errors.h"
#include "recording/review_segment.h"

#include <QObject>
#include <QString>

#include <sndfile.h>

#include <algorithm>
#include <new>
#include <stdexcept>

namespace brevalo {

namespace {

// Never size a slice below this, so that a device that changes its block size while playing
// still fits (the units refuse larger slices instead of resizing on the I/O thread).
constexpr std::uint32_t minimumSlice = 8192;

} // namespace

CaptureReviewPlayer::CaptureReviewPlayer(AudioSystem& system, ReviewPlayerOptions options)
    : system_(system), options_(options), mainThread_(std::make_unique<QObject>()),
      generation_(QUuid::createUuid())
{}

CaptureReviewPlayer::~CaptureReviewPlayer()
{
    removeListeners();
    stopEngine();
    releaseUnit();
    if (file_ != nullptr) {
        sf_close(file_);
    }
    // Deleting the receiver drops every hop to the main thread still queued for this player.
    mainThread_.reset();
}

// ----- operations ---------------------------------------------------------------------------

void CaptureReviewPlayer::load(const std::filesystem::path& master)
{
    stopEngine();
    SF_INFO info{};
    SNDFILE* file = sf_open(master.c_str(), SFM_READ, &info);
    if (file == nullptr) {
        throw CaptureError(QString::fromUtf8(sf_strerror(nullptr)));
    }
    if (info.channels < 1 || info.samplerate <= 0) {
        sf_close(file);
        throw CaptureError(QString::fromUtf8(sf_error_number(SF_ERR_UNRECOGNISED_FORMAT)));
    }
    if (file_ != nullptr) {
        sf_close(file_);
    }
    segment_.reset();
    file_ = file;
    frameCount_ = info.frames;
    fileChannels_ = static_cast<std::uint32_t>(info.channels);
    masterRate_ = static_cast<double>(info.samplerate);
    anchor_ = 0;
    endFrame_ = frameCount_;
}

void CaptureReviewPlayer::play(std::optional<std::int64_t> start, std::optional<std::int64_t> end)
{
    if (file_ == nullptr) {
        return;
    }
    const std::int64_t length = frameCount_;
    const std::int64_t s = std::min(std::max(start.value_or(currentFrame()), std::int64_t{0}),
                                    std::max(length - 1, std::int64_t{0}));
    stopAndMark();
    anchor_ = s;
    endFrame_ = end ? std::min(length, *end) : length;
    if (s >= endFrame_) {
        return;
    }
    generation_ = QUuid::createUuid();
    startSegment(s);
    isPlaying_ = true;
}

void CaptureReviewPlayer::pause()
{
    const std::int64_t p = currentFrame();
    stopAndMark();
    anchor_ = p;
}

void CaptureReviewPlayer::stop()
{
    stopAndMark();
}

void CaptureReviewPlayer::setAnchor(std::int64_t frame)
{
    if (isPlaying_) {
        stopAndMark();
    }
    anchor_ = std::clamp(frame, std::int64_t{0}, frameCount_);
}

std::int64_t CaptureReviewPlayer::currentFrame() const
{
    if (!isPlaying_ || segment_ == nullptr) {
        return anchor_;
    }
    return std::min(anchor_ + segment_->playedFrames(), endFrame_);
}

void CaptureReviewPlayer::selectOutput(ObjectId device)
{
    const std::int64_t p = currentFrame();
    stopAndMark();
    anchor_ = p;
    stopEngine();
    removeListeners();
    releaseUnit();
    selectedDevice_ = device;
    bindUnit(device);
}

void CaptureReviewPlayer::setStoppedHandler(std::function<void()> handler)
{
    stoppedHandler_ = std::move(handler);
}

std::uint64_t CaptureReviewPlayer::dryBlocks() const
{
    return segment_ != nullptr ? segment_->dryBlocks() : 0;
}

// ----- stopping -----------------------------------------------------------------------------

void CaptureReviewPlayer::stopAndMark()
{
    generation_ = QUuid::createUuid();
    if (unit_ && unitStarted_) {
        // Returns once no render callback runs, so the segment is the main thread's again.
        unit_->stop();
        unitStarted_ = false;
    }
    renderContext_.segment.store(nullptr, std::memory_order_release);
    stopReader();
    isPlaying_ = false;
}

void CaptureReviewPlayer::stopEngine()
{
    stopAndMark();
    if (unit_ && unitRate_ != 0.0) {
        unit_->uninitialize();
        unitRate_ = 0.0;
    }
}

void CaptureReviewPlayer::releaseUnit()
{
    if (unit_) {
        unit_->dispose();
        unit_.reset();
    }
    unitDevice_ = unknownObject;
    unitRate_ = 0.0;
    unitStarted_ = false;
}

// ----- starting -----------------------------------------------------------------------------

void CaptureReviewPlayer::ensureUnit()
{
    if (unit_) {
        return;
    }
    ObjectId device = selectedDevice_.value_or(unknownObject);
    if (!selectedDevice_) {
        const std::int32_t result = system_.hardware().defaultOutputDevice(device);
        if (result != 0 || device == unknownObject) {
            throw CoreAudioFailure(QStringLiteral("Start the review output"),
                                   result != 0 ? result : status::deviceUnavailable);
        }
    }
    bindUnit(device);
}

void CaptureReviewPlayer::bindUnit(ObjectId device)
{
    std::unique_ptr<IOUnit> unit;
    if (!system_.findComponent(UnitKind::io) || system_.createIOUnit(unit) != 0 || !unit) {
        throw CaptureError(QStringLiteral("Review audio output is unavailable."));
    }
    if (const std::int32_t result = unit->setCurrentDevice(device); result != 0) {
        throw CoreAudioFailure(QStringLiteral("Select the review output"), result);
    }
    unit_ = std::move(unit);
    unitDevice_ = device;
    listenToDevice(device);
}

void CaptureReviewPlayer::startSegment(std::int64_t start)
{
    const auto fail = [this](const char* operation, std::int32_t status) {
        stopAndMark();
        throw CoreAudioFailure(QString::fromUtf8(operation), status);
    };
    ensureUnit();

    // The player runs the output at the device's own rate and converts the master itself, so
    // the audio server never has to resample for it.
    double rate = 0.0;
    if (const std::int32_t result = system_.hardware().nominalSampleRate(unitDevice_, rate);
        result != 0) {
        fail("Start the review output", result);
    }
    if (rate != unitRate_) {
        IOUnit& unit = *unit_;
        if (unitRate_ != 0.0) {
            unit.uninitialize();
            unitRate_ = 0.0;
        }
        const auto check = [&](std::int32_t result, const char* operation) {
            if (result != 0) {
                fail(operation, result);
            }
        };
        check(unit.setEnableIO(Scope::output, outputElement, true), "Enable the review output");
        check(unit.setEnableIO(Scope::input, inputElement, false), "Enable the review output");
        check(unit.setMaximumFramesPerSlice(minimumSlice), "Configure the review output");
        check(unit.maximumFramesPerSlice(unitMaximumFrames_), "Configure the review output");
        check(
            unit.setStreamFormat(Scope::input, outputElement, StreamFormat::float32Planar(rate, 2)),
            "Configure the review output");
        check(unit.setRenderCallback(Scope::input, outputElement,
                                     {&CaptureReviewPlayer::renderCallback, &renderContext_}),
              "Configure the review output");
        check(unit.initialize(), "Start the review output");
        unitRate_ = rate;
    }

    ReviewSegmentSetup setup;
    setup.token = generation_;
    setup.frames = endFrame_ - start;
    setup.fileChannels = fileChannels_;
    setup.masterRate = masterRate_;
    setup.outputRate = unitRate_;
    setup.ringFrames = options_.ringFrames;
    setup.maximumOutput = unitMaximumFrames_;
    segment_.reset();
    try {
        segment_ = std::make_unique<ReviewSegment>(setup);
    } catch (const std::bad_alloc&) {
        fail("Allocate the review buffer", status::memoryFull);
    } catch (const std::runtime_error&) {
        fail("Initialize sample-rate conversion", status::paramError);
    }
    if (sf_seek(file_, start, SEEK_SET) < 0) {
        stopAndMark();
        throw CaptureError(QString::fromUtf8(sf_strerror(file_)));
    }
    // The first ring's worth is read here, so the first blocks never find the ring empty.
    endNoticePosted_ = false;
    segment_->fill(file_);

    renderContext_.segment.store(segment_.get(), std::memory_order_release);
    if (!options_.manualReader) {
        readerStop_ = false;
        reader_ = std::thread([this] { readerLoop(); });
    }
    if (const std::int32_t result = unit_->start(); result != 0) {
        fail("Start the review output", result);
    }
    unitStarted_ = true;
}

// ----- reader -------------------------------------------------------------------------------

void CaptureReviewPlayer::serviceReader()
{
    if (options_.manualReader && renderContext_.segment.load() != nullptr) {
        readerPass();
    }
}

void CaptureReviewPlayer::readerPass()
{
    ReviewSegment& segment = *segment_;
    if (!segment.readComplete()) {
        segment.fill(file_);
    }
    if (segment.drained() && !endNoticePosted_) {
        endNoticePosted_ = true;
        QMetaObject::invokeMethod(
            mainThread_.get(), [this, token = segment.token()] { finishSegment(token); },
            Qt::QueuedConnection);
    }
}

void CaptureReviewPlayer::readerLoop()
{
    std::unique_lock lock(readerMutex_);
    while (!readerStop_) {
        lock.unlock();
        readerPass();
        lock.lock();
        if (endNoticePosted_) {
            // Nothing left to do but wait to be stopped.
            readerWake_.wait(lock, [this] { return readerStop_; });
        } else {
            readerWake_.wait_for(lock, options_.readerPeriod, [this] { return readerStop_; });
        }
    }
}

void CaptureReviewPlayer::stopReader()
{
    if (!reader_.joinable()) {
        return;
    }
    {
        std::lock_guard lock(readerMutex_);
        readerStop_ = true;
    }
    readerWake_.notify_all();
    reader_.join();
}

void CaptureReviewPlayer::finishSegment(const QUuid& token)
{
    if (token != generation_) {
        return; // an earlier schedule's end
    }
    anchor_ = endFrame_;
    isPlaying_ = false;
    if (unit_ && unitStarted_) {
        unit_->stop();
        unitStarted_ = false;
    }
    renderContext_.segment.store(nullptr, std::memory_order_release);
    stopReader();
    if (stoppedHandler_) {
        stoppedHandler_();
    }
}

// ----- the output device --------------------------------------------------------------------

void CaptureReviewPlayer::listenToDevice(ObjectId device)
{
    for (const HardwareProperty selector :
         {HardwareProperty::deviceIsAlive, HardwareProperty::nominalSampleRate,
          HardwareProperty::ioStoppedAbnormally}) {
        ListenerRegistration registration;
        const bool stopped = selector == HardwareProperty::ioStoppedAbnormally;
        const auto hop = [this, stopped](ObjectId, const PropertyAddress&) {
            QMetaObject::invokeMethod(
                mainThread_.get(), [this, stopped] { checkOutput(stopped); }, Qt::QueuedConnection);
        };
        if (system_.hardware().addPropertyListener(device, {selector, Scope::global, 0}, hop,
                                                   registration) == 0) {
            listeners_.push_back(registration);
        }
    }
}

void CaptureReviewPlayer::removeListeners()
{
    for (const ListenerRegistration& registration : listeners_) {
        system_.hardware().removePropertyListener(registration);
    }
    listeners_.clear();
}

void CaptureReviewPlayer::checkOutput(bool stoppedAbnormally)
{
    if (!unit_) {
        return;
    }
    AudioHardware& hardware = system_.hardware();
    std::uint32_t alive = 0;
    const bool present = hardware.isAlive(unitDevice_, alive) == 0 && alive != 0;
    double rate = 0.0;
    const bool sameRate = unitRate_ == 0.0 ||
                          (hardware.nominalSampleRate(unitDevice_, rate) == 0 && rate == unitRate_);
    if (present && sameRate && !stoppedAbnormally) {
        return;
    }
    // A device at another rate plays silence to a unit configured for the old one, and a gone
    // device calls nobody: either way the segment would never end.
    const bool wasPlaying = isPlaying_;
    const std::int64_t p = currentFrame();
    stopEngine(); // the next play configures the unit for the device's rate again
    anchor_ = p;
    if (!present) {
        removeListeners();
        releaseUnit();
    }
    if (wasPlaying && stoppedHandler_) {
        stoppedHandler_();
    }
}

// ----- realtime -----------------------------------------------------------------------------

std::int32_t CaptureReviewPlayer::renderCallback(void* refCon, RenderActionFlags& flags,
                                                 const AudioTimeStamp& /*time*/,
                                                 std::uint32_t /*bus*/, std::uint32_t frames,
                                                 AudioBufferList* buffers)
{
    auto* context = static_cast<RenderContext*>(refCon);
    if (buffers == nullptr || buffers->numberBuffers < 2 || buffers->buffers[0].data == nullptr ||
        buffers->buffers[1].data == nullptr) {
        return status::paramError;
    }
    auto* left = static_cast<float*>(buffers->buffers[0].data);
    auto* right = static_cast<float*>(buffers->buffers[1].data);
    ReviewSegment* segment = context->segment.load(std::memory_order_acquire);
    if (segment == nullptr) {
        std::fill(left, left + frames, 0.0f);
        std::fill(right, right + frames, 0.0f);
        flags |= renderActionOutputIsSilence;
    } else {
        segment->render(left, right, frames);
    }
    buffers->buffers[0].dataByteSize = frames * 4;
    buffers->buffers[1].dataByteSize = frames * 4;
    return 0;
}

} // namespace brevalo
