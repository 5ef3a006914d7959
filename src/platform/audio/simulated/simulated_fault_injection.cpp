#include "platform/audio/simulated/simulated_fault_injection.h"

namespace brevalo {

std::int32_t SimFaults::check(const SimCall& call)
{
    calls_[static_cast<std::size_t>(call.operation)].fetch_add(1, std::memory_order_relaxed);
    if (armedRules_.load(std::memory_order_acquire) == 0) {
        return 0;
    }
    std::lock_guard lock(mutex_);
    std::int32_t result = 0;
    for (auto& armed : rules_) {
        if (!simRuleMatches(armed.rule, call)) {
            continue;
        }
        ++armed.seen;
        if (armed.seen <= armed.rule.skip) {
            continue;
        }
        if (armed.rule.times != 0 && armed.failed >= armed.rule.times) {
            continue;
        }
        ++armed.failed;
        if (result == 0) {
            result = armed.rule.status;
        }
    }
    return result;
}

void SimFaults::inject(const FaultRule& rule)
{
    std::lock_guard lock(mutex_);
    rules_.push_back({rule, 0, 0});
    armedRules_.store(rules_.size(), std::memory_order_release);
}

void SimFaults::clear()
{
    std::lock_guard lock(mutex_);
    rules_.clear();
    armedRules_.store(0, std::memory_order_release);
}

std::uint64_t SimFaults::callCount(AudioOperation operation) const
{
    std::uint64_t total = 0;
    for (std::size_t i = 0; i < simOperationCount; ++i) {
        const auto counted = static_cast<AudioOperation>(i);
        if (counted == operation ||
            ((operation == AudioOperation::any || operation == AudioOperation::configure) &&
             simOperationMatches(operation, counted))) {
            total += calls_[i].load(std::memory_order_relaxed);
        }
    }
    return total;
}

const char* audioOperationName(AudioOperation operation)
{
    switch (operation) {
    case AudioOperation::any:
        return "any";
    case AudioOperation::configure:
        return "configure";
    case AudioOperation::findComponent:
        return "findComponent";
    case AudioOperation::createUnit:
        return "createUnit";
    case AudioOperation::setProperty:
        return "setProperty";
    case AudioOperation::getProperty:
        return "getProperty";
    case AudioOperation::setParameter:
        return "setParameter";
    case AudioOperation::getParameter:
        return "getParameter";
    case AudioOperation::initialize:
        return "initialize";
    case AudioOperation::uninitialize:
        return "uninitialize";
    case AudioOperation::start:
        return "start";
    case AudioOperation::stop:
        return "stop";
    case AudioOperation::dispose:
        return "dispose";
    case AudioOperation::render:
        return "render";
    case AudioOperation::readProperty:
        return "readProperty";
    case AudioOperation::hasProperty:
        return "hasProperty";
    case AudioOperation::addListener:
        return "addListener";
    case AudioOperation::removeListener:
        return "removeListener";
    }
    return "unknown";
}

namespace {

template <typename Unit> class FaultInjectingUnit : public Unit
{
public:
    FaultInjectingUnit(std::shared_ptr<SimFaults> faults, std::unique_ptr<Unit> unit,
                       std::uint32_t ordinal, std::uint32_t kindOrdinal)
        : faults_(std::move(faults)), unit_(std::move(unit)), ordinal_(ordinal),
          kindOrdinal_(kindOrdinal)
    {}

    std::int32_t setMaximumFramesPerSlice(std::uint32_t frames) override
    {
        if (auto s = fault(AudioOperation::setProperty, UnitProperty::maximumFramesPerSlice,
                           Scope::global, 0)) {
            return s;
        }
        return unit_->setMaximumFramesPerSlice(frames);
    }
    std::int32_t maximumFramesPerSlice(std::uint32_t& frames) override
    {
        if (auto s = fault(AudioOperation::getProperty, UnitProperty::maximumFramesPerSlice,
                           Scope::global, 0)) {
            return s;
        }
        return unit_->maximumFramesPerSlice(frames);
    }
    std::int32_t setStreamFormat(Scope scope, std::uint32_t element,
                                 const StreamFormat& format) override
    {
        if (auto s =
                fault(AudioOperation::setProperty, UnitProperty::streamFormat, scope, element)) {
            return s;
        }
        return unit_->setStreamFormat(scope, element, format);
    }
    std::int32_t streamFormat(Scope scope, std::uint32_t element, StreamFormat& format) override
    {
        if (auto s =
                fault(AudioOperation::getProperty, UnitProperty::streamFormat, scope, element)) {
            return s;
        }
        return unit_->streamFormat(scope, element, format);
    }
    std::int32_t setRenderCallback(Scope scope, std::uint32_t element,
                                   RenderCallback callback) override
    {
        if (auto s = fault(AudioOperation::setProperty, UnitProperty::setRenderCallback, scope,
                           element)) {
            return s;
        }
        return unit_->setRenderCallback(scope, element, callback);
    }
    std::int32_t initialize() override
    {
        if (auto s = fault(AudioOperation::initialize)) {
            return s;
        }
        return unit_->initialize();
    }
    std::int32_t uninitialize() override
    {
        const auto s = fault(AudioOperation::uninitialize);
        const auto result = unit_->uninitialize();
        return s != 0 ? s : result;
    }
    std::int32_t dispose() override
    {
        const auto s = fault(AudioOperation::dispose);
        const auto result = unit_->dispose();
        return s != 0 ? s : result;
    }
    std::int32_t render(RenderActionFlags& flags, const AudioTimeStamp& time, std::uint32_t bus,
                        std::uint32_t frames, AudioBufferList& buffers) override
    {
        if (auto s = fault(AudioOperation::render, std::nullopt, std::nullopt, bus)) {
            return s;
        }
        return unit_->render(flags, time, bus, frames, buffers);
    }

protected:
    // Realtime-safe while no rule is armed (render passes through here).
    std::int32_t fault(AudioOperation operation, std::optional<UnitProperty> property = {},
                       std::optional<Scope> scope = {}, std::optional<std::uint32_t> element = {})
    {
        SimCall call;
        call.operation = operation;
        call.unitKind = unit_->kind();
        call.unitOrdinal = ordinal_;
        call.kindOrdinal = kindOrdinal_;
        call.unitProperty = property;
        call.scope = scope;
        call.element = element;
        call.object = faultObject();
        return faults_->check(call);
    }
    // The object a rule's object field names for this unit's calls.
    virtual ObjectId faultObject() { return unknownObject; }

    std::shared_ptr<SimFaults> faults_;
    std::unique_ptr<Unit> unit_;

private:
    std::uint32_t ordinal_;
    std::uint32_t kindOrdinal_;
};

class FaultInjectingIOUnit final : public FaultInjectingUnit<IOUnit>
{
public:
    using FaultInjectingUnit::FaultInjectingUnit;

