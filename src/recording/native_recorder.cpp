#include "recording/native_recorder.h"

#include "platform/audio/channel_maps.h"
#include "platform/errors.h"

#include <QCoreApplication>
#include <QThread>

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace brevalo {

namespace {

const QString configureOperation = QStringLiteral("Configure native capture");
const QString verifyOperation = QStringLiteral("Verify the capture stream format");
// Blocks of at least this many frames are always accepted, for devices with large I/O buffers.
constexpr std::uint32_t smallestMaximumFrames = 8192;

void check(std::int32_t status, const QString& operation)
{
    if (status != 0) {
        throw CoreAudioFailure(operation, status);
    }
}

CaptureError unsupportedBufferSize()
{
    return CaptureError(QStringLiteral("Unsupported input buffer size."));
}

bool isIntegerPCM(const StreamFormat& format)
{
    return format.isLinearPCM() && !format.isFloat();
}

void requireMainThread()
{
    const auto* app = QCoreApplication::instance();
    if (app != nullptr && QThread::currentThread() != app->thread()) {
        throw std::logic_error("NativeRecorder is used from the main thread only");
    }
}

QString integerPart(double rate)
{
    return QString::number(static_cast<qint64>(rate));
}

} // namespace

std::optional<QString> captureInterruptionText(std::int32_t ringStatus)
{
    switch (ringStatus) {
    case 0:
        return std::nullopt;
    case status::formatChangedDuringTake:
        return QStringLiteral("Recording stopped because the input format or device changed. "
                              "The interrupted take has been retained.");
    case status::ringOverflow:
        return QStringLiteral("Recording stopped: the storage drive couldn't keep up. "
                              "The interrupted take has been retained.");
    default:
        return CoreAudioFailure(QStringLiteral("Record native audio"), ringStatus).description();
    }
}

NativeRecorder::NativeRecorder(AudioSystem& audio)
    : audio_(audio), lifetime_(std::make_unique<QObject>())
{}

NativeRecorder::~NativeRecorder()
{
    stop();
}

PhysicalStream NativeRecorder::physicalStream(ObjectId device, std::int32_t channel)
{
    auto& hardware = audio_.hardware();
    std::vector<ObjectId> streams;
    check(hardware.streams(device, Scope::input, streams),
          QStringLiteral("Read native input streams"));
    const auto wanted = static_cast<std::int64_t>(channel) + 1;
    for (const ObjectId stream : streams) {
        std::uint32_t first = 0;
        check(hardware.startingChannel(stream, first),
              QStringLiteral("Read native channel layout"));
        StreamFormat format;
        check(hardware.physicalFormat(stream, format),
              QStringLiteral("Read physical input format"));
        if (first <= wanted && wanted < std::int64_t{first} + format.channelsPerFrame) {
            return {stream, format};
        }
    }
    throw CaptureError(
        QStringLiteral("The selected channel is unavailable in the physical input streams."));
}

CaptureMaster NativeRecorder::start(const NativeInputDevice& device, std::int32_t leftChannel,
                                    std::int32_t rightChannel, const QString& masterFile,
                                    const QString& masterPath)
{
    requireMainThread();
    if (writer_) {
        throw CaptureError(QStringLiteral("A recording is already in progress."));
    }
    const PhysicalStream left = physicalStream(device.id, leftChannel);
    const PhysicalStream right = physicalStream(device.id, rightChannel);
    const double rate = left.format.sampleRate;
    const std::uint32_t bits = left.format.bitsPerChannel;
    const bool capturable = isIntegerPCM(left.format) && (bits == 16 || bits == 24 || bits == 32) &&
                            right.format.sampleRate == rate &&
                            right.format.bitsPerChannel == bits && isIntegerPCM(right.format) &&
                            std::isfinite(rate) && rate >= 8000.0 && rate <= 192000.0;
    if (!capturable) {
        throw CaptureError(QStringLiteral(
            "Capture needs matching 16-, 24-, or 32-bit integer PCM input channels at a native "
            "rate up to 192 kHz. Check Sound Settings."));
    }
    if (!audio_.findComponent(UnitKind::io)) {
        throw CaptureError(QStringLiteral("Audio input is unavailable."));
    }
    try {
        std::unique_ptr<IOUnit> unit;
        check(audio_.createIOUnit(unit), QStringLiteral("Create native input"));
        if (!unit) {
            throw CaptureError(QStringLiteral("Couldn't create native input."));
        }
        unit_ = std::move(unit);
        const StreamFormat client =
            armUnit(device, leftChannel, rightChannel, rate, bits, masterFile);
        CaptureMaster master;
        master.path = masterPath;
        master.sampleRate = client.sampleRate;
        master.bitDepth = bits;
        master.frameCount = 0;
        master.inputDeviceUID = device.uid;
        master.inputChannels = {qint64{leftChannel} + 1, qint64{rightChannel} + 1};
        master.hardwareFormat = integerPart(rate) + QStringLiteral(" Hz / ") +
                                QString::number(bits) + QStringLiteral("-bit integer PCM");
        master.clientFormat = integerPart(client.sampleRate) +
                              QStringLiteral(" Hz / Int32 planar stereo → ") +
                              QString::number(bits) + QStringLiteral("-bit PCM CAF");
        master_ = master;

        watch(left.stream, HardwareProperty::physicalFormat);
        if (right.stream != left.stream) {
            watch(right.stream, HardwareProperty::physicalFormat);
        }
        watch(device.id, HardwareProperty::nominalSampleRate);
        watch(device.id, HardwareProperty::deviceIsAlive);

        // A change between the first look and the listeners' registration went unheard.
        const PhysicalStream leftAgain = physicalStream(device.id, leftChannel);
        const PhysicalStream rightAgain = physicalStream(device.id, rightChannel);
        if (leftAgain.format.sampleRate != rate || rightAgain.format.sampleRate != rate ||
            leftAgain.format.bitsPerChannel != bits || rightAgain.format.bitsPerChannel != bits) {
            throw CaptureError(
                QStringLiteral("The input format changed while arming. Try recording again."));
        }
        check(unit_->start(), QStringLiteral("Start native recording"));
        return master;
    } catch (...) {
        failStart();
        throw;
    }
}

StreamFormat NativeRecorder::armUnit(const NativeInputDevice& device, std::int32_t leftChannel,
                                     std::int32_t rightChannel, double rate, std::uint32_t bits,
                                     const QString& masterFile)
{
    IOUnit& unit = *unit_;
    check(unit.setEnableIO(Scope::input, inputElement, true), configureOperation);
    check(unit.setEnableIO(Scope::output, outputElement, false), configureOperation);
    check(unit.setCurrentDevice(device.id), configureOperation);
    StreamFormat hardwareSide;
    check(unit.streamFormat(Scope::input, inputElement, hardwareSide), verifyOperation);
    if (hardwareSide.sampleRate != rate) {
        throw CaptureError(QStringLiteral("The HAL input rate differs from the physical stream. "
                                          "Capture refused sample-rate conversion."));
    }
    const StreamFormat requested = StreamFormat::int32Planar(rate, 2);
    check(unit.setStreamFormat(Scope::output, inputElement, requested), configureOperation);
    const std::int32_t map[2] = {leftChannel, rightChannel};
    check(unit.setChannelMap(Scope::output, inputElement, map),
          QStringLiteral("Select native capture channels"));
    if (device.bufferFrameSize > largestSliceFrames) {
        throw unsupportedBufferSize();
    }
    check(unit.setMaximumFramesPerSlice(std::max(device.bufferFrameSize, smallestMaximumFrames)),
          configureOperation);
    std::uint32_t maximumFrames = 0;
    check(unit.maximumFramesPerSlice(maximumFrames),
          QStringLiteral("Read native capture buffer size"));
    if (maximumFrames > largestSliceFrames) {
        throw unsupportedBufferSize();
    }

    writer_ = MasterWriter::create(masterFile, bits, rate);
    auto context = std::make_unique<NativeCaptureContext>();
    context->queue = writer_->pcm();
    context->owner = writer_;
    context->unit = unit_.get();
    context->maximumFrames = maximumFrames;
    context->left.assign(maximumFrames, 0);
    context->right.assign(maximumFrames, 0);
    context->buffers.numberBuffers = 2;
    context->buffers.buffers[0] = {1, maximumFrames * 4, context->left.data()};
    context->buffers.buffers[1] = {1, maximumFrames * 4, context->right.data()};
    context_ = std::move(context);

    check(unit.setInputCallback({&NativeRecorder::captureInput, context_.get()}),
          configureOperation);
    check(unit.initialize(), QStringLiteral("Initialize native capture"));
    StreamFormat client;
    check(unit.streamFormat(Scope::output, inputElement, client), verifyOperation);
    if (client.sampleRate != rate || client.formatID != requested.formatID ||
        client.formatFlags != requested.formatFlags || client.bitsPerChannel != 32 ||
        client.bytesPerFrame != 4 || client.channelsPerFrame != 2) {
        throw CaptureError(QStringLiteral("The audio system changed the requested native capture "
                                          "format. Recording was refused."));
    }
    return client;
}

void NativeRecorder::watch(ObjectId object, HardwareProperty selector)
{
    ListenerRegistration registration;
    check(audio_.hardware().addPropertyListener(object, {selector, Scope::global, 0},
                                                integrityListener(writer_), registration),
          QStringLiteral("Watch native input integrity"));
    listeners_.push_back(registration);
}

PropertyListener NativeRecorder::integrityListener(std::shared_ptr<MasterWriter> writer)
{
    return [writer = std::move(writer)](ObjectId, const PropertyAddress&) {
        capture_ring_report_error(writer->pcm(), status::formatChangedDuringTake);
    };
}

void NativeRecorder::failStart()
{
    teardown();
    if (writer_) {
        capture_ring_request_stop(writer_->pcm());
        writer_->waitUntilFinished();
        writer_.reset();
    }
    master_.reset();
}

void NativeRecorder::teardown()
{
    for (const auto& registration : listeners_) {
        audio_.hardware().removePropertyListener(registration);
    }
    listeners_.clear();
    if (unit_) {
        unit_->stop();
        unit_->uninitialize();
        unit_->dispose();
    }
    // The unit is gone before the context: the callback never runs against a freed context.
    unit_.reset();
    context_.reset();
}

std::int32_t NativeRecorder::captureInput(void* refCon, RenderActionFlags& flags,
                                          const AudioTimeStamp& time, std::uint32_t /*bus*/,
                                          std::uint32_t frames, AudioBufferList* /*buffers*/)
{
    auto& context = *static_cast<NativeCaptureContext*>(refCon);
    if (frames > context.maximumFrames) {
        capture_ring_report_error(context.queue, status::paramError);
        return status::paramError;
    }
    auto& list = context.buffers;
    list.numberBuffers = 2;
    list.buffers[0] = {1, frames * 4, context.left.data()};
    list.buffers[1] = {1, frames * 4, context.right.data()};
    if (const std::int32_t s = context.unit->render(flags, time, inputElement, frames, list)) {
        capture_ring_report_error(context.queue, s);
        return s;
    }
    const bool planarStereo = list.numberBuffers == 2 && list.buffers[0].numberChannels == 1 &&
                              list.buffers[1].numberChannels == 1 &&
                              list.buffers[0].dataByteSize == frames * 4 &&
                              list.buffers[1].dataByteSize == frames * 4;
    if (!planarStereo) {
        capture_ring_report_error(context.queue, status::unsupportedFormat);
        return status::unsupportedFormat;
    }
    // A refused block is the ring's to report: its status already says why.
    capture_ring_write(context.queue, static_cast<const std::int32_t*>(list.buffers[0].data),
                       static_cast<const std::int32_t*>(list.buffers[1].data), frames);
    return 0;
}

std::optional<CaptureMaster> NativeRecorder::stop()
{
    if (!writer_) {
        return std::nullopt;
    }
    teardown();
    capture_ring_request_stop(writer_->pcm());
    writer_->waitUntilFinished();
    return conclude();
}

void NativeRecorder::finish(std::function<void(std::optional<CaptureMaster>)> completion)
{
    if (!writer_) {
        QMetaObject::invokeMethod(
            lifetime_.get(), [completion = std::move(completion)] { completion(std::nullopt); },
            Qt::QueuedConnection);
        return;
    }
    teardown();
    capture_ring_request_stop(writer_->pcm());
    QPointer<QObject> alive(lifetime_.get());
    std::weak_ptr<MasterWriter> take = writer_;
    writer_->whenFinished([this, alive, take, completion = std::move(completion)] {
        if (!alive) {
            return;
        }
        const auto writer = take.lock();
        completion(writer && writer == writer_ ? std::optional(conclude()) : std::nullopt);
    });
}

CaptureMaster NativeRecorder::conclude()
{
    CaptureMaster master = *master_;
    master.frameCount = static_cast<qint64>(capture_ring_frames_written(writer_->pcm()));
    master.interruption = interruptionMessage();
    master.isComplete = !master.interruption && master.frameCount > 0;
    writer_.reset();
    master_.reset();
    return master;
}

std::optional<QString> NativeRecorder::interruptionMessage() const
{
    if (!writer_) {
        return std::nullopt;
    }
    return captureInterruptionText(capture_ring_error(writer_->pcm()));
}

std::uint64_t NativeRecorder::framesWritten() const
{
    return writer_ ? capture_ring_frames_written(writer_->pcm()) : 0;
}

float NativeRecorder::takePeak(int channel)
{
    return writer_ ? capture_ring_take_peak(writer_->pcm(), channel) : 0.0f;
}

} // namespace brevalo
