#pragma once

// A float input unit on the device as monitoring opens it, counting the frames it renders.

#include "platform/audio/audio_system.h"

#include <atomic>
#include <memory>
#include <vector>

namespace brevalo::test {

struct MonitorProbe
{
    std::unique_ptr<IOUnit> unit;
    std::vector<float> left = std::vector<float>(65536), right = std::vector<float>(65536);
    std::atomic<std::uint64_t> frames{0};

    std::int32_t open(AudioSystem& audio, ObjectId device, double rate)
    {
        std::int32_t s = audio.createIOUnit(unit);
        s = s != 0 ? s : unit->setEnableIO(Scope::input, inputElement, true);
        s = s != 0 ? s : unit->setEnableIO(Scope::output, outputElement, false);
        s = s != 0 ? s : unit->setCurrentDevice(device);
        const auto format = StreamFormat::float32Planar(rate, 2);
        s = s != 0 ? s : unit->setStreamFormat(Scope::output, inputElement, format);
        s = s != 0 ? s : unit->setMaximumFramesPerSlice(8192);
        s = s != 0 ? s : unit->setInputCallback({input, this});
        s = s != 0 ? s : unit->initialize();
        return s != 0 ? s : unit->start();
    }

    static std::int32_t input(void* refCon, RenderActionFlags& flags, const AudioTimeStamp& time,
                              std::uint32_t, std::uint32_t n, AudioBufferList*)
    {
        auto& self = *static_cast<MonitorProbe*>(refCon);
        AudioBufferList list;
        list.numberBuffers = 2;
        list.buffers[0] = {1, n * 4, self.left.data()};
        list.buffers[1] = {1, n * 4, self.right.data()};
        const auto s = self.unit->render(flags, time, inputElement, n, list);
        self.frames.fetch_add(s == 0 ? n : 0);
        return s;
    }
};

} // namespace brevalo::test
