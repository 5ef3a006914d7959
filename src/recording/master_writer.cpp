#include "recording/master_writer.h"

#include "platform/errors.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <chrono>
#include <pthread.h>

namespace brevalo {

namespace {

void postToMainThread(std::function<void()> resume)
{
    QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(resume),
                              Qt::QueuedConnection);
}

} // namespace

MasterWriter::MasterWriter(CaptureRing* ring, std::uint32_t bitDepth)
    : pcm_(ring), bitDepth_(bitDepth)
{}

std::shared_ptr<MasterWriter> MasterWriter::create(const QString& path, std::uint32_t bitDepth,
                                                   double sampleRate, const MasterFileOpener& open)
{
    const double frames = sampleRate * ringSeconds;
    CaptureRing* ring = frames >= 1.0 && frames < 4294967296.0
                            ? capture_ring_create(static_cast<std::uint32_t>(frames))
                            : nullptr;
    if (ring == nullptr) {
        throw CaptureError(QStringLiteral("Couldn't allocate the recording buffer."));
    }
    std::shared_ptr<MasterWriter> writer(new MasterWriter(ring, bitDepth));
    std::unique_ptr<MasterFileSink> file = open(path, bitDepth, sampleRate);
    if (!file) {
        throw CaptureError(QStringLiteral("Couldn't create the master recording."));
    }
    // The drain holds the writer: it lives at least until the file is closed.
    writer->worker_ = std::thread(drain, writer, std::move(file));
    return writer;
}

MasterWriter::~MasterWriter()
{
    if (worker_.joinable()) {
        // The drain's own reference may be the last one; it is done with the writer by then.
        if (worker_.get_id() == std::this_thread::get_id()) {
            worker_.detach();
        } else {
            worker_.join();
        }
    }
    capture_ring_destroy(pcm_);
}

void MasterWriter::drain(std::shared_ptr<MasterWriter> self, std::unique_ptr<MasterFileSink> file)
{
    pthread_setname_np(pthread_self(), "master-writer");
    CaptureRing* ring = self->pcm_;
    const std::uint32_t bytes = self->bitDepth_ / 8;
    std::vector<std::int32_t> left(chunkFrames);
    std::vector<std::int32_t> right(chunkFrames);
    std::vector<std::byte> packed(std::size_t{chunkFrames} * 2 * bytes);

    std::int32_t failure = 0;
    while (true) {
        // The flag before the ring: a frame written before the stop request is then either in
        // this read or in an earlier one.
        const bool stopping = capture_ring_stop_requested(ring);
        const std::uint32_t n = capture_ring_read(ring, left.data(), right.data(), chunkFrames);
        if (n == 0) {
            if (stopping) {
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            continue;
        }
        packMasterFrames(left.data(), right.data(), n, self->bitDepth_, packed.data());
        std::uint32_t stored = 0;
        const std::int32_t status = file->write(packed.data(), n, stored);
        if (status != 0) {
            failure = status;
            break;
        }
        if (stored != n) {
            failure = brevalo::status::shortPacketWrite;
            break;
        }
        capture_ring_add_frames_written(ring, n);
    }
    if (failure != 0) {
        capture_ring_report_error(ring, failure);
    }
    left = {};
    right = {};
    packed = {};
    if (const std::int32_t closed = file->close(); closed != 0) {
        capture_ring_report_error(ring, closed);
    }
    file.reset();
    self->markFinished();
}

void MasterWriter::markFinished()
{
    std::lock_guard lock(finishedMutex_);
    finished_ = true;
    // Posted under the lock: whoever sees finished_ set knows every resume is already queued.
    for (auto& resume : waiters_) {
        postToMainThread(std::move(resume));
    }
    waiters_.clear();
    finishedChanged_.notify_all();
}

void MasterWriter::waitUntilFinished()
{
    std::unique_lock lock(finishedMutex_);
    finishedChanged_.wait(lock, [this] { return finished_; });
}

void MasterWriter::whenFinished(std::function<void()> resume)
{
    std::lock_guard lock(finishedMutex_);
    if (finished_) {
        postToMainThread(std::move(resume));
    } else {
        waiters_.push_back(std::move(resume));
    }
}

bool MasterWriter::isFinished() const
{
    std::lock_guard lock(finishedMutex_);
    return finished_;
}

} // namespace brevalo
