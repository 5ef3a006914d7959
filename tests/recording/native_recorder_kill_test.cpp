// A take killed with SIGKILL: a child process (this binary, running only the child case) records
// the counting pattern in real time and reports its ring's counters; the parent kills it mid-take
// and reads what the master holds.

#include "recording/native_recorder.h"

#include "platform/audio/simulated/simulated_audio_system.h"
#include "support/test_masters.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <csignal>
#include <cstdio>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace brevalo;

namespace {
const char* const childVariable = "BREVALO_KILLED_TAKE_MASTER";
constexpr unsigned long long killAfterFrames = 48000; // half a second at 96 kHz
} // namespace

TEST(NativeRecorderKilledChild, RecordsUntilKilled)
{
    const char* master = std::getenv(childVariable);
    if (master == nullptr) {
        GTEST_SKIP() << "runs only as the child of the kill test";
    }
    SimulatedAudioSystem sim(SimTimeMode::realTime);
    const ObjectId id = sim.addDevice(SimDevice::input("in", "In", 2, 96000.0, 24));
    sim.setInputSignal(id, 0, SimSignal::counting());
    sim.setInputSignal(id, 1, SimSignal::counting());
    NativeRecorder recorder(sim);
    recorder.start({id, "in", sim.device(id)->bufferFrameSize}, 0, 1,
                   QString::fromLocal8Bit(master), "Masters/take.caf");
    for (int i = 0; i < 6000; ++i) { // gives up after about 30 s
        std::printf("%llu\n", static_cast<unsigned long long>(recorder.framesWritten()));
        std::fflush(stdout);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

TEST(NativeRecorderKill, AKilledTakeLeavesAReadableMasterOfEveryStoredFrame)
{
    QTemporaryDir dir;
    const std::string variable =
        std::string(childVariable) + "=" + dir.filePath("killed.caf").toStdString();
    std::string self(4096, '\0');
    self.resize(static_cast<std::size_t>(::readlink("/proc/self/exe", self.data(), self.size())));
    std::string filter = "--gtest_filter=NativeRecorderKilledChild.*";
    char* argv[] = {self.data(), filter.data(), nullptr};
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        ::dup2(ends[1], STDOUT_FILENO);
        ::putenv(const_cast<char*>(variable.c_str()));
        ::execv(argv[0], argv);
        ::_exit(127);
    }
    ::close(ends[1]);
    FILE* reports = ::fdopen(ends[0], "r");
    unsigned long long stored = 0;
    char line[256]; // gtest's own lines do not parse
    while (stored < killAfterFrames && std::fgets(line, sizeof line, reports) != nullptr) {
        std::sscanf(line, "%llu", &stored);
    }
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    std::fclose(reports);
    ASSERT_GE(stored, killAfterFrames) << "the child stopped reporting";

    SF_INFO info;
    const auto words = test::readTestMaster(dir.filePath("killed.caf"), info);
    std::int64_t wrong = 0;
    for (std::uint64_t i = 0; i < words.size() / 2; ++i) {
        wrong += words[2 * i] != simCountingCode(i, 0, 24) * 256 ||
                 words[2 * i + 1] != simCountingCode(i, 1, 24) * 256;
    }
    EXPECT_EQ(wrong, 0);
    // Everything the drain had stored at the last report is in the file, header included.
    EXPECT_GE(static_cast<unsigned long long>(info.frames), stored);
    std::printf("killed take: %lld frames in the file, %llu stored at the last report\n",
                static_cast<long long>(info.frames), stored);
}
