#include "platform/audio/pipewire/pipewire_hardware.h"

#include "platform/audio/audio_log.h"
#include "platform/audio/pipewire/pipewire_support.h"

#include <spa/utils/result.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <ctime>

namespace brevalo {

namespace {

enum class DeviceSides
{
    none,
    input,
    output,
    both
};

DeviceSides sidesOfClass(const char* mediaClass)
{
    if (mediaClass == nullptr) {
        return DeviceSides::none;
    }
    const std::string c = mediaClass;
    if (c == "Audio/Source" || c == "Audio/Source/Virtual") {
        return DeviceSides::input;
    }
    if (c == "Audio/Sink") {
        return DeviceSides::output;
    }
    if (c == "Audio/Duplex") {
        return DeviceSides::both;
    }
    return DeviceSides::none;
}

// What a device shows through the hardware model; compared before and after every event so
// that exactly the changed properties are reported.
struct DeviceView
{
    std::string name;
    std::uint32_t channels = 0;
    std::vector<std::uint32_t> positions;
    double rate = 0.0;
    double graphRate = 0.0;
    PipeWireSampleFormat format;
    std::uint32_t quantum = 0;
    std::uint32_t maxQuantum = 0;
    bool alive = false;
};

} // namespace

struct PipeWireNode
{
    PipeWireHardware::Model* model = nullptr;
    std::uint32_t globalID = 0;
    std::uint64_t serial = 0;
    ObjectId device = unknownObject;
    ObjectId inputStream = unknownObject;  // unknownObject: no input side
    ObjectId outputStream = unknownObject; // unknownObject: no output side
    std::string nodeName;
    std::string description;

    pw_proxy* proxy = nullptr;
    spa_hook nodeListener{};

    // From the node's properties.
    std::uint32_t propChannels = 0;
    std::vector<std::uint32_t> propPositions;
    double propRate = 0.0;
    std::string audioFormat;
    std::uint32_t resolutionBits = 0; // an ALSA device's sample resolution, 0 when not given
    // From its EnumFormat parameter.
    std::uint32_t formatChannels = 0;
    std::vector<std::uint32_t> formatPositions;
    double formatRate = 0.0;
    bool inError = false;

    DeviceView published;
};

struct PipeWireMetadata
{
    PipeWireHardware::Model* model = nullptr;
    std::uint32_t globalID = 0;
    std::string name;
    pw_proxy* proxy = nullptr;
    spa_hook metadataListener{};
};

struct PipeWireHardware::Model
{
    PipeWireHardware* owner = nullptr;
    pw_registry* registry = nullptr;
    spa_hook registryListener{};
    spa_hook coreListener{};
    std::map<std::uint32_t, std::unique_ptr<PipeWireNode>> nodes; // by global id
    std::map<std::uint32_t, std::unique_ptr<PipeWireMetadata>> metadata;
    // Our ids are never reused: a stale id held by a caller can only ever be "gone".
    ObjectId nextID = 0x100;

    std::string defaultSinkName;
    ObjectId publishedDefault = unknownObject;

    // Graph clock, from the "settings" metadata.
    double clockRate = 48000.0;
    double forceRate = 0.0;
    std::vector<double> allowedRates;
    std::uint32_t quantum = 1024;
    std::uint32_t forceQuantum = 0;
    std::uint32_t maxQuantum = 2048;

    int lastDoneSeq = -1;
    bool connected = false;
    // Counts connections, so that a round trip started on one never waits on the next.
    std::uint64_t generation = 0;
    // Attempts in a row that did not end in a connection the server answered.
    unsigned failedAttempts = 0;
    int confirmSeq = -1; // the sync whose answer confirms the current connection

    ObjectId allocateID() { return nextID++; }

    PipeWireNode* byDevice(ObjectId device)
    {
        for (auto& [id, node] : nodes) {
            if (node->device == device) {
                return node.get();
            }
        }
        return nullptr;
    }

    PipeWireNode* byStream(ObjectId stream, Scope& scope)
    {
        for (auto& [id, node] : nodes) {
            if (node->inputStream == stream) {
                scope = Scope::input;
                return node.get();
            }
            if (node->outputStream == stream) {
                scope = Scope::output;
                return node.get();
            }
        }
        return nullptr;
    }

    // The rate streams of a device run at. A stream asks for the device's rate; the server
    // switches the graph to the allowed rate closest to it (the rate itself when allowed),
    // keeping its clock rate on a tie, unless a rate is forced.
    double graphRateFor(double rate) const
    {
        if (forceRate > 0.0) {
            return forceRate;
        }
        double best = clockRate;
        for (const double allowed : allowedRates) {
            if (std::abs(rate - best) > std::abs(rate - allowed)) {
                best = allowed;
            }
        }
        return allowedRates.empty() ? clockRate : best;
    }