    std::int32_t setEnableIO(Scope scope, std::uint32_t element, bool enable) override
    {
        if (auto s = fault(AudioOperation::setProperty, UnitProperty::enableIO, scope, element)) {
            return s;
        }
        return unit_->setEnableIO(scope, element, enable);
    }
    std::int32_t setCurrentDevice(ObjectId device) override
    {
        if (auto s =
                fault(AudioOperation::setProperty, UnitProperty::currentDevice, Scope::global, 0)) {
            return s;
        }
        return unit_->setCurrentDevice(device);
    }
    std::int32_t currentDevice(ObjectId& device) override
    {
        if (auto s =
                fault(AudioOperation::getProperty, UnitProperty::currentDevice, Scope::global, 0)) {
            return s;
        }
        return unit_->currentDevice(device);
    }
    std::int32_t setChannelMap(Scope scope, std::uint32_t element,
                               std::span<const std::int32_t> map) override
    {
        if (auto s = fault(AudioOperation::setProperty, UnitProperty::channelMap, scope, element)) {
            return s;
        }
        return unit_->setChannelMap(scope, element, map);
    }
    std::int32_t setInputCallback(RenderCallback callback) override
    {
        if (auto s = fault(AudioOperation::setProperty, UnitProperty::setInputCallback,
                           Scope::global, 0)) {
            return s;
        }
        return unit_->setInputCallback(callback);
    }
    std::int32_t start() override
    {
        if (auto s = fault(AudioOperation::start)) {
            return s;
        }
        return unit_->start();
    }
    std::int32_t stop() override
    {
        const auto s = fault(AudioOperation::stop);
        const auto result = unit_->stop();
        return s != 0 ? s : result;
    }

private:
    ObjectId faultObject() override
    {
        ObjectId device = unknownObject;
        unit_->currentDevice(device);
        return device;
    }
};

// The varispeed every backend shares, behind the simulation's fault rules.
class FaultInjectingVarispeedUnit final : public FaultInjectingUnit<VarispeedUnit>
{
public:
    using FaultInjectingUnit::FaultInjectingUnit;

    std::int32_t setRenderQuality(std::uint32_t quality) override
    {
        if (auto s =
                fault(AudioOperation::setProperty, UnitProperty::renderQuality, Scope::global, 0)) {
            return s;
        }
        return unit_->setRenderQuality(quality);
    }
    std::int32_t renderQuality(std::uint32_t& quality) override
    {
        if (auto s =
                fault(AudioOperation::getProperty, UnitProperty::renderQuality, Scope::global, 0)) {
            return s;
        }
        return unit_->renderQuality(quality);
    }
    std::int32_t setPlaybackRate(float rate) override
    {
        if (auto s = fault(AudioOperation::setParameter, std::nullopt, Scope::global, 0)) {
            return s;
        }
        return unit_->setPlaybackRate(rate);
    }
    std::int32_t playbackRate(float& rate) override
    {
        if (auto s = fault(AudioOperation::getParameter, std::nullopt, Scope::global, 0)) {
            return s;
        }
        return unit_->playbackRate(rate);
    }
};

} // namespace

std::unique_ptr<IOUnit> withFaults(std::shared_ptr<SimFaults> faults, std::unique_ptr<IOUnit> unit,
                                   std::uint32_t ordinal, std::uint32_t kindOrdinal)
{
    return std::make_unique<FaultInjectingIOUnit>(std::move(faults), std::move(unit), ordinal,
                                                  kindOrdinal);
}

std::unique_ptr<VarispeedUnit> withFaults(std::shared_ptr<SimFaults> faults,
                                          std::unique_ptr<VarispeedUnit> unit,
                                          std::uint32_t ordinal, std::uint32_t kindOrdinal)
{
    return std::make_unique<FaultInjectingVarispeedUnit>(std::move(faults), std::move(unit),
                                                         ordinal, kindOrdinal);
}

} // namespace brevalo
