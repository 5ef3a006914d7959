#pragma once

// Fault injection of the simulated backend: the rules a test arms, the matching of each call
// against them, and the wrappers that put every unit of the simulation behind those rules.

#include "platform/audio/io_unit.h"
#include "platform/audio/varispeed_unit.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace brevalo {

// The calls failures can be injected into. Unit calls: setProperty is every setter of a unit
// (setEnableIO, setCurrentDevice, setMaximumFramesPerSlice, setChannelMap, setStreamFormat,
// setInputCallback, setRenderCallback, setRenderQuality), getProperty every read of one
// (currentDevice, maximumFramesPerSlice, streamFormat, renderQuality), setParameter and
// getParameter the varispeed's playback rate; configure is any of those four, counted in call
// order. readProperty is every AudioHardware read. A failed stop, uninitialize or dispose
// returns the status but still does its work, so clean-up paths stay safe.
enum class AudioOperation
{
    any,
    configure, // any of setProperty, getProperty, setParameter, getParameter
    findComponent,
    createUnit,
    setProperty,
    getProperty,
    setParameter,
    getParameter,
    initialize,
    uninitialize,
    start,
    stop,
    dispose,
    render,
    readProperty, // hardware reads
    hasProperty,  // a failure makes the property absent
    addListener,
    removeListener,
};

const char* audioOperationName(AudioOperation operation);

// A failure to inject: calls that match every set field are counted; the first skip of them go
// through, the next times of them (0: all later ones) return status.
struct FaultRule
{
    AudioOperation operation = AudioOperation::any;
    std::optional<UnitKind> unitKind{};
    std::uint32_t unitOrdinal = 0; // n-th unit of unitKind (or of any kind) created, from 1
    std::optional<UnitProperty> unitProperty{};
    std::optional<Scope> scope{}; // unit calls and hardware reads
    std::optional<std::uint32_t> element{};
    ObjectId object = unknownObject; // device, stream or system; for an I/O unit its device
    std::optional<HardwareProperty> property{};
    std::uint32_t skip = 0;
    std::uint32_t times = 1;
    std::int32_t status = brevalo::status::paramError;
};

inline constexpr std::size_t simOperationCount =
    static_cast<std::size_t>(AudioOperation::removeListener) + 1;

// What one call of the simulation looks like to the failure rules.
struct SimCall
{
    AudioOperation operation = AudioOperation::any;
    std::optional<UnitKind> unitKind;
    std::uint32_t unitOrdinal = 0; // among all units
    std::uint32_t kindOrdinal = 0; // among units of the same kind
    std::optional<UnitProperty> unitProperty;
    std::optional<Scope> scope;
    std::optional<std::uint32_t> element;
    ObjectId object = unknownObject;
    std::optional<HardwareProperty> property;
};

inline bool simOperationMatches(AudioOperation rule, AudioOperation call)
{
    if (rule == AudioOperation::any || rule == call) {
        return true;
    }
    return rule == AudioOperation::configure &&
           (call == AudioOperation::setProperty || call == AudioOperation::getProperty ||
            call == AudioOperation::setParameter || call == AudioOperation::getParameter);
}

inline bool simRuleMatches(const FaultRule& rule, const SimCall& call)
{
    if (!simOperationMatches(rule.operation, call.operation)) {
        return false;
    }
    if (rule.unitKind && rule.unitKind != call.unitKind) {
        return false;
    }
    if (rule.unitOrdinal != 0) {
        const std::uint32_t ordinal = rule.unitKind ? call.kindOrdinal : call.unitOrdinal;
        if (ordinal != rule.unitOrdinal) {
            return false;
        }
    }
    if (rule.unitProperty && rule.unitProperty != call.unitProperty) {
        return false;
    }
    if (rule.scope && rule.scope != call.scope) {
        return false;
    }
    if (rule.element && rule.element != call.element) {
        return false;
    }
    if (rule.object != unknownObject && rule.object != call.object) {
        return false;
    }
    return !rule.property || rule.property == call.property;
}

// The armed rules and the call counts of one simulation. Any thread.
class SimFaults
{
public:
    // Realtime-safe while no rule is armed: one atomic increment and one atomic load.
    std::int32_t check(const SimCall& call);
    void inject(const FaultRule& rule);
    void clear();
    // Calls of an operation seen so far; any and configure sum the operations they cover.
    std::uint64_t callCount(AudioOperation operation) const;

private:
    struct ArmedRule
    {
        FaultRule rule;
        std::uint32_t seen = 0;
        std::uint32_t failed = 0;
    };
    std::mutex mutex_;
    std::vector<ArmedRule> rules_;
    std::atomic<std::size_t> armedRules_{0};
    std::array<std::atomic<std::uint64_t>, simOperationCount> calls_{};
};

// Puts a unit behind the rules: each call is matched first, and a matching rule's status is
// returned without reaching the unit. A failed stop, uninitialize or dispose still does its
// work, so that clean-up stays safe. ordinal counts all units created, kindOrdinal those of
// the unit's kind.
std::unique_ptr<IOUnit> withFaults(std::shared_ptr<SimFaults> faults, std::unique_ptr<IOUnit> unit,
                                   std::uint32_t ordinal, std::uint32_t kindOrdinal);
std::unique_ptr<VarispeedUnit> withFaults(std::shared_ptr<SimFaults> faults,
                                          std::unique_ptr<VarispeedUnit> unit,
                                          std::uint32_t ordinal, std::uint32_t kindOrdinal);

} // namespace brevalo