    DeviceView viewOf(const PipeWireNode& node) const
    {
        DeviceView v;
        v.name = node.description.empty() ? node.nodeName : node.description;
        v.channels = node.formatChannels != 0 ? node.formatChannels : node.propChannels;
        if (node.formatPositions.size() == v.channels && v.channels != 0) {
            v.positions = node.formatPositions;
        } else if (node.propPositions.size() == v.channels && v.channels != 0) {
            v.positions = node.propPositions;
        } else {
            v.positions = auxPositions(v.channels);
        }
        v.rate = node.formatRate > 0.0 ? node.formatRate
                                       : (node.propRate > 0.0 ? node.propRate : clockRate);
        v.graphRate = graphRateFor(v.rate);
        v.format = hardwareFormat(node.audioFormat, node.resolutionBits);
        v.quantum = forceQuantum != 0 ? forceQuantum : quantum;
        v.maxQuantum = std::max(v.quantum, maxQuantum);
        v.alive = connected && !node.inError;
        return v;
    }

    void publish(PipeWireNode& node);
    void publishAll()
    {
        for (auto& [id, node] : nodes) {
            publish(*node);
        }
    }
    void publishDefault();
    void removeNode(std::uint32_t globalID);
    void removeMetadata(std::uint32_t globalID);

    // Connection life cycle (thread loop, lock held).
    bool openConnection();
    void connectionLost();
    void dropConnection();
    void attemptReconnect();
    void scheduleReconnect(std::chrono::milliseconds delay);
};

namespace {

void notifyDevice(PipeWireHardware& owner, const PipeWireNode& node, HardwareProperty selector,
                  Scope scope = Scope::global)
{
    owner.notify(node.device, PropertyAddress{selector, scope, 0});
}

void notifyStreams(PipeWireHardware& owner, const PipeWireNode& node)
{
    for (const auto stream : {node.inputStream, node.outputStream}) {
        if (stream != unknownObject) {
            owner.notify(stream,
                         PropertyAddress{HardwareProperty::physicalFormat, Scope::global, 0});
        }
    }
}

} // namespace

void PipeWireHardware::Model::publish(PipeWireNode& node)
{
    const DeviceView now = viewOf(node);
    const DeviceView before = node.published;
    node.published = now;
    auto& o = *owner;
    if (now.channels != before.channels || now.positions != before.positions) {
        if (node.inputStream != unknownObject) {
            notifyDevice(o, node, HardwareProperty::streamConfiguration, Scope::input);
        }
        if (node.outputStream != unknownObject) {
            notifyDevice(o, node, HardwareProperty::streamConfiguration, Scope::output);
        }
    }
    if (now.name != before.name || now.positions != before.positions) {
        notifyDevice(o, node, HardwareProperty::deviceHasChanged);
    }
    if (now.rate != before.rate) {
        notifyDevice(o, node, HardwareProperty::nominalSampleRate);
    }
    if (now.rate != before.rate || now.graphRate != before.graphRate ||
        now.format.bits != before.format.bits || now.format.isFloat != before.format.isFloat ||
        now.channels != before.channels) {
        notifyStreams(o, node);
    }
    if (now.quantum != before.quantum) {
        notifyDevice(o, node, HardwareProperty::bufferFrameSize);
    }
    if (now.maxQuantum != before.maxQuantum) {
        notifyDevice(o, node, HardwareProperty::usesVariableBufferFrameSizes);
    }
    if (now.alive != before.alive) {
        notifyDevice(o, node, HardwareProperty::deviceIsAlive);
    }
}

void PipeWireHardware::Model::publishDefault()
{
    ObjectId current = unknownObject;
    for (auto& [id, node] : nodes) {
        if (node->outputStream != unknownObject && node->nodeName == defaultSinkName) {
            current = node->device;
            break;
        }
    }
    if (current != publishedDefault) {
        publishedDefault = current;
        owner->notify(systemObject,
                      PropertyAddress{HardwareProperty::defaultOutputDevice, Scope::global, 0});
    }
}

void PipeWireHardware::Model::removeNode(std::uint32_t globalID)
{
    const auto it = nodes.find(globalID);
    if (it == nodes.end()) {
        return;
    }
    auto node = std::move(it->second);
    nodes.erase(it);
    spa_hook_remove(&node->nodeListener);
    pw_proxy_destroy(node->proxy);
    // A listener watching the device learns that it is gone before the list changes.
    notifyDevice(*owner, *node, HardwareProperty::deviceIsAlive);
    owner->notify(systemObject, PropertyAddress{HardwareProperty::devices, Scope::global, 0});
    publishDefault();
}

void PipeWireHardware::Model::removeMetadata(std::uint32_t globalID)
{
    const auto it = metadata.find(globalID);
    if (it == metadata.end()) {
        return;
    }
    auto meta = std::move(it->second);
    metadata.erase(it);
    spa_hook_remove(&meta->metadataListener);
    pw_proxy_destroy(meta->proxy);
    if (meta->name == "default") {
        defaultSinkName.clear();
        publishDefault();
    }
}

// ----- PipeWire events (thread loop, lock held) -------------------------------------------------

namespace {

void onNodeInfo(void* data, const pw_node_info* info)
{
    auto& node = *static_cast<PipeWireNode*>(data);
    if ((info->change_mask & PW_NODE_CHANGE_MASK_PROPS) != 0 && info->props != nullptr) {
        if (const char* v = spa_dict_lookup(info->props, PW_KEY_NODE_DESCRIPTION)) {
            node.description = v;
        }
        node.propChannels = static_cast<std::uint32_t>(std::max(
            0L, std::strtol(dictValue(info->props, PW_KEY_AUDIO_CHANNELS, "0"), nullptr, 10)));
        node.propPositions = parsePositionList(dictValue(info->props, SPA_KEY_AUDIO_POSITION, ""));
        if (node.propChannels == 0) {
            node.propChannels = static_cast<std::uint32_t>(node.propPositions.size());
        }
        node.propRate = std::strtod(dictValue(info->props, PW_KEY_AUDIO_RATE, "0"), nullptr);
        node.audioFormat = dictValue(info->props, PW_KEY_AUDIO_FORMAT, "");
        node.resolutionBits = static_cast<std::uint32_t>(std::max(
            0L, std::strtol(dictValue(info->props, "alsa.resolution_bits", "0"), nullptr, 10)));
    }
    if ((info->change_mask & PW_NODE_CHANGE_MASK_STATE) != 0) {
        node.inError = info->state == PW_NODE_STATE_ERROR;
    }
    node.model->publish(node);
}

void onNodeParam(void* data, int /*seq*/, std::uint32_t id, std::uint32_t /*index*/,
                 std::uint32_t /*next*/, const spa_pod* param)
{
    auto& node = *static_cast<PipeWireNode*>(data);
    if (id != SPA_PARAM_EnumFormat || param == nullptr) {
        return;
    }
    PipeWireFormatInfo info;
    if (!parseRawFormat(param, info)) {
        return;
    }
    node.formatChannels = info.channels;
    node.formatPositions = info.positions;
    node.formatRate = info.rate;
    node.model->publish(node);
}

const pw_node_events nodeEvents = [] {
    pw_node_events e{};
    e.version = PW_VERSION_NODE_EVENTS;
    e.info = onNodeInfo;
    e.param = onNodeParam;
    return e;
}();

int onMetadataProperty(void* data, std::uint32_t subject, const char* key, const char* /*type*/,
                       const char* value)
{
    auto& meta = *static_cast<PipeWireMetadata*>(data);
    auto& model = *meta.model;
    if (subject != PW_ID_CORE) {
        return 0;
    }
    if (meta.name == "default") {
        if (key == nullptr || std::strcmp(key, "default.audio.sink") == 0) {
            model.defaultSinkName = value != nullptr ? jsonNameField(value) : std::string();
            model.publishDefault();
        }
        return 0;
    }
    // "settings": the graph clock.
    const auto number = [&](double fallback) {
        return value != nullptr ? std::strtod(value, nullptr) : fallback;
    };
    if (key == nullptr) {
        return 0;
    }
    const std::string k = key;
    if (k == "clock.rate") {
        model.clockRate = number(48000.0);
    } else if (k == "clock.force-rate") {
        model.forceRate = number(0.0);
    } else if (k == "clock.allowed-rates") {
        model.allowedRates = value != nullptr ? parseNumberList(value) : std::vector<double>{};
    } else if (k == "clock.quantum") {
        model.quantum = static_cast<std::uint32_t>(number(1024.0));
    } else if (k == "clock.force-quantum") {
        model.forceQuantum = static_cast<std::uint32_t>(number(0.0));
    } else if (k == "clock.max-quantum") {
        model.maxQuantum = static_cast<std::uint32_t>(number(2048.0));
    } else {
        return 0;
    }
    model.publishAll();
    return 0;
}

const pw_metadata_events metadataEvents = [] {
    pw_metadata_events e{};
    e.version = PW_VERSION_METADATA_EVENTS;
    e.property = onMetadataProperty;
    return e;
}();

void onRegistryGlobal(void* data, std::uint32_t id, std::uint32_t /*permissions*/, const char* type,
                      std::uint32_t /*version*/, const spa_dict* props)
{
    auto& model = *static_cast<PipeWireHardware::Model*>(data);
    if (props == nullptr) {
        return;
    }
    if (std::strcmp(type, PW_TYPE_INTERFACE_Node) == 0) {
        const auto sides = sidesOfClass(spa_dict_lookup(props, PW_KEY_MEDIA_CLASS));
        if (sides == DeviceSides::none) {
            return;
        }
        auto node = std::make_unique<PipeWireNode>();
        node->model = &model;
        node->globalID = id;
        node->serial = std::strtoull(dictValue(props, PW_KEY_OBJECT_SERIAL, "0"), nullptr, 10);
        node->nodeName = dictValue(props, PW_KEY_NODE_NAME, "");
        node->description = dictValue(props, PW_KEY_NODE_DESCRIPTION, "");
        node->device = model.allocateID();
        if (sides == DeviceSides::input || sides == DeviceSides::both) {
            node->inputStream = model.allocateID();
        }
        if (sides == DeviceSides::output || sides == DeviceSides::both) {
            node->outputStream = model.allocateID();
        }
        node->proxy = static_cast<pw_proxy*>(
            pw_registry_bind(model.registry, id, PW_TYPE_INTERFACE_Node, PW_VERSION_NODE, 0));
        if (node->proxy == nullptr) {
            return;
        }
        pw_proxy_add_object_listener(node->proxy, &node->nodeListener, &nodeEvents, node.get());
        std::uint32_t ids[] = {SPA_PARAM_EnumFormat};
        pw_node_subscribe_params(reinterpret_cast<pw_node*>(node->proxy), ids, 1);
        node->published = model.viewOf(*node);
        model.removeNode(id); // an id the server reused before we saw its removal
        model.nodes[id] = std::move(node);
        model.owner->notify(systemObject,
                            PropertyAddress{HardwareProperty::devices, Scope::global, 0});
        model.publishDefault();
        return;
    }
    if (std::strcmp(type, PW_TYPE_INTERFACE_Metadata) == 0) {
        const std::string name = dictValue(props, PW_KEY_METADATA_NAME, "");
        if (name != "default" && name != "settings") {
            return;
        }
        auto meta = std::make_unique<PipeWireMetadata>();
        meta->model = &model;
        meta->globalID = id;
        meta->name = name;
        meta->proxy = static_cast<pw_proxy*>(pw_registry_bind(
            model.registry, id, PW_TYPE_INTERFACE_Metadata, PW_VERSION_METADATA, 0));
        if (meta->proxy == nullptr) {
            return;
        }
        pw_proxy_add_object_listener(meta->proxy, &meta->metadataListener, &metadataEvents,
                                     meta.get());
        model.removeMetadata(id);
        model.metadata[id] = std::move(meta);
    }
}

void onRegistryGlobalRemove(void* data, std::uint32_t id)
{
    auto& model = *static_cast<PipeWireHardware::Model*>(data);
    model.removeNode(id);
    model.removeMetadata(id);
}

const pw_registry_events registryEvents = [] {
    pw_registry_events e{};
    e.version = PW_VERSION_REGISTRY_EVENTS;
    e.global = onRegistryGlobal;
    e.global_remove = onRegistryGlobalRemove;
    return e;
}();

void onCoreDone(void* data, std::uint32_t id, int seq)
{
    auto& model = *static_cast<PipeWireHardware::Model*>(data);
    if (id == PW_ID_CORE) {
        model.lastDoneSeq = seq;
        if (seq == model.confirmSeq) {
            model.failedAttempts = 0;
        }
        pw_thread_loop_signal(model.owner->threadLoop(), false);
    }
}

void onCoreError(void* data, std::uint32_t id, int /*seq*/, int res, const char* message)
{
    auto& model = *static_cast<PipeWireHardware::Model*>(data);
    qCWarning(audioLog).nospace() << "PipeWire error on object " << id << ": "
                                  << (message != nullptr ? message : spa_strerror(res));
    if (id == PW_ID_CORE && res == -EPIPE) {
        model.connectionLost();
    }
}

const pw_core_events coreEvents = [] {
    pw_core_events e{};
    e.version = PW_VERSION_CORE_EVENTS;
    e.done = onCoreDone;
    e.error = onCoreError;
    return e;
}();

void onReconnectTimer(void* data, std::uint64_t /*expirations*/)
{
    static_cast<PipeWireHardware::Model*>(data)->attemptReconnect();
}

} // namespace

// ----- connection -------------------------------------------------------------------------------

bool PipeWireHardware::Model::openConnection()
{
    auto& o = *owner;
    o.core_ = pw_context_connect(o.context_,
                                 pw_properties_new(PW_KEY_APP_NAME, "Brevalo Capture", nullptr), 0);
    if (o.core_ == nullptr) {
        return false; // no server listens (yet); errno says why
    }
    pw_core_add_listener(o.core_, &coreListener, &coreEvents, this);
    registry = pw_core_get_registry(o.core_, PW_VERSION_REGISTRY, 0);
    pw_registry_add_listener(registry, &registryListener, &registryEvents, this);
    lastDoneSeq = -1;
    connected = true;
    ++generation;
    confirmSeq = pw_core_sync(o.core_, PW_ID_CORE, 0);
    return true;
}

void PipeWireHardware::Model::connectionLost()
{
    if (!connected) {
        return;
    }
    // Every device stops being alive at once; the cleanup and the first attempt follow on the
    // timer, outside this core's own event.
    connected = false;
    ++generation;
    publishAll();
    pw_thread_loop_signal(owner->threadLoop_, false);
    if (confirmSeq > lastDoneSeq) {
        ++failedAttempts; // the server hung up before it answered once
    }
    scheduleReconnect(pipeWireReconnectDelay(failedAttempts));
}

void PipeWireHardware::Model::dropConnection()
{
    auto& o = *owner;
    // Reported like devices unplugged one by one, so the catalog and the controllers need no
    // path of their own for a lost server.
    while (!nodes.empty()) {
        removeNode(nodes.begin()->first);
    }
    while (!metadata.empty()) {
        removeMetadata(metadata.begin()->first);
    }
    if (registry != nullptr) {
        spa_hook_remove(&registryListener);
        pw_proxy_destroy(reinterpret_cast<pw_proxy*>(registry));
        registry = nullptr;
    }
    if (o.core_ != nullptr) {
        spa_hook_remove(&coreListener);
        o.lostCores_.push_back(o.core_);
        o.core_ = nullptr;
    }
}

void PipeWireHardware::Model::attemptReconnect()
{
    if (connected) {
        return;
    }
    dropConnection();
    if (!openConnection()) {
        ++failedAttempts;
        scheduleReconnect(pipeWireReconnectDelay(failedAttempts));
    }
}

void PipeWireHardware::Model::scheduleReconnect(std::chrono::milliseconds delay)
{
    auto& o = *owner;
    if (o.reconnectTimer_ == nullptr) {
        return;
    }
    // A zero value would disarm the timer; "at once" is the next loop iteration.
    timespec value{};
    value.tv_sec = static_cast<std::time_t>(delay.count() / 1000);
    value.tv_nsec = std::max<long>(1, static_cast<long>(delay.count() % 1000) * 1000000L);
    timespec interval{};
    pw_loop_update_timer(pw_thread_loop_get_loop(o.threadLoop_), o.reconnectTimer_, &value,
                         &interval, false);
}

// ----- life cycle -------------------------------------------------------------------------------

PipeWireHardware::PipeWireHardware() : model_(std::make_unique<Model>())
{
    model_->owner = this;
}

PipeWireHardware::~PipeWireHardware()
{
    if (threadLoop_ != nullptr) {
        // Joins the loop thread; a reconnect attempt in progress only connects a socket.
        pw_thread_loop_stop(threadLoop_);
        if (reconnectTimer_ != nullptr) {
            pw_loop_destroy_source(pw_thread_loop_get_loop(threadLoop_), reconnectTimer_);
        }
    }
    // No event arrives any more; listener calls already posted run now, while their reads can
    // still take the (stopped) loop's lock and answer from the cache.
    if (notifier_) {
        notifier_->shutdown();
    }
    if (model_) {
        for (auto& [id, node] : model_->nodes) {
            spa_hook_remove(&node->nodeListener);
            pw_proxy_destroy(node->proxy);
        }
        model_->nodes.clear();
        for (auto& [id, meta] : model_->metadata) {
            spa_hook_remove(&meta->metadataListener);
            pw_proxy_destroy(meta->proxy);
        }
        model_->metadata.clear();
        if (model_->registry != nullptr) {
            spa_hook_remove(&model_->registryListener);
            pw_proxy_destroy(reinterpret_cast<pw_proxy*>(model_->registry));
        }
    }
    if (core_ != nullptr) {
        spa_hook_remove(&model_->coreListener);
        pw_core_disconnect(core_);
    }
    for (pw_core* lost : lostCores_) {
        pw_core_disconnect(lost);
    }
    if (context_ != nullptr) {
        pw_context_destroy(context_);
    }
    if (threadLoop_ != nullptr) {
        pw_thread_loop_destroy(threadLoop_);
    }
}

std::unique_ptr<PipeWireHardware> PipeWireHardware::connect(std::chrono::milliseconds timeout,
                                                            std::string* failure)
{
    const auto fail = [failure](std::string why) -> std::unique_ptr<PipeWireHardware> {
        if (failure != nullptr) {
            *failure = std::move(why);
        }
        return nullptr;
    };
    ensurePipeWireInitialized();
    std::unique_ptr<PipeWireHardware> hw(new PipeWireHardware());
    hw->notifier_ = std::make_unique<SerialNotifier>();
    hw->threadLoop_ = pw_thread_loop_new("brevalo-pipewire", nullptr);
    if (hw->threadLoop_ == nullptr) {
        return fail(std::string("no PipeWire thread loop: ") + std::strerror(errno));
    }
    hw->context_ = pw_context_new(pw_thread_loop_get_loop(hw->threadLoop_), nullptr, 0);
    if (hw->context_ == nullptr) {
        return fail(std::string("no PipeWire context: ") + std::strerror(errno));
    }
    if (const int res = pw_thread_loop_start(hw->threadLoop_); res < 0) {
        return fail(std::string("the PipeWire thread loop did not start: ") + spa_strerror(res));
    }
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    {
        ThreadLoopLock lock(hw->threadLoop_);
        if (!hw->model_->openConnection()) {
            return fail(std::string("cannot connect to the PipeWire server: ") +
                        std::strerror(errno));
        }
        hw->reconnectTimer_ = pw_loop_add_timer(pw_thread_loop_get_loop(hw->threadLoop_),
                                                onReconnectTimer, hw->model_.get());
    }
    // Three round trips: the globals, then the bound nodes' info and metadata, then the
    // parameters the info announced.
    for (int i = 0; i < 3; ++i) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !hw->roundTrip(left)) {
            return fail("the PipeWire server did not answer within " +
                        std::to_string(timeout.count()) + " ms");
        }
    }
    // Nothing is reported for the picture every caller reads first.
    hw->notifier_->drain();
    return hw;
}

