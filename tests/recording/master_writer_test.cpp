#include "recording/master_writer.h"
#include "recording/native_recorder.h"

#include "platform/errors.h"
#include "support/test_masters.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <condition_variable>
#include <mutex>
#include <thread>

using namespace brevalo;

namespace {

// Writes frames of a ramp from frame `from`: left-justified 24-bit words, right = −left.
int writeRamp(CaptureRing* ring, std::uint32_t from, std::uint32_t frames)
{
    std::vector<std::int32_t> left(frames), right(frames);
    for (std::uint32_t i = 0; i < frames; ++i) {
        left[i] = static_cast<std::int32_t>((from + i) << 8);
        right[i] = -left[i];
    }
    return capture_ring_write(ring, left.data(), right.data(), frames);
}

// Frames on disk, and whether they are the ramp from frame 0.
std::pair<std::int64_t, bool> rampOnDisk(const QString& path)
{
    SF_INFO info;
    const auto words = test::readTestMaster(path, info);
    bool ramp = true;
    for (std::size_t i = 0; i < words.size() / 2; ++i) {
        ramp = ramp && words[2 * i] == static_cast<std::int32_t>(i << 8) &&
               words[2 * i + 1] == -words[2 * i];
    }
    return {info.frames, ramp};
}

// In front of the real CAF master: records chunk sizes, can stall the first write and fail one
// (storing half of it when asked).
struct Script
{
    std::vector<std::uint32_t> chunks;
    int failOnWrite = -1;
    std::int32_t failStatus = 0;
    bool halfWritten = false, stall = false, stalled = false, released = false;
    std::mutex mutex;
    std::condition_variable changed;
};

struct ScriptedSink : MasterFileSink
{
    ScriptedSink(std::unique_ptr<MasterFileSink> file, Script& plan)
        : inner(std::move(file)), script(plan)
    {}
    std::int32_t write(const std::byte* bytes, std::uint32_t frames,
                       std::uint32_t& written) override
    {
        std::unique_lock lock(script.mutex);
        const auto index = static_cast<int>(script.chunks.size());
        script.chunks.push_back(frames);
        if (script.stall && index == 0) {
            script.stalled = true;
            script.changed.notify_all();
            script.changed.wait(lock, [&] { return script.released; });
        }
        if (index == script.failOnWrite) {
            inner->write(bytes, script.halfWritten ? frames / 2 : 0, written);
            return script.failStatus;
        }
        return inner->write(bytes, frames, written);
    }
    std::int32_t close() override { return inner->close(); }

    std::unique_ptr<MasterFileSink> inner;
    Script& script;
};

class MasterWriterTest : public ::testing::Test
{
protected:
    std::shared_ptr<MasterWriter> create(double rate = 48000.0)
    {
        QFile::remove(path);
        script.chunks.clear();
        return MasterWriter::create(path, 24, rate, [this](const QString& p, auto bits, auto r) {
            return std::make_unique<ScriptedSink>(openCafMaster(p, bits, r), script);
        });
    }

    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("take.caf"));
    Script script;
};

} // namespace

TEST_F(MasterWriterTest, RefusesAnExistingFileAndLeavesItUntouched)
{
    QFile existing(path);
    ASSERT_TRUE(existing.open(QIODevice::WriteOnly) && existing.write("an earlier take") > 0);
    existing.close();
    EXPECT_THROW(MasterWriter::create(path, 24, 48000.0), CoreAudioFailure);
    ASSERT_TRUE(existing.open(QIODevice::ReadOnly));
    EXPECT_EQ(existing.readAll(), QByteArray("an earlier take"));
}

// The drain stores everything buffered before the stop in chunks of 8192 frames; a failed or
// short write ends it at once, keeps what was stored and shuts the producer out.
TEST_F(MasterWriterTest, DrainsInChunksUntilTheStopOrTheFirstFailedWrite)
{
    struct Case
    {
        int failOnWrite;
        bool halfWritten;
        std::int32_t status, expected;
        std::vector<std::uint32_t> chunks;
        std::uint64_t counted;
        std::int64_t onDisk;
    } const cases[] = {{-1, false, 0, 0, {8192, 8192, 3000}, 19384, 19384},
                       {1, false, -5, -5, {8192, 8192}, 8192, 8192},
                       {1, true, 0, status::shortPacketWrite, {8192, 8192}, 8192, 8192 + 4096}};
    for (const auto& c : cases) {
        auto writer = create();
        script.failOnWrite = c.failOnWrite;
        script.halfWritten = c.halfWritten;
        script.failStatus = c.status;
        writeRamp(writer->pcm(), 0, 19384);
        // The failure alone ends the drain; the stop after a bounded wait only keeps a drain
        // that missed it from hanging the test.
        for (int i = 0; c.expected != 0 && i < 500 && capture_ring_error(writer->pcm()) == 0; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        if (c.expected != 0) {
            EXPECT_EQ(writeRamp(writer->pcm(), 0, 1), 0) << "the producer was not shut out";
        }
        capture_ring_request_stop(writer->pcm());
        writer->waitUntilFinished();
        EXPECT_EQ(capture_ring_error(writer->pcm()), c.expected);
        EXPECT_EQ(script.chunks, c.chunks) << "the drain went on after a failure";
        EXPECT_EQ(capture_ring_frames_written(writer->pcm()), c.counted);
        EXPECT_EQ(rampOnDisk(path), std::make_pair(c.onDisk, true));
    }
}

TEST_F(MasterWriterTest, AStallLongerThanTheRingStopsTheTakeAndStoresEveryAcceptedFrame)
{
    script.stall = true;
    auto writer = create(1000.0); // a ring of 4000 frames
    CaptureRing* ring = writer->pcm();
    writeRamp(ring, 0, 500);
    {
        std::unique_lock lock(script.mutex);
        script.changed.wait(lock, [&] { return script.stalled; });
    }
    std::uint32_t accepted = 500;
    while (writeRamp(ring, accepted, 500) == 1) {
        accepted += 500;
    }
    EXPECT_EQ(accepted, 4500u);
    {
        std::lock_guard lock(script.mutex);
        script.released = true;
    }
    script.changed.notify_all();
    capture_ring_request_stop(ring);
    writer->waitUntilFinished();
    EXPECT_EQ(capture_ring_error(ring), -1);
    EXPECT_EQ(captureInterruptionText(-1),
              QStringLiteral("Recording stopped: the storage drive couldn't keep up. The "
                             "interrupted take has been retained."));
    EXPECT_EQ(rampOnDisk(path), std::make_pair(std::int64_t{accepted}, true));
}
