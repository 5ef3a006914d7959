#include "pipewire/pipewire_test_graph.h"

#include "platform/audio/pipewire/pipewire_support.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <map>
#include <thread>
#include <vector>

namespace brevalo::test {

struct PipeWireTestGraph::Impl
{
    PipeWireTestGraph* owner = nullptr;
    pw_registry* registry = nullptr;
    spa_hook registryListener{};
    spa_hook coreListener{};
    pw_proxy* defaultMetadata = nullptr;
    std::map<int, pw_proxy*> nodes;
    int nextHandle = 1;
    int doneSeq = -1;
    std::map<std::uint32_t, int> portsByNode;        // by global id of the node
    std::map<std::uint32_t, std::uint32_t> portNode; // port global id → node global id
    struct Port
    {
        std::uint32_t node = 0;
        std::string direction; // "in" or "out"
        std::string channel;   // "AUX0", "FL", ...
    };
    std::map<std::uint32_t, Port> ports;
    std::map<std::string, std::uint32_t> nodeIDs; // by node.name, latest global
    std::vector<pw_proxy*> links;

    pw_stream* feeder = nullptr;
    spa_hook feederListener{};
    PatternFunction pattern = nullptr;
    std::uint32_t feedChannels = 0;
    bool feederStreaming = false;
    bool feederPaused = false;
    bool feederFailed = false;
};

namespace {

void onGlobal(void* data, std::uint32_t id, std::uint32_t, const char* type, std::uint32_t,
              const spa_dict* props)
{
    auto& impl = *static_cast<PipeWireTestGraph::Impl*>(data);
    if (std::strcmp(type, PW_TYPE_INTERFACE_Port) == 0) {
        const auto node = std::strtoul(dictValue(props, PW_KEY_NODE_ID, "0"), nullptr, 10);
        impl.portNode[id] = static_cast<std::uint32_t>(node);
        ++impl.portsByNode[static_cast<std::uint32_t>(node)];
        impl.ports[id] = PipeWireTestGraph::Impl::Port{static_cast<std::uint32_t>(node),
                                                       dictValue(props, PW_KEY_PORT_DIRECTION, ""),
                                                       dictValue(props, PW_KEY_AUDIO_CHANNEL, "")};
        return;
    }
    if (std::strcmp(type, PW_TYPE_INTERFACE_Node) == 0) {
        impl.nodeIDs[dictValue(props, PW_KEY_NODE_NAME, "")] = id;
        return;
    }
    if (std::strcmp(type, PW_TYPE_INTERFACE_Metadata) == 0 && impl.defaultMetadata == nullptr &&
        std::strcmp(dictValue(props, PW_KEY_METADATA_NAME, ""), "default") == 0) {
        impl.defaultMetadata = static_cast<pw_proxy*>(pw_registry_bind(
            impl.registry, id, PW_TYPE_INTERFACE_Metadata, PW_VERSION_METADATA, 0));
    }
}

void onGlobalRemove(void* data, std::uint32_t id)
{
    auto& impl = *static_cast<PipeWireTestGraph::Impl*>(data);
    const auto it = impl.portNode.find(id);
    if (it != impl.portNode.end()) {
        --impl.portsByNode[it->second];
        impl.portNode.erase(it);
        impl.ports.erase(id);
    }
}

const pw_registry_events registryEvents = [] {
    pw_registry_events e{};
    e.version = PW_VERSION_REGISTRY_EVENTS;
    e.global = onGlobal;
    e.global_remove = onGlobalRemove;
    return e;
}();

void onDone(void* data, std::uint32_t id, int seq)
{
    auto& impl = *static_cast<PipeWireTestGraph::Impl*>(data);
    if (id == PW_ID_CORE) {
        impl.doneSeq = seq;
    }
}

const pw_core_events coreEvents = [] {
    pw_core_events e{};
    e.version = PW_VERSION_CORE_EVENTS;
    e.done = onDone;
    return e;
}();

void onFeederState(void* data, pw_stream_state, pw_stream_state state, const char*)
{
    auto& impl = *static_cast<PipeWireTestGraph::Impl*>(data);
    impl.feederStreaming = state == PW_STREAM_STATE_STREAMING;
    impl.feederPaused = state == PW_STREAM_STATE_PAUSED || impl.feederStreaming;
    impl.feederFailed = state == PW_STREAM_STATE_ERROR;
}

void onFeederProcess(void* data)
{
    auto& impl = *static_cast<PipeWireTestGraph::Impl*>(data);
    pw_buffer* buffer = pw_stream_dequeue_buffer(impl.feeder);
    if (buffer == nullptr) {
        return;
    }
    spa_buffer* spa = buffer->buffer;
    std::uint32_t frames = buffer->requested != 0 ? static_cast<std::uint32_t>(buffer->requested)
                                                  : spa->datas[0].maxsize / 4;
    for (std::uint32_t c = 0; c < spa->n_datas; ++c) {
        frames = std::min(frames, spa->datas[c].maxsize / 4);
    }
    const std::uint64_t first = impl.owner->framesFed();
    for (std::uint32_t c = 0; c < spa->n_datas && c < impl.feedChannels; ++c) {
        auto* out = static_cast<std::int32_t*>(spa->datas[c].data);
        for (std::uint32_t i = 0; i < frames; ++i) {
            const auto value = static_cast<std::uint32_t>(impl.pattern(first + i, c));
            out[i] = static_cast<std::int32_t>(value << 8);
        }
        spa->datas[c].chunk->offset = 0;
        spa->datas[c].chunk->stride = 4;
        spa->datas[c].chunk->size = frames * 4;
    }
    impl.owner->addFed(frames);
    pw_stream_queue_buffer(impl.feeder, buffer);
}

const pw_stream_events feederEvents = [] {
    pw_stream_events e{};
    e.version = PW_VERSION_STREAM_EVENTS;
    e.state_changed = onFeederState;
    e.process = onFeederProcess;
    return e;
}();

} // namespace

PipeWireTestGraph::PipeWireTestGraph() : impl_(std::make_unique<Impl>())
{
    impl_->owner = this;
    ensurePipeWireInitialized();
    loop_ = pw_thread_loop_new("brevalo-test-graph", nullptr);
    context_ = pw_context_new(pw_thread_loop_get_loop(loop_), nullptr, 0);
    pw_thread_loop_start(loop_);
    {
        ThreadLoopLock lock(loop_);
        core_ = pw_context_connect(context_, nullptr, 0);
        if (core_ == nullptr) {
            return;
        }
        pw_core_add_listener(core_, &impl_->coreListener, &coreEvents, impl_.get());
        impl_->registry = pw_core_get_registry(core_, PW_VERSION_REGISTRY, 0);
        pw_registry_add_listener(impl_->registry, &impl_->registryListener, &registryEvents,
                                 impl_.get());
    }
    roundTrip();
    roundTrip();
}

PipeWireTestGraph::~PipeWireTestGraph()
{
    stopFeeding();
    if (core_ != nullptr) {
        {
            ThreadLoopLock lock(loop_);
            for (auto& [handle, proxy] : impl_->nodes) {
                pw_proxy_destroy(proxy);
            }
            impl_->nodes.clear();
        }
        roundTrip();
    }
    pw_thread_loop_stop(loop_);
    if (impl_->defaultMetadata != nullptr) {
        pw_proxy_destroy(impl_->defaultMetadata);
    }
    if (impl_->registry != nullptr) {
        spa_hook_remove(&impl_->registryListener);
        pw_proxy_destroy(reinterpret_cast<pw_proxy*>(impl_->registry));
    }
    if (core_ != nullptr) {
        spa_hook_remove(&impl_->coreListener);
        pw_core_disconnect(core_);
    }
    pw_context_destroy(context_);
    pw_thread_loop_destroy(loop_);
}

void PipeWireTestGraph::addFed(std::uint32_t frames)
{
    framesFed_.fetch_add(frames);
}

bool PipeWireTestGraph::roundTrip()
{
    if (core_ == nullptr) {
        return false;
    }
    int seq = 0;
    {
        ThreadLoopLock lock(loop_);
        seq = pw_core_sync(core_, PW_ID_CORE, 0);
    }
    return waitUntil([&] {
        ThreadLoopLock lock(loop_);
        return impl_->doneSeq >= seq;
    });
}

int PipeWireTestGraph::addNode(const TestNodeSetup& setup)
{
    if (core_ == nullptr) {
        return 0;
    }
    const std::string rate = std::to_string(setup.rate);
    pw_properties* props = pw_properties_new(
        PW_KEY_FACTORY_NAME, "support.null-audio-sink", PW_KEY_NODE_NAME, setup.name.c_str(),
        PW_KEY_NODE_DESCRIPTION, setup.description.c_str(), PW_KEY_MEDIA_CLASS,
        setup.mediaClass.c_str(), SPA_KEY_AUDIO_POSITION, setup.positions.c_str(),
        PW_KEY_AUDIO_RATE, rate.c_str(), "monitor.channel-volumes", "false", nullptr);
    if (!setup.format.empty()) {
        pw_properties_set(props, PW_KEY_AUDIO_FORMAT, setup.format.c_str());
    }
    int handle = 0;
    {
        ThreadLoopLock lock(loop_);
        auto* proxy = static_cast<pw_proxy*>(pw_core_create_object(
            core_, "adapter", PW_TYPE_INTERFACE_Node, PW_VERSION_NODE, &props->dict, 0));
        if (proxy != nullptr) {
            handle = impl_->nextHandle++;
            impl_->nodes[handle] = proxy;
        }
    }
    pw_properties_free(props);
    roundTrip();
    // The session manager configures the node's ports after it appears; a stream linked to it
    // before that finds no target. Wait until every channel has its ports.
    const auto channels = static_cast<int>(parsePositionList(setup.positions).size());
    const bool ready = waitUntil([&] {
        ThreadLoopLock lock(loop_);
        const auto it = impl_->nodes.find(handle);
        if (it == impl_->nodes.end()) {
            return false;
        }
        const auto id = pw_proxy_get_bound_id(it->second);
        return id != SPA_ID_INVALID && impl_->portsByNode[id] >= channels;
    });
    roundTrip();
    return ready ? handle : 0;
}

void PipeWireTestGraph::removeNode(int handle)
{
    {
        ThreadLoopLock lock(loop_);
        const auto it = impl_->nodes.find(handle);
        if (it == impl_->nodes.end()) {
            return;
        }
        pw_proxy_destroy(it->second);
        impl_->nodes.erase(it);
    }
    roundTrip();
}

bool PipeWireTestGraph::setDefaultSink(const std::string& nodeName)
{
    const std::string json = "{ \"name\": \"" + nodeName + "\" }";
    {
        ThreadLoopLock lock(loop_);
        if (impl_->defaultMetadata == nullptr) {
            return false;
        }
        auto* metadata = reinterpret_cast<pw_metadata*>(impl_->defaultMetadata);
        pw_metadata_set_property(metadata, PW_ID_CORE, "default.configured.audio.sink",
                                 "Spa:String:JSON", json.c_str());
        pw_metadata_set_property(metadata, PW_ID_CORE, "default.audio.sink", "Spa:String:JSON",
                                 json.c_str());
    }
    return roundTrip();
}

bool PipeWireTestGraph::feed(const std::string& nodeName, std::uint32_t channels,
                             std::uint32_t rate, PatternFunction pattern)
{
    stopFeeding();
    const std::string nodeRate = "1/" + std::to_string(rate);
    {
        ThreadLoopLock lock(loop_);
        impl_->pattern = pattern;
        impl_->feedChannels = channels;
        impl_->feederStreaming = false;
        impl_->feederPaused = false;
        impl_->feederFailed = false;
        // Not linked by the session manager (it links playback streams only to sink-like
        // nodes): the links to the source's input ports are made below.
        pw_properties* props =
            pw_properties_new(PW_KEY_MEDIA_TYPE, "Audio", PW_KEY_MEDIA_CATEGORY, "Playback",
                              PW_KEY_NODE_NAME, "brevalo-test-feeder", PW_KEY_STREAM_DONT_REMIX,
                              "true", PW_KEY_NODE_RATE, nodeRate.c_str(), nullptr);
        impl_->feeder = pw_stream_new(core_, "Brevalo test feeder", props);
        pw_stream_add_listener(impl_->feeder, &impl_->feederListener, &feederEvents, impl_.get());
        spa_audio_info_raw info{};
        info.format = SPA_AUDIO_FORMAT_S32P;
        info.rate = rate;
        info.channels = channels;
        for (std::uint32_t c = 0; c < channels; ++c) {
            info.position[c] = SPA_AUDIO_CHANNEL_AUX0 + c;
        }
        std::array<std::uint8_t, 1024> podBuffer{};
        spa_pod_builder builder{};
        spa_pod_builder_init(&builder, podBuffer.data(),
                             static_cast<std::uint32_t>(podBuffer.size()));
        const spa_pod* params[1] = {
            spa_format_audio_raw_build(&builder, SPA_PARAM_EnumFormat, &info)};
        pw_stream_connect(
            impl_->feeder, PW_DIRECTION_OUTPUT, PW_ID_ANY,
            static_cast<pw_stream_flags>(PW_STREAM_FLAG_MAP_BUFFERS | PW_STREAM_FLAG_RT_PROCESS),
            params, 1);
    }
    if (!waitUntil([&] {
            ThreadLoopLock lock(loop_);
            return impl_->feederPaused || impl_->feederFailed;
        })) {
        return false;
    }
    // Port pairs by channel name: the feeder's AUXn output to the node's AUXn input.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> pairs;
    std::uint32_t feederNode = SPA_ID_INVALID;
    std::uint32_t targetNode = SPA_ID_INVALID;
    const bool found = waitUntil([&] {
        ThreadLoopLock lock(loop_);
        feederNode = pw_stream_get_node_id(impl_->feeder);
        const auto target = impl_->nodeIDs.find(nodeName);
        if (feederNode == SPA_ID_INVALID || target == impl_->nodeIDs.end()) {
            return false;
        }
        targetNode = target->second;
        pairs.clear();
        for (std::uint32_t c = 0; c < channels; ++c) {
            const std::string channel = "AUX" + std::to_string(c);
            std::uint32_t out = SPA_ID_INVALID;
            std::uint32_t in = SPA_ID_INVALID;
            for (const auto& [id, port] : impl_->ports) {
                if (port.channel != channel) {
                    continue;
                }
                if (port.node == feederNode && port.direction == "out") {
                    out = id;
                } else if (port.node == targetNode && port.direction == "in") {
                    in = id;
                }
            }
            if (out == SPA_ID_INVALID || in == SPA_ID_INVALID) {
                return false;
            }
            pairs.emplace_back(out, in);
        }
        return true;
    });
    if (!found) {
        return false;
    }
    {
        ThreadLoopLock lock(loop_);
        for (const auto& [out, in] : pairs) {
            const auto text = [](std::uint32_t v) { return std::to_string(v); };
            pw_properties* props = pw_properties_new(
                PW_KEY_LINK_OUTPUT_NODE, text(feederNode).c_str(), PW_KEY_LINK_OUTPUT_PORT,
                text(out).c_str(), PW_KEY_LINK_INPUT_NODE, text(targetNode).c_str(),
                PW_KEY_LINK_INPUT_PORT, text(in).c_str(), nullptr);
            auto* link = static_cast<pw_proxy*>(pw_core_create_object(
                core_, "link-factory", PW_TYPE_INTERFACE_Link, PW_VERSION_LINK, &props->dict, 0));
            pw_properties_free(props);
            if (link != nullptr) {
                impl_->links.push_back(link);
            }
        }
    }
    return waitUntil([&] {
               ThreadLoopLock lock(loop_);
               return impl_->feederStreaming || impl_->feederFailed;
           }) &&
           !impl_->feederFailed;
}

void PipeWireTestGraph::stopFeeding()
{
    ThreadLoopLock lock(loop_);
    for (auto* link : impl_->links) {
        pw_proxy_destroy(link);
    }
    impl_->links.clear();
    if (impl_->feeder != nullptr) {
        spa_hook_remove(&impl_->feederListener);
        pw_stream_destroy(impl_->feeder);
        impl_->feeder = nullptr;
    }
}

bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

} // namespace brevalo::test