bool PipeWireHardware::roundTrip(std::chrono::milliseconds timeout)
{
    ThreadLoopLock lock(threadLoop_);
    if (!model_->connected) {
        return false;
    }
    const auto generation = model_->generation;
    const int seq = pw_core_sync(core_, PW_ID_CORE, 0);
    if (seq < 0) {
        return false;
    }
    timespec abstime{};
    pw_thread_loop_get_time(threadLoop_, &abstime,
                            static_cast<std::int64_t>(timeout.count()) * SPA_NSEC_PER_MSEC);
    while (model_->generation == generation && model_->lastDoneSeq < seq) {
        if (pw_thread_loop_timed_wait_full(threadLoop_, &abstime) != 0) {
            return false;
        }
    }
    return model_->generation == generation;
}

// ----- notifications ----------------------------------------------------------------------------

void PipeWireHardware::notify(ObjectId object, const PropertyAddress& address)
{
    if (notifier_) {
        notifier_->post([this, object, address] { deliver(object, address); });
    }
}

void PipeWireHardware::deliver(ObjectId object, const PropertyAddress& address)
{
    listeners_.deliver(listeners_.matching(object, address), object, address);
}

std::int32_t PipeWireHardware::addPropertyListener(ObjectId object, const PropertyAddress& address,
                                                   PropertyListener listener,
                                                   ListenerRegistration& registration)
{
    if (!listener) {
        return status::paramError;
    }
    if (object != systemObject) {
        ThreadLoopLock lock(threadLoop_);
        Scope scope = Scope::global;
        if (model_->byDevice(object) == nullptr && model_->byStream(object, scope) == nullptr) {
            return status::badObject;
        }
    }
    registration = listeners_.add(object, address, std::move(listener));
    return 0;
}

