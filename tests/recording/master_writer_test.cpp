#include "recording/master_writer.h"
#include "recording/native_recorder.h"

#include "platform/errors.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <QFile>
#include <QTemporaryDir>

#include <condition_variable>
#include <mutex>
#include <numeric>
#include <vector>

using namespace brevalo;

namespace {

// Left-justified words of a ramp, as a 24-bit device delivers them.
std::vector<std::int32_t> ramp(std::uint32_t from, std::uint32_t frames)
{
    std::vector<std::int32_t> words(frames);
    for (std::uint32_t i = 0; i < frames; ++i) {
        words[i] = static_cast<std::int32_t>((from + i) << 8);
    }
    return words;
}

void writeRamp(CaptureRing* ring, std::uint32_t from, std::uint32_t frames)
{
    const auto left = ramp(from, frames);
    auto right = left;
    for (auto& w : right) {
        w = -w;
    }
    ASSERT_EQ(capture_ring_write(ring, left.data(), right.data(), frames), 1);
}

// Every frame the file holds, read back as left-justified words (left, right interleaved).
std::vector<std::int32_t> readMaster(const QString& path, SF_INFO& info)
{
    info = {};
    SNDFILE* file = sf_open(path.toLocal8Bit().constData(), SFM_READ, &info);
    if (file == nullptr) {
        return {};
    }
    std::vector<std::int32_t> words(static_cast<std::size_t>(info.frames) * 2);
    sf_readf_int(file, words.data(), info.frames);
    sf_close(file);
    return words;
}

void expectRamp(const std::vector<std::int32_t>& words, std::uint32_t frames)
{
    ASSERT_EQ(words.size(), std::size_t{frames} * 2);
    for (std::uint32_t i = 0; i < frames; ++i) {
        ASSERT_EQ(words[2 * i], static_cast<std::int32_t>(i << 8)) << "frame " << i;
        ASSERT_EQ(words[2 * i + 1], -static_cast<std::int32_t>(i << 8)) << "frame " << i;
    }
}

// A master sink in front of the real CAF file that can record, stall, fail or shorten writes.
struct ScriptedSink : MasterFileSink
{
    struct Script
    {
        std::vector<std::uint32_t> chunks;
        int failOnWrite = -1; // 0-based write index
        std::int32_t failStatus = 0;
        bool shortWrite = false;
        bool stallFirstWrite = false;
        bool stalled = false;
        bool released = false;
        std::mutex mutex;
        std::condition_variable changed;
    };

    ScriptedSink(std::unique_ptr<MasterFileSink> file, Script& plan)
        : inner(std::move(file)), script(plan)
    {}

