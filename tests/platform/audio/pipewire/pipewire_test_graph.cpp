#include "platform/audio/pipewire/pipewire_test_graph.h"

#include "platform/audio/pipewire/pipewire_support.h"

#include <QCoreApplication>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <map>
#include <thread>

namespace brevalo::test {

// Guarded by the backend's thread loop lock.
struct PipeWireTestGraph::Impl
{
    pw_registry* registry = nullptr;
    spa_hook registryListener{};
    pw_proxy* defaultMetadata = nullptr;
    std::map<int, pw_proxy*> nodes;
    int nextHandle = 1;
    std::map<std::uint32_t, std::uint32_t> inputPortNodes; // input port global id → node's
};

namespace {

void onGlobal(void* data, std::uint32_t id, std::uint32_t, const char* type, std::uint32_t,
              const spa_dict* props)
{
    auto& impl = *static_cast<PipeWireTestGraph::Impl*>(data);
    if (std::strcmp(type, PW_TYPE_INTERFACE_Port) == 0 &&
        std::strcmp(dictValue(props, PW_KEY_PORT_DIRECTION, ""), "in") == 0) {
        impl.inputPortNodes[id] = static_cast<std::uint32_t>(
            std::strtoul(dictValue(props, PW_KEY_NODE_ID, "0"), nullptr, 10));
    } else if (std::strcmp(type, PW_TYPE_INTERFACE_Metadata) == 0 &&
               impl.defaultMetadata == nullptr &&
               std::strcmp(dictValue(props, PW_KEY_METADATA_NAME, ""), "default") == 0) {
        impl.defaultMetadata = static_cast<pw_proxy*>(pw_registry_bind(
            impl.registry, id, PW_TYPE_INTERFACE_Metadata, PW_VERSION_METADATA, 0));
    }
}

void onGlobalRemove(void* data, std::uint32_t id)
{
    static_cast<PipeWireTestGraph::Impl*>(data)->inputPortNodes.erase(id);
}

const pw_registry_events registryEvents = [] {
    pw_registry_events e{};
    e.version = PW_VERSION_REGISTRY_EVENTS;
    e.global = onGlobal;
    e.global_remove = onGlobalRemove;
    return e;
}();

} // namespace

PipeWireTestGraph::PipeWireTestGraph(PipeWireHardware& hardware)
    : hardware_(hardware), impl_(std::make_unique<Impl>())
{
    {
        ThreadLoopLock lock(hardware_.threadLoop());
        impl_->registry = pw_core_get_registry(hardware_.core(), PW_VERSION_REGISTRY, 0);
        pw_registry_add_listener(impl_->registry, &impl_->registryListener, &registryEvents,
                                 impl_.get());
    }
    roundTrip(); // the globals
    roundTrip(); // the metadata bound on the first
}

PipeWireTestGraph::~PipeWireTestGraph()
{
    {
        ThreadLoopLock lock(hardware_.threadLoop());
        for (auto& [handle, proxy] : impl_->nodes) {
            pw_proxy_destroy(proxy);
        }
        if (impl_->defaultMetadata != nullptr) {
            pw_proxy_destroy(impl_->defaultMetadata);
        }
        spa_hook_remove(&impl_->registryListener);
        pw_proxy_destroy(reinterpret_cast<pw_proxy*>(impl_->registry));
    }
    roundTrip();
}

bool PipeWireTestGraph::roundTrip()
{
    return hardware_.roundTrip(std::chrono::milliseconds(4000));
}

int PipeWireTestGraph::addNode(const TestNodeSetup& setup)
{
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
        ThreadLoopLock lock(hardware_.threadLoop());
        auto* proxy = static_cast<pw_proxy*>(pw_core_create_object(
            hardware_.core(), "adapter", PW_TYPE_INTERFACE_Node, PW_VERSION_NODE, &props->dict, 0));
        if (proxy != nullptr) {
            handle = impl_->nextHandle++;
            impl_->nodes[handle] = proxy;
        }
    }
    pw_properties_free(props);
    roundTrip();
    // The session manager configures the node's ports after it appears; a stream linked to it
    // before that finds no target. Wait until every channel has its input port.
    const auto channels = parsePositionList(setup.positions).size();
    const bool ready =
        handle != 0 && waitUntil([&] {
            ThreadLoopLock lock(hardware_.threadLoop());
            const auto id = pw_proxy_get_bound_id(impl_->nodes[handle]);
            return id != SPA_ID_INVALID &&
                   static_cast<std::size_t>(std::count_if(
                       impl_->inputPortNodes.begin(), impl_->inputPortNodes.end(),
                       [&](const auto& port) { return port.second == id; })) >= channels;
        });
    roundTrip();
    return ready ? handle : 0;
}

ObjectId PipeWireTestGraph::plug(const TestNodeSetup& setup, int* handle)
{
    const int h = addNode(setup);
    if (handle != nullptr) {
        *handle = h;
    }
    ObjectId device = unknownObject;
    const bool ready =
        h != 0 && waitUntil([&] {
            double rate = 0.0;
            return hardware_.deviceForUID(setup.name, device) == 0 && device != unknownObject &&
                   hardware_.nominalSampleRate(device, rate) == 0 && rate == setup.rate;
        });
    return ready ? device : unknownObject;
}

void PipeWireTestGraph::removeNode(int handle)
{
    {
        ThreadLoopLock lock(hardware_.threadLoop());
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
        ThreadLoopLock lock(hardware_.threadLoop());
        if (impl_->defaultMetadata == nullptr) {
            return false;
        }
        auto* metadata = reinterpret_cast<pw_metadata*>(impl_->defaultMetadata);
        for (const char* key : {"default.configured.audio.sink", "default.audio.sink"}) {
            pw_metadata_set_property(metadata, PW_ID_CORE, key, "Spa:String:JSON", json.c_str());
        }
    }
    return roundTrip();
}

bool pipeWireDaemonRequired()
{
    const char* env = std::getenv("BREVALO_TEST_ENV");
    const char* wanted = std::getenv("BREVALO_PIPEWIRE_TESTS");
    return env != nullptr && std::string(env) == "1" &&
           (wanted == nullptr || std::string(wanted) != "0");
}

std::string uniqueTestName(const std::string& stem)
{
    static std::atomic<int> counter{0};
    return "brevalo-test-" + stem + "-" + std::to_string(::getpid()) + "-" +
           std::to_string(++counter);
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

bool processUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout)
{
    return waitUntil(
        [&] {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            return condition();
        },
        timeout);
}

} // namespace brevalo::test