std::int32_t PipeWireHardware::removePropertyListener(const ListenerRegistration& registration)
{
    const bool wait = notifier_ && !notifier_->onNotifierThread();
    return listeners_.remove(registration, wait) ? 0 : status::paramError;
}

// ----- reads ------------------------------------------------------------------------------------

bool PipeWireHardware::hasProperty(ObjectId object, const PropertyAddress& address)
{
    if (object == systemObject) {
        return address.selector == HardwareProperty::devices ||
               address.selector == HardwareProperty::defaultOutputDevice ||
               address.selector == HardwareProperty::translateUIDToDevice;
    }
    ThreadLoopLock lock(threadLoop_);
    Scope streamScope = Scope::global;
    if (model_->byStream(object, streamScope) != nullptr) {
        return address.selector == HardwareProperty::startingChannel ||
               address.selector == HardwareProperty::physicalFormat;
    }
    const auto* node = model_->byDevice(object);
    if (node == nullptr) {
        return false;
    }
    const auto& v = node->published;
    const bool sideExists = address.scope == Scope::input    ? node->inputStream != unknownObject
                            : address.scope == Scope::output ? node->outputStream != unknownObject
                                                             : true;
    switch (address.selector) {
    case HardwareProperty::elementName:
        return sideExists && address.scope != Scope::global && address.element >= 1 &&
               address.element <= v.channels;
    case HardwareProperty::preferredChannelsForStereo:
        return sideExists && address.scope != Scope::global && v.channels >= 2;
    case HardwareProperty::devices:
    case HardwareProperty::defaultOutputDevice:
    case HardwareProperty::translateUIDToDevice:
    case HardwareProperty::startingChannel:
    case HardwareProperty::physicalFormat:
        return false;
    default:
        return true;
    }
}

