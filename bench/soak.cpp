// brevalo_soak MINUTES: monitors in real time for that long on two rigs at once, the PipeWire
// server (a stereo interface node a sine is played into, monitored to a speakers node) and the
// simulated demo hardware, each through its own monitor controller as the application runs it.
// While the demo rig monitors, a take of its input is recorded bit-exact the whole time, as a
// user recording a side while listening would.
// Then prints, per rig, the underruns and overruns after priming, the range of the drift
// readout (the varispeed's rate correction) and of the drift buffer's fill, for the take its stored
// frames against the wall time, and for the process its CPU share and memory.
//
// Exit status: 0 when both rigs ran throughout without an xrun after priming, the take ended
// normally and the resident memory grew by at most 10 % after priming; 1 otherwise; 2 when a rig
// or the take could not start.
// scripts/soak.sh builds it and runs it against the private PipeWire session.

#include "monitor/monitor_view_model.h"
#include "platform/audio/pipewire/pipewire_audio_system.h"
#include "platform/audio/pipewire/pipewire_test_graph.h"
#include "platform/audio/simulated/simulated_audio_system.h"
#include "platform/audio/simulated/simulated_demo_devices.h"
#include "recording/native_recorder.h"

#include <QCoreApplication>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <memory>
#include <numbers>
#include <string>

namespace {

using namespace brevalo;
using namespace std::chrono_literals;
using test::processUntil;

// Counters before this much running time belong to priming (the ring filling to its target
// and the rate control settling).
constexpr auto primingTime = 10s;

double residentMiB()
{
    std::ifstream statm("/proc/self/statm");
    long size = 0;
    long resident = 0;
    statm >> size >> resident;
    return static_cast<double>(resident) * static_cast<double>(::sysconf(_SC_PAGESIZE)) /
           (1024.0 * 1024.0);
}

double cpuSeconds()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double peakMiB()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0; // kilobytes on Linux
}

struct Sine
{
    double phase = 0.0;

    static std::int32_t render(void* refCon, RenderActionFlags&, const AudioTimeStamp&,
                               std::uint32_t, std::uint32_t frames, AudioBufferList* buffers)
    {
        auto& self = *static_cast<Sine*>(refCon);
        for (std::uint32_t i = 0; i < frames; ++i) {
            self.phase = std::fmod(self.phase + 2.0 * std::numbers::pi * 997.0 / 48000.0,
                                   2.0 * std::numbers::pi);
            for (std::uint32_t c = 0; c < buffers->numberBuffers; ++c) {
                static_cast<float*>(buffers->buffers[c].data)[i] =
                    static_cast<float>(0.25 * std::sin(self.phase));
            }
        }
        return 0;
    }
};

// One controller monitoring one route, and what the soak reads from it once a second.
class Rig
{
public:
    Rig(std::string name, AudioSystem& system, const QString& settingsPath)
        : name_(std::move(name)), settings_(settingsPath, QSettings::IniFormat),
          controller_(system, settings_)
    {}

    MonitorViewModel& controller() { return controller_; }
    const std::string& name() const { return name_; }

    void sample(bool primed)
    {
        const auto& d = controller_.diagnostics();
        if (controller_.phase() != MonitoringPhase::Kind::running) {
            ++secondsNotRunning_;
        }
        if (!primed) {
            underrunsAtPriming_ = d.underruns;
            overrunsAtPriming_ = d.overruns;
            return;
        }
        minPPM_ = std::min(minPPM_, d.rateCorrectionPPM);
        maxPPM_ = std::max(maxPPM_, d.rateCorrectionPPM);
        if (d.targetBufferedFrames > 0) {
            const double fill = 100.0 * static_cast<double>(d.bufferedFrames) /
                                static_cast<double>(d.targetBufferedFrames);
            minFill_ = std::min(minFill_, fill);
            maxFill_ = std::max(maxFill_, fill);
        }
    }