    std::int32_t write(const std::byte* bytes, std::uint32_t frames,
                       std::uint32_t& written) override
    {
        std::unique_lock lock(script.mutex);
        const int index = static_cast<int>(script.chunks.size());
        script.chunks.push_back(frames);
        if (script.stallFirstWrite && index == 0) {
            script.stalled = true;
            script.changed.notify_all();
            script.changed.wait(lock, [&] { return script.released; });
        }
        if (index == script.failOnWrite) {
            const std::uint32_t part = script.shortWrite ? frames / 2 : 0;
            inner->write(bytes, part, written);
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
    QString path() const { return dir.filePath(QStringLiteral("Record 1 - Side A.caf")); }

    std::shared_ptr<MasterWriter> create(double rate = 48000.0)
    {
        return MasterWriter::create(
            path(), 24, rate, [this](const QString& p, std::uint32_t bits, double r) {
                return std::make_unique<ScriptedSink>(openCafMaster(p, bits, r), script);
            });
    }

    QTemporaryDir dir;
    ScriptedSink::Script script;
};

} // namespace

TEST(MasterFilePacking, StoresTheDeviceSamplesLittleEndian)
{
    struct Case
    {
        std::uint32_t bits;
        std::uint32_t left;
        std::uint32_t right;
        std::vector<std::uint8_t> bytes;
    };
    const Case cases[] = {
        {24, 0x12345600, 0xFFFFFF00, {0x56, 0x34, 0x12, 0xFF, 0xFF, 0xFF}},
        {16, 0x12345678, 0x80000000, {0x34, 0x12, 0x00, 0x80}},
        {32, 0x12345678, 0x00000001, {0x78, 0x56, 0x34, 0x12, 0x01, 0x00, 0x00, 0x00}},
    };
    for (const auto& c : cases) {
        const auto left = static_cast<std::int32_t>(c.left);
        const auto right = static_cast<std::int32_t>(c.right);
        std::vector<std::byte> out(c.bytes.size());
        packMasterFrames(&left, &right, 1, c.bits, out.data());
        std::vector<std::uint8_t> got(out.size());
        std::transform(out.begin(), out.end(), got.begin(),
                       [](std::byte b) { return std::to_integer<std::uint8_t>(b); });
        EXPECT_EQ(got, c.bytes) << c.bits << "-bit";
    }
}

TEST_F(MasterWriterTest, DrainsEverythingBufferedBeforeTheStopInChunksOf8192)
{
    auto writer = create();
    writeRamp(writer->pcm(), 0, 10000);
    capture_ring_request_stop(writer->pcm());
    writer->waitUntilFinished();

    EXPECT_EQ(script.chunks, (std::vector<std::uint32_t>{8192, 1808}));
    EXPECT_EQ(capture_ring_frames_written(writer->pcm()), 10000u);
    EXPECT_EQ(capture_ring_error(writer->pcm()), 0);
    SF_INFO info;
    expectRamp(readMaster(path(), info), 10000);
    EXPECT_EQ(info.format, SF_FORMAT_CAF | SF_FORMAT_PCM_24 | SF_ENDIAN_LITTLE);
    EXPECT_EQ(info.channels, 2);
    EXPECT_EQ(info.samplerate, 48000);
}

TEST_F(MasterWriterTest, RefusesAnExistingFileAndLeavesItUntouched)
{
    QFile existing(path());
    ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
    existing.write("an earlier take");
    existing.close();
    try {
        create();
        FAIL() << "an existing master was opened";
    } catch (const CoreAudioFailure& failure) {
        EXPECT_EQ(failure.operation(), QStringLiteral("Create the side master"));
        EXPECT_EQ(failure.status(), -17);
    }
    ASSERT_TRUE(existing.open(QIODevice::ReadOnly));
    EXPECT_EQ(existing.readAll(), QByteArray("an earlier take"));
}

TEST_F(MasterWriterTest, AFailedWriteEndsTheDrainAndKeepsWhatWasStored)
{
    struct Case
    {
        bool shortWrite;
        std::int32_t status;
        std::int32_t expected;
        std::uint32_t framesOnDisk;
    };
    const Case cases[] = {{false, -5, -5, 8192}, {true, 0, status::shortPacketWrite, 8192 + 4096}};
    for (const auto& c : cases) {
        QFile::remove(path());
        script.chunks.clear();
        script.failOnWrite = 1;
        script.shortWrite = c.shortWrite;
        script.failStatus = c.status;
        auto writer = create();
        writeRamp(writer->pcm(), 0, 3 * 8192);
        writer->waitUntilFinished(); // no stop request: the failure alone ends the drain

        EXPECT_EQ(capture_ring_error(writer->pcm()), c.expected);
        EXPECT_EQ(capture_ring_frames_written(writer->pcm()), 8192u);
        EXPECT_EQ(script.chunks.size(), 2u) << "the drain kept writing after a failure";
        EXPECT_EQ(capture_ring_write(writer->pcm(), ramp(0, 1).data(), ramp(0, 1).data(), 1), 0);
        SF_INFO info;
        expectRamp(readMaster(path(), info), c.framesOnDisk);
    }
}

TEST_F(MasterWriterTest, AStallLongerThanTheRingStopsTheTakeAndStoresEveryAcceptedFrame)
{
    script.stallFirstWrite = true;
    auto writer = create(1000.0); // a ring of 4000 frames
    CaptureRing* ring = writer->pcm();
    writeRamp(ring, 0, 500);
    {
        std::unique_lock lock(script.mutex);
        script.changed.wait(lock, [&] { return script.stalled; });
    }
    std::uint32_t accepted = 500;
    while (true) {
        const auto left = ramp(accepted, 500);
        auto right = left;
        for (auto& w : right) {
            w = -w;
        }
        if (capture_ring_write(ring, left.data(), right.data(), 500) == 0) {
            break;
        }
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

    EXPECT_EQ(captureInterruptionText(capture_ring_error(ring)),
              QStringLiteral("Recording stopped: the storage drive couldn't keep up. The "
                             "interrupted take has been retained."));
    EXPECT_EQ(capture_ring_frames_written(ring), accepted);
    SF_INFO info;
    expectRamp(readMaster(path(), info), accepted);
}
