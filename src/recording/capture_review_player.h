#pragma once

// Plays one frame range of a side's master so that the user can audition the take and place
// boundaries. Positions are master frames throughout: the playhead maps one to one onto the
// waveform and the markers, whatever rate the output device runs at.
//
// The master is streamed, never loaded: a reader thread decodes the segment with libsndfile into
// a lock-free ring, and the output device's render callback only pulls from that ring (through
// libsamplerate at a fixed ratio when the output runs at another rate than the master). A ring
// that runs dry plays silence and is counted; the playhead then waits for the audio instead of
// skipping it.
//
// Every schedule carries a generation token. Stopping (load, play, pause, selectOutput, stop)
// replaces the token, so the end-of-segment notice of an earlier schedule, which reaches the
// main thread later, is recognised as stale and ignored.
//
// Threads: every public function belongs to the main thread (the thread that created the player
// and runs its Qt event loop); end-of-segment notices and output-device notifications are
// handled there too. The audio system must outlive the player.

#include "platform/audio/audio_system.h"

#include <QUuid>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

class QObject;
struct sf_private_tag;

namespace brevalo {

class ReviewSegment;

struct ReviewPlayerOptions
{
    // Master frames read ahead of what is heard: about 1.4 s at 96 kHz.
    std::uint32_t ringFrames = 131072;
    // How often the reader thread tops the ring up and looks for the segment's end.
    std::chrono::milliseconds readerPeriod{5};
    // No reader thread: whoever drives time calls serviceReader() instead (simulated hardware in
    // manual time, so that every run is the same).
    bool manualReader = false;
};

class CaptureReviewPlayer
{
public:
    explicit CaptureReviewPlayer(AudioSystem& system, ReviewPlayerOptions options = {});
    ~CaptureReviewPlayer();
    CaptureReviewPlayer(const CaptureReviewPlayer&) = delete;
    CaptureReviewPlayer& operator=(const CaptureReviewPlayer&) = delete;

    // Stops, then opens the master for reading. The playhead goes to 0 and the end frame to the
    // file's length. Throws CaptureError with the file reader's text; the previous master then
    // stays loaded (stopped).
    void load(const std::filesystem::path& master);

    // Plays [start, end) and stops there. A missing start is the playhead, a missing end the
    // master's length; start is clamped to [0, length − 1] and end to the length. An empty
    // range leaves the player stopped at the clamped start. Nothing happens without a master.
    // Throws CoreAudioFailure (or CaptureError "Review audio output is unavailable.") when the
    // output cannot start, CaptureError with the file reader's text when the master cannot be
    // read there; either way the player then rests stopped at the clamped start.
    void play(std::optional<std::int64_t> start = std::nullopt,
              std::optional<std::int64_t> end = std::nullopt);

    // Stops at the current playhead.
    void pause();

    // Stops where the playhead rests and orphans any pending end notice (shutdown, a new take).
    void stop();

    // Moves the resting playhead (clamped to [0, length]); stops first when playing.
    void setAnchor(std::int64_t frame);

    // The playhead in master frames; cheap enough to poll at display rate.
    std::int64_t currentFrame() const;

    // Routes playback to the output device; stops playback at the current playhead, which the
    // next play starts from. Throws CaptureError "Review audio output is unavailable." when no
    // output unit can be created, CoreAudioFailure "Select the review output" when the device is
    // refused. Until called, the player plays on the system's default output.
    void selectOutput(ObjectId device);

    // Called on the main thread when playback stopped by itself: the segment played to its end,
    // or the output device went away, changed its rate or stopped abnormally (the playhead then
    // rests where the audio stopped). Not called for load, play, pause, selectOutput or stop.
    void setStoppedHandler(std::function<void()> handler);

    bool hasMaster() const { return file_ != nullptr; }
    bool isPlaying() const { return isPlaying_; }
    std::int64_t anchor() const { return anchor_; }
    std::int64_t endFrame() const { return endFrame_; }
    std::int64_t frameCount() const { return frameCount_; }
    double masterSampleRate() const { return masterRate_; }
    // The rate the output unit is configured for; 0 until a play configures it (again).
    double outputSampleRate() const { return unitRate_; }
    const QUuid& generation() const { return generation_; }
    // Output blocks of the current or last segment that found the ring empty.
    std::uint64_t dryBlocks() const;

    // Manual reader only: one pass of the reader's work on the calling (main) thread.
    void serviceReader();

private:
    struct RenderContext
    {
        std::atomic<ReviewSegment*> segment{nullptr};
    };
    static std::int32_t renderCallback(void* refCon, RenderActionFlags& flags,
                                       const AudioTimeStamp& time, std::uint32_t bus,
                                       std::uint32_t frames, AudioBufferList* buffers);

    void stopAndMark();
    void stopEngine();
    void startSegment(std::int64_t start);
    // Creates the output unit on the device (or the system's default output).
    void ensureUnit();
    void bindUnit(ObjectId device);
    void releaseUnit();
    void listenToDevice(ObjectId device);
    void removeListeners();
    void readerPass();
    void readerLoop();
    void stopReader();
    void finishSegment(const QUuid& token);
    // The output device went away, changed its rate or stopped: stop where the playhead is.
    void checkOutput(bool stoppedAbnormally);

    AudioSystem& system_;
    ReviewPlayerOptions options_;
    std::unique_ptr<QObject> mainThread_; // receives every hop to the main thread

    std::optional<ObjectId> selectedDevice_;
    std::unique_ptr<IOUnit> unit_;
    ObjectId unitDevice_ = unknownObject;
    double unitRate_ = 0.0; // the unit is initialized at this rate; 0: not configured
    std::uint32_t unitMaximumFrames_ = 0;
    bool unitStarted_ = false;
    RenderContext renderContext_;
    std::vector<ListenerRegistration> listeners_;

    sf_private_tag* file_ = nullptr;
    std::int64_t frameCount_ = 0;
    std::uint32_t fileChannels_ = 0;
    double masterRate_ = 0.0;

    std::int64_t anchor_ = 0;
    QUuid generation_;
    bool isPlaying_ = false;
    std::int64_t endFrame_ = 0;

    std::unique_ptr<ReviewSegment> segment_;
    bool endNoticePosted_ = false; // reader only (or the main thread while no reader runs)
    std::thread reader_;
    std::mutex readerMutex_;
    std::condition_variable readerWake_;
    bool readerStop_ = false;

    std::function<void()> stoppedHandler_;
};

} // namespace brevalo