    // True when the rig held up.
    bool report() const
    {
        const auto& d = controller_.diagnostics();
        const auto underruns = d.underruns - underrunsAtPriming_;
        const auto overruns = d.overruns - overrunsAtPriming_;
        std::printf("%-9s underruns %llu, overruns %llu after priming (%llu, %llu in all); drift "
                    "readout %+.1f .. %+.1f ppm; fill %.0f .. %.0f %% of target; %.0f -> %.0f Hz; "
                    "%d s not running\n",
                    name_.c_str(), static_cast<unsigned long long>(underruns),
                    static_cast<unsigned long long>(overruns),
                    static_cast<unsigned long long>(d.underruns),
                    static_cast<unsigned long long>(d.overruns), minPPM_, maxPPM_, minFill_,
                    maxFill_, d.inputSampleRate, d.outputSampleRate, secondsNotRunning_);
        return underruns == 0 && overruns == 0 && secondsNotRunning_ == 0;
    }

private:
    std::string name_;
    QSettings settings_;
    MonitorViewModel controller_;
    std::uint64_t underrunsAtPriming_ = 0;
    std::uint64_t overrunsAtPriming_ = 0;
    double minPPM_ = std::numeric_limits<double>::infinity();
    double maxPPM_ = -std::numeric_limits<double>::infinity();
    // The drift buffer's fill in percent of the rate control's target; the readout follows it.
    double minFill_ = std::numeric_limits<double>::infinity();
    double maxFill_ = -std::numeric_limits<double>::infinity();
    int secondsNotRunning_ = 0;
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    const double minutes = argc > 1 ? std::atof(argv[1]) : 0.0;
    if (!(minutes > 0.0)) {
        std::fprintf(stderr, "usage: brevalo_soak MINUTES\n");
        return 2;
    }
    QTemporaryDir directory;

    // The PipeWire rig: nodes of our own on the server, and a player feeding the interface.
    auto pipeWire = PipeWireAudioSystem::connect(3000ms);
    if (!pipeWire) {
        std::fprintf(stderr, "soak: no PipeWire server reachable\n");
        return 2;
    }
    const auto pid = std::to_string(::getpid());
    const std::string interfaceUID = "brevalo-soak-interface-" + pid;
    const std::string speakersUID = "brevalo-soak-speakers-" + pid;
    auto graph = std::make_unique<test::PipeWireTestGraph>(pipeWire->pipeWireHardware());
    test::TestNodeSetup interfaceNode;
    interfaceNode.name = interfaceUID;
    interfaceNode.description = "Soak Interface";
    interfaceNode.mediaClass = "Audio/Duplex";
    test::TestNodeSetup speakersNode;
    speakersNode.name = speakersUID;
    speakersNode.description = "Soak Speakers";
    ObjectId interfaceDevice = unknownObject;
    Sine sine;
    std::unique_ptr<IOUnit> player;
    const bool graphReady =
        graph->addNode(interfaceNode) != 0 && graph->addNode(speakersNode) != 0 &&
        graph->setDefaultSink(speakersUID) && test::waitUntil([&] {
            return pipeWire->hardware().deviceForUID(interfaceUID, interfaceDevice) == 0 &&
                   interfaceDevice != unknownObject;
        }) &&
        pipeWire->createIOUnit(player) == 0 && player->setCurrentDevice(interfaceDevice) == 0 &&
        player->setRenderCallback(Scope::input, outputElement, {Sine::render, &sine}) == 0 &&
        player->initialize() == 0 && player->start() == 0;
    if (!graphReady) {
        std::fprintf(stderr, "soak: the PipeWire nodes could not be set up\n");
        return 2;
    }

    SimulatedAudioSystem demo(SimTimeMode::realTime);
    addDemoDevices(demo);