std::int32_t PipeWireHardware::devices(std::vector<ObjectId>& deviceIDs)
{
    ThreadLoopLock lock(threadLoop_);
    deviceIDs.clear();
    for (const auto& [id, node] : model_->nodes) {
        deviceIDs.push_back(node->device);
    }
    // In the order the devices appeared, which is stable across unrelated changes.
    std::sort(deviceIDs.begin(), deviceIDs.end());
    return 0;
}

std::int32_t PipeWireHardware::defaultOutputDevice(ObjectId& device)
{
    ThreadLoopLock lock(threadLoop_);
    device = model_->publishedDefault;
    return 0;
}

std::int32_t PipeWireHardware::deviceForUID(const std::string& uid, ObjectId& device)
{
    ThreadLoopLock lock(threadLoop_);
    device = unknownObject;
    for (const auto& [id, node] : model_->nodes) {
        if (node->nodeName == uid && (device == unknownObject || node->device < device)) {
            device = node->device;
        }
    }
    return 0;
}

#define BREVALO_PW_DEVICE_READ                                                                     \
    ThreadLoopLock lock(threadLoop_);                                                              \
    const auto* node = model_->byDevice(device);                                                   \
    if (node == nullptr) {                                                                         \
        return status::badObject;                                                                  \
    }                                                                                              \
    const auto& v = node->published

