#pragma once

// The device I/O unit of the PipeWire backend: one pw_stream per enabled side, bound to one
// node (target.object = the node's serial) and never moved to another one
// (node.dont-reconnect), carrying every channel of the node in the node's own positions
// (stream.dont-remix) so that the channel map picks device channels one to one.
//
// Sample values. PipeWire's graph carries 32-bit float samples. A 16- or 24-bit integer device
// sample converts to float and back without loss, so the 32-bit integer planar client format
// (S32P, left-justified) delivers 16- and 24-bit capture unchanged. A 32-bit integer device
// passes the float graph and is rounded to 24 significant bits. The float client format gets
// the graph's samples as they are.
//
// Rates. The stream asks the graph for the device's rate (node.rate). If the graph runs at
// another rate anyway (a stock desktop allows only 48 kHz), PipeWire converts between the graph
// and the stream. A float input client (monitoring) takes that converted audio at the rate it
// negotiated, which the client format read back after initialize reports. An integer input
// client (bit-exact capture) never does: its side notices the graph rate on every block, then
// refuses to render (status::unsupportedFormat) and reports ioStoppedAbnormally, and its client
// format read back after initialize carries the graph's real rate. initialize connects the
// streams (blocks are dropped until start) and waits for the input's first cycle. The output
// side lets PipeWire convert: it only feeds monitoring and review.
//
// Threads: configuration, initialize, start, stop and dispose on the main thread; the process
// callbacks on PipeWire's data thread (RT_PROCESS), where they allocate nothing and take no lock.

#include "platform/audio/io_unit_base.h"
#include "platform/audio/pipewire/pipewire_hardware.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace brevalo {

class PipeWireIOUnit final : public IOUnitBase
{
public:
    explicit PipeWireIOUnit(PipeWireHardware& hardware);
    ~PipeWireIOUnit() override;
    PipeWireIOUnit(const PipeWireIOUnit&) = delete;
    PipeWireIOUnit& operator=(const PipeWireIOUnit&) = delete;

    std::int32_t streamFormat(Scope scope, std::uint32_t element, StreamFormat& format) override;
    std::int32_t render(RenderActionFlags& flags, const AudioTimeStamp& time, std::uint32_t bus,
                        std::uint32_t frames, AudioBufferList& buffers) override;

    // How long initialize waits for the server to link the streams and agree on a format.
    static constexpr std::chrono::milliseconds negotiationTimeout{3000};
    // How long initialize waits for the input stream's first graph cycle.
    static constexpr std::chrono::milliseconds firstCycleTimeout{500};

    // Internal to the backend: called from the stream events.
    struct Side;
    void process(Side& side);
    void reportStoppedAbnormally(const Side& side);
    pw_thread_loop* hardwareLoop() const;

private:
    bool bindDevice(ObjectId device) override;
    double deviceRate() const override { return sideRate(Scope::input); }
    std::int32_t initializeBackend() override;
    std::int32_t startBackend() override;
    void stopBackend() override;
    void uninitializeBackend() override;

    void processInput(Side& side);
    void processOutput(Side& side);
    std::int32_t connectSide(Side& side);
    // Thread loop lock held: logs why a step of connecting a side failed, returns failure.
    static std::int32_t refuseSide(const Side& side, const std::string& why, std::int32_t failure);
    void destroySide(std::unique_ptr<Side>& side);
    double sideRate(Scope side) const;

    PipeWireHardware& hardware_;
    StreamFormat defaultOutputClient_;
    std::unique_ptr<Side> input_;
    std::unique_ptr<Side> output_;
};

} // namespace brevalo
