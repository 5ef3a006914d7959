#pragma once

// Records one side bit-exact: an input-only device I/O unit on one stereo channel pair, refusing
// every configuration in which the audio system would alter the samples (rate conversion, float
// samples). Path of the audio: I/O unit → captureInput → CaptureRing → MasterWriter drain →
// master file. While a take runs, listeners on the two physical streams and on the device's rate
// and presence mark the take interrupted (−2) when any of them changes.
//
// Threads: start, stop, finish, interruptionMessage and teardown belong to the main thread; the
// input callback runs on the device's I/O thread and touches only its context and the ring; the
// listeners run on the audio system's notification thread and only report −2 to the ring.

#include "capture/capture_project.h"
#include "platform/audio/audio_system.h"
#include "recording/master_writer.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace brevalo {

// What the recorder needs of the selected input device (the catalog's AudioInputDevice carries
// these fields under the same names).
struct NativeInputDevice
{
    ObjectId id = unknownObject;
    QString uid;
    std::uint32_t bufferFrameSize = 0; // frames
};

// A device stream and the format it runs at.
struct PhysicalStream
{
    ObjectId stream = unknownObject;
    StreamFormat format;
};

// The refcon of the input callback. Its render buffers and buffer list are sized at start for
// the largest block, so the callback allocates nothing; it keeps the writer (and the ring)
// alive while the callback can run.
struct NativeCaptureContext
{
    CaptureRing* queue = nullptr;
    std::shared_ptr<MasterWriter> owner;
    IOUnit* unit = nullptr;
    std::uint32_t maximumFrames = 0;
    std::vector<std::int32_t> left;
    std::vector<std::int32_t> right;
    AudioBufferList buffers;
};

// The text the take's ring status stands for; nullopt while healthy.
std::optional<QString> captureInterruptionText(std::int32_t ringStatus);

class NativeRecorder
{
public:
    // The audio system must outlive the recorder.
    explicit NativeRecorder(AudioSystem& audio);
    // Stops a running take (waiting for its file to close) and drops a pending finish.
    ~NativeRecorder();
    NativeRecorder(const NativeRecorder&) = delete;
    NativeRecorder& operator=(const NativeRecorder&) = delete;

    // Main thread. Arms and starts a take on device channels left and right (0-based) into a new
    // master at masterFile; masterPath is the project-relative path stored in the master. Throws
    // CaptureError or CoreAudioFailure; a failure after the master was created leaves that
    // (empty or short) file on disk for the caller to decide on.
    CaptureMaster start(const NativeInputDevice& device, std::int32_t leftChannel,
                        std::int32_t rightChannel, const QString& masterFile,
                        const QString& masterPath);

    // Main thread. Ends the take and blocks until the master is closed (at most the four seconds
    // the ring holds); nullopt when no take exists.
    std::optional<CaptureMaster> stop();

    // Main thread. Ends the take like stop without blocking: completion runs on the main thread
    // (through a queued call) once the master is closed, with the final master, or nullopt when
    // there was no take or it was stopped meanwhile. It does not run if the recorder is
    // destroyed first. Needs a QCoreApplication.
    void finish(std::function<void(std::optional<CaptureMaster>)> completion);

    // Main thread. Why the take stopped accepting audio; nullopt while healthy or without a take.
    std::optional<QString> interruptionMessage() const;

    // Main thread. Removes the listeners and disposes the unit; the writer keeps draining.
    void teardown();

    // For the controller's poll (main thread): frames stored in the master so far, and the
    // channel's peak since the previous call (0 = left, other = right, full scale 1.0). Zero
    // without a take.
    std::uint64_t framesWritten() const;
    float takePeak(int channel);
    // The running take's writer (null without a take).
    const std::shared_ptr<MasterWriter>& writer() const { return writer_; }
    bool isRecording() const { return writer_ != nullptr; }

    // The stream that carries device input channel (0-based), with its physical format.
    PhysicalStream physicalStream(ObjectId device, std::int32_t channel);

    // The realtime input callback (refCon: the NativeCaptureContext).
    static std::int32_t captureInput(void* refCon, RenderActionFlags& flags,
                                     const AudioTimeStamp& time, std::uint32_t bus,
                                     std::uint32_t frames, AudioBufferList* buffers);
    // The body of every integrity listener: marks the take interrupted, nothing else.
    static PropertyListener integrityListener(std::shared_ptr<MasterWriter> writer);

private:
    // Configures the unit and creates the writer; returns the client format after initialize.
    StreamFormat armUnit(const NativeInputDevice& device, std::int32_t leftChannel,
                         std::int32_t rightChannel, double rate, std::uint32_t bits,
                         const QString& masterFile);
    void watch(ObjectId object, HardwareProperty selector);
    CaptureMaster conclude();
    void failStart();

    AudioSystem& audio_;
    std::unique_ptr<IOUnit> unit_;
    std::unique_ptr<NativeCaptureContext> context_;
    std::shared_ptr<MasterWriter> writer_;
    std::optional<CaptureMaster> master_;
    std::vector<ListenerRegistration> listeners_;
    // Resumes of finish hold a QPointer to this: they are dropped once the recorder is gone.
    std::unique_ptr<QObject> lifetime_;
};

} // namespace brevalo