std::int32_t PipeWireHardware::deviceUID(ObjectId device, std::string& uid)
{
    BREVALO_PW_DEVICE_READ;
    (void)v;
    uid = node->nodeName;
    return 0;
}

std::int32_t PipeWireHardware::name(ObjectId device, std::string& deviceName)
{
    BREVALO_PW_DEVICE_READ;
    deviceName = v.name;
    return 0;
}

std::int32_t PipeWireHardware::streamConfiguration(ObjectId device, Scope scope,
                                                   std::vector<std::uint32_t>& channelsPerBuffer)
{
    BREVALO_PW_DEVICE_READ;
    if (scope == Scope::global) {
        return status::unknownProperty;
    }
    channelsPerBuffer.clear();
    const ObjectId stream = scope == Scope::input ? node->inputStream : node->outputStream;
    if (stream != unknownObject && v.channels != 0) {
        channelsPerBuffer.push_back(v.channels);
    }
    return 0;
}

std::int32_t PipeWireHardware::elementName(ObjectId device, Scope scope, std::uint32_t channel,
                                           std::string& elementText)
{
    BREVALO_PW_DEVICE_READ;
    const ObjectId stream = scope == Scope::input    ? node->inputStream
                            : scope == Scope::output ? node->outputStream
                                                     : unknownObject;
    if (stream == unknownObject || channel < 1 || channel > v.channels) {
        return status::unknownProperty;
    }
    elementText = positionName(v.positions[channel - 1], channel - 1);
    return 0;
}

