// A take killed with SIGKILL: a child process (this test binary, running only the child case)
// records the counting pattern in real time and reports its ring's counters; the parent kills it
// mid-take and reads what the master holds.

#include "recording/native_recorder.h"

#include "platform/audio/simulated_audio_system.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <QTemporaryDir>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace brevalo;

namespace {

const char* const childVariable = "BREVALO_KILLED_TAKE_MASTER";
constexpr double rate = 96000.0;

} // namespace

TEST(NativeRecorderKilledChild, RecordsUntilKilled)
{
    const char* master = std::getenv(childVariable);
    if (master == nullptr) {
        GTEST_SKIP() << "runs only as the child of the kill test";
    }
    SimulatedAudioSystem sim(SimTimeMode::realTime);
    SimDevice device = SimDevice::input("in", "In", 2, rate, 24);
    device.bufferFrameSize = 256;
    const ObjectId id = sim.addDevice(device);
    sim.setInputSignal(id, 0, SimSignal::counting());
    sim.setInputSignal(id, 1, SimSignal::counting());
    NativeRecorder recorder(sim);
    recorder.start({id, QStringLiteral("in"), 256}, 0, 1, QString::fromLocal8Bit(master),
                   QStringLiteral("Masters/take.caf"));
    const CaptureRing* ring = recorder.writer()->pcm();
    for (int i = 0; i < 6000; ++i) { // gives up after about 30 s
        // Stored first: a later count of frames received is never below it.
        const auto stored = capture_ring_frames_written(ring);
        std::printf("%llu %llu\n", static_cast<unsigned long long>(ring->writeIndex.load()),
                    static_cast<unsigned long long>(stored));
        std::fflush(stdout);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

TEST(NativeRecorderKill, AKilledTakeLeavesAReadableMasterOfEveryStoredFrame)
{
    QTemporaryDir dir;
    const std::string master = dir.filePath(QStringLiteral("killed.caf")).toStdString();
    const std::string variable = std::string(childVariable) + "=" + master;
    std::string self(4096, '\0');
    self.resize(static_cast<std::size_t>(::readlink("/proc/self/exe", self.data(), self.size())));
    std::string filter = "--gtest_filter=NativeRecorderKilledChild.*";
    char* argv[] = {self.data(), filter.data(), nullptr};
    int pipeEnds[2];
    ASSERT_EQ(::pipe(pipeEnds), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::dup2(pipeEnds[1], STDOUT_FILENO);
        ::close(pipeEnds[0]);
        ::putenv(const_cast<char*>(variable.c_str()));
        ::execv(argv[0], argv);
        ::_exit(127);
    }
    ::close(pipeEnds[1]);
    FILE* reports = ::fdopen(pipeEnds[0], "r");
    unsigned long long received = 0;
    unsigned long long stored = 0;
    char line[256];
    while (std::fgets(line, sizeof line, reports) != nullptr) {
        if (std::sscanf(line, "%llu %llu", &received, &stored) == 2 &&
            static_cast<double>(stored) >= rate * 0.5) {
            break;
        }
    }
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    std::fclose(reports);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
    ASSERT_GE(static_cast<double>(stored), rate * 0.5) << "the child stopped reporting";

    SF_INFO info{};
    SNDFILE* file = sf_open(master.c_str(), SFM_READ, &info);
    ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
    std::vector<std::int32_t> words(static_cast<std::size_t>(info.frames) * 2);
    ASSERT_EQ(sf_readf_int(file, words.data(), info.frames), info.frames);
    sf_close(file);
    std::int64_t wrong = 0;
    for (std::uint64_t i = 0; i < static_cast<std::uint64_t>(info.frames); ++i) {
        wrong += words[2 * i] != simCountingCode(i, 0, 24) * 256 ||
                 words[2 * i + 1] != simCountingCode(i, 1, 24) * 256;
    }
    EXPECT_EQ(wrong, 0);
    // Everything the drain had counted as stored at the last report is in the file.
    EXPECT_GE(static_cast<unsigned long long>(info.frames), stored);
    const auto missing = static_cast<long long>(received) - info.frames;
    RecordProperty("framesInFile", std::to_string(info.frames));
    RecordProperty("framesReceivedAtLastReport", std::to_string(received));
    std::printf("killed take: %lld frames in the file, %llu received by the ring at the last "
                "report (%lld not in the file)\n",
                static_cast<long long>(info.frames), received, missing);
}