    auto pipeWireRig = std::make_unique<Rig>("pipewire", *pipeWire,
                                             directory.filePath(QStringLiteral("pipewire.ini")));
    auto demoRig =
        std::make_unique<Rig>("demo", demo, directory.filePath(QStringLiteral("demo.ini")));
    pipeWireRig->controller().selectInputDevice(QString::fromStdString(interfaceUID));
    for (Rig* rig : {pipeWireRig.get(), demoRig.get()}) {
        rig->controller().startMonitoring();
        if (!processUntil(
                [&] { return rig->controller().phase() == MonitoringPhase::Kind::running; },
                5000ms)) {
            std::fprintf(stderr, "soak: monitoring on %s did not start: %s\n", rig->name().c_str(),
                         rig->controller().status().title.toStdString().c_str());
            return 2;
        }
    }

    // The take: the demo rig's monitored input, recorded while it is monitored.
    NativeRecorder recorder(demo);
    const auto takeDevice = demoRig->controller().selectedInputDevice();
    const auto takePair = demoRig->controller().selectedChannelPair();
    if (!takeDevice || !takePair) {
        std::fprintf(stderr, "soak: the demo rig has no input to record\n");
        return 2;
    }
    try {
        recorder.start({takeDevice->id, takeDevice->uid, takeDevice->bufferFrameSize},
                       takePair->leftChannel, takePair->rightChannel,
                       directory.filePath(QStringLiteral("soak-take.caf")),
                       QStringLiteral("Masters/soak-take.caf"));
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "soak: the take did not start: %s\n", failure.what());
        return 2;
    }
    const auto takeStarted = std::chrono::steady_clock::now();

    const auto started = std::chrono::steady_clock::now();
    const double cpuAtStart = cpuSeconds();
    double residentAtPriming = 0.0;
    double residentPeak = 0.0;
    const auto length = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::duration<double, std::ratio<60>>(minutes));
    std::printf("soak: monitoring for %.1f min on pipewire and demo\n", minutes);
    std::fflush(stdout);

    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const auto elapsed = std::chrono::steady_clock::now() - started;
        const bool primed = elapsed >= primingTime;
        residentPeak = std::max(residentPeak, residentMiB());
        if (!primed) {
            residentAtPriming = residentMiB();
        }
        pipeWireRig->sample(primed);
        demoRig->sample(primed);
        if (elapsed >= length) {
            QCoreApplication::quit();
        }
    });
    tick.start(1000);
    QCoreApplication::exec();

    const auto interruption = recorder.interruptionMessage();
    const auto take = recorder.stop();
    const double takeWall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - takeStarted).count();
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    const double cpuShare = (cpuSeconds() - cpuAtStart) / wall;
    const double residentAtEnd = residentMiB();
    const double growth = residentAtPriming > 0.0 ? residentAtEnd / residentAtPriming - 1.0 : 0.0;

    bool held = pipeWireRig->report();
    held = demoRig->report() && held;
    const bool takeHeld = take && take->isComplete && !interruption;
    if (take) {
        const double stored = static_cast<double>(take->frameCount) / take->sampleRate;
        std::printf("take      %lld frames at %.0f Hz / %lld-bit: %.1f s stored over %.1f s "
                    "(%+.2f %%)%s%s\n",
                    static_cast<long long>(take->frameCount), take->sampleRate,
                    static_cast<long long>(take->bitDepth), stored, takeWall,
                    (stored / takeWall - 1.0) * 100.0, interruption ? "; interrupted: " : "",
                    interruption ? interruption->toStdString().c_str() : "");
    } else {
        std::printf("take      no master\n");
    }
    std::printf("process   CPU %.1f %% of one core over %.0f s; resident %.1f MiB after priming, "
                "%.1f MiB at the end (%+.1f %%), peak %.1f MiB\n",
                cpuShare * 100.0, wall, residentAtPriming, residentAtEnd, growth * 100.0,
                std::max(residentPeak, peakMiB()));
    const bool memoryHeld = growth <= 0.10;
    if (!memoryHeld) {
        std::printf("soak: resident memory grew by more than 10 %%\n");
    }

    for (Rig* rig : {pipeWireRig.get(), demoRig.get()}) {
        rig->controller().shutdown();
    }
    pipeWireRig.reset();
    demoRig.reset();
    player->dispose();
    player.reset();
    graph.reset();
    return held && takeHeld && memoryHeld ? 0 : 1;
}