std::int32_t PipeWireHardware::preferredChannelsForStereo(ObjectId device, Scope scope,
                                                          std::array<std::uint32_t, 2>& channels)
{
    BREVALO_PW_DEVICE_READ;
    const ObjectId stream = scope == Scope::input    ? node->inputStream
                            : scope == Scope::output ? node->outputStream
                                                     : unknownObject;
    if (stream == unknownObject || v.channels < 2) {
        return status::unknownProperty;
    }
    const auto left = std::find(v.positions.begin(), v.positions.end(), SPA_AUDIO_CHANNEL_FL);
    const auto right = std::find(v.positions.begin(), v.positions.end(), SPA_AUDIO_CHANNEL_FR);
    if (left != v.positions.end() && right != v.positions.end()) {
        channels = {static_cast<std::uint32_t>(left - v.positions.begin()) + 1,
                    static_cast<std::uint32_t>(right - v.positions.begin()) + 1};
    } else {
        channels = {1, 2};
    }
    return 0;
}

std::int32_t PipeWireHardware::nominalSampleRate(ObjectId device, double& rate)
{
    BREVALO_PW_DEVICE_READ;
    rate = v.rate;
    return 0;
}

std::int32_t PipeWireHardware::streams(ObjectId device, Scope scope,
                                       std::vector<ObjectId>& streamIDs)
{
    BREVALO_PW_DEVICE_READ;
    (void)v;
    streamIDs.clear();
    if ((scope == Scope::input || scope == Scope::global) && node->inputStream != unknownObject) {
        streamIDs.push_back(node->inputStream);
    }
    if ((scope == Scope::output || scope == Scope::global) && node->outputStream != unknownObject) {
        streamIDs.push_back(node->outputStream);
    }
    return 0;
}

