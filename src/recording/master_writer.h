#pragma once

// Carries one take from the recorder's input callback to the master file: it owns the take's
// CaptureRing and the open master, and drains the ring into the file on a thread of its own
// ("master-writer"), packing the left-justified 32-bit samples down to the file's bit depth.
//
// The writer has no stop of its own: the recorder ends the take with capture_ring_request_stop
// on pcm(), and the drain stores everything that reached the ring before the request, closes the
// file and signals completion. A write failure ends the drain early with its status in the ring
// (the producer is shut out by that status); an overflow (−1) keeps the drain running so that
// everything that reached the ring is stored.

#include "core/capture_ring.h"
#include "recording/master_file.h"

#include <QString>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace brevalo {

class MasterWriter : public std::enable_shared_from_this<MasterWriter>
{
public:
    // Frames per file write: the drain's chunk.
    static constexpr std::uint32_t chunkFrames = 8192;
    // Seconds of audio the ring holds, to ride out storage stalls.
    static constexpr double ringSeconds = 4.0;

    // Main thread. Creates the ring (sample rate × 4 frames), creates the master at path and
    // starts the drain, which idles until audio arrives. Throws CaptureError "Couldn't allocate
    // the recording buffer." or the opener's error (CoreAudioFailure "Create the side master").
    static std::shared_ptr<MasterWriter> create(const QString& path, std::uint32_t bitDepth,
                                                double sampleRate,
                                                const MasterFileOpener& open = openCafMaster);

    ~MasterWriter();
    MasterWriter(const MasterWriter&) = delete;
    MasterWriter& operator=(const MasterWriter&) = delete;

    // The take's ring; valid as long as the writer lives.
    CaptureRing* pcm() const { return pcm_; }
    std::uint32_t bitDepth() const { return bitDepth_; }

    // Blocks until the drain has closed the file. Requires a stop request (or a write failure)
    // to return.
    void waitUntilFinished();
    // Any thread; does not block. Once the drain has closed the file, resume runs on the main
    // thread through a queued call on the application object (also when the drain had already
    // finished), so the main thread never waits. A resume that touches an object that may be
    // gone by then checks a QPointer to it first (on the main thread, where it is deleted).
    // Needs a QCoreApplication.
    void whenFinished(std::function<void()> resume);
    bool isFinished() const;

private:
    MasterWriter(CaptureRing* ring, std::uint32_t bitDepth);
    static void drain(std::shared_ptr<MasterWriter> self, std::unique_ptr<MasterFileSink> file);
    void markFinished();

    CaptureRing* pcm_;
    std::uint32_t bitDepth_;
    std::thread worker_;

    mutable std::mutex finishedMutex_;
    std::condition_variable finishedChanged_;
    bool finished_ = false;
    std::vector<std::function<void()>> waiters_;
};

} // namespace brevalo