std::int32_t PipeWireHardware::bufferFrameSize(ObjectId device, std::uint32_t& frames)
{
    BREVALO_PW_DEVICE_READ;
    frames = v.quantum;
    return 0;
}

std::int32_t PipeWireHardware::usesVariableBufferFrameSizes(ObjectId device, std::uint32_t& frames)
{
    // The graph's quantum changes with the clients' latency requests, up to max-quantum.
    BREVALO_PW_DEVICE_READ;
    frames = v.maxQuantum;
    return 0;
}

std::int32_t PipeWireHardware::isAlive(ObjectId device, std::uint32_t& alive)
{
    BREVALO_PW_DEVICE_READ;
    alive = v.alive ? 1 : 0;
    return 0;
}

#undef BREVALO_PW_DEVICE_READ

std::int32_t PipeWireHardware::startingChannel(ObjectId stream, std::uint32_t& channel)
{
    ThreadLoopLock lock(threadLoop_);
    Scope scope = Scope::global;
    if (model_->byStream(stream, scope) == nullptr) {
        return status::badObject;
    }
    channel = 1; // one stream per side carries every channel of the node
    return 0;
}

std::int32_t PipeWireHardware::physicalFormat(ObjectId stream, StreamFormat& format)
{
    ThreadLoopLock lock(threadLoop_);
    Scope scope = Scope::global;
    const auto* node = model_->byStream(stream, scope);
    if (node == nullptr) {
        return status::badObject;
    }
    const auto& v = node->published;
    // The node's own rate, which is what the hardware runs at: an integer capture stream forces
    // the graph to it while it runs (node.force-rate), and the I/O unit refuses the take when the
    // graph does not follow, so this rate is the one a bit-exact take gets or none.
    format = v.format.isFloat ? StreamFormat::physicalFloat(v.rate, v.channels)
                              : StreamFormat::physicalInteger(v.rate, v.channels, v.format.bits);
    if (v.format.isFloat && v.format.bits != 32) {
        format.bitsPerChannel = v.format.bits;
        format.bytesPerFrame = v.format.bits / 8 * v.channels;
        format.bytesPerPacket = format.bytesPerFrame;
    }
    return 0;
}

std::optional<PipeWireNodeTarget> PipeWireHardware::target(ObjectId device, Scope scope)
{
    ThreadLoopLock lock(threadLoop_);
    const auto* node = model_->byDevice(device);
    if (node == nullptr) {
        return std::nullopt;
    }
    const ObjectId stream = scope == Scope::input ? node->inputStream : node->outputStream;
    if (stream == unknownObject) {
        return std::nullopt;
    }
    const auto& v = node->published;
    PipeWireNodeTarget t;
    t.device = device;
    t.nodeName = node->nodeName;
    t.serial = node->serial;
    t.channels = v.channels;
    t.positions = v.positions;
    t.rate = v.rate;
    t.graphRate = v.graphRate;
    t.alive = v.alive;
    return t;
}

} // namespace brevalo
