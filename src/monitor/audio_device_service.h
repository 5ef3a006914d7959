#pragma once

// The system's view of the audio hardware: the input devices that can deliver a stereo pair,
// the current default output, and notifications when either changes. It only reads the hardware
// model; it never opens a stream.
//
// Threads: construction, the catalog reads, startListening, watchSelectedDevices and
// destruction belong to the main thread. The change handler runs on the hardware layer's
// notification thread (our "com.kestrup.Vantorel.device-events" queue): hop to your own thread
// before touching state, and never wait there for the main thread.

#include "monitor/audio_devices.h"
#include "platform/audio/audio_hardware.h"

#include <QList>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>

namespace brevalo {

class AudioDeviceService
{
public:
    enum class Change
    {
        catalog,        // the device list changed
        defaultOutput,  // the default output device changed
        selectedDevice, // a watched property of the selected input, the output or their streams
    };
    using ChangeHandler = std::function<void(Change)>;

    // The hardware must outlive the service.
    explicit AudioDeviceService(AudioHardware& hardware);
    // Removes every listener; after it returns no handler call is running or will run.
    ~AudioDeviceService();
    AudioDeviceService(const AudioDeviceService&) = delete;
    AudioDeviceService& operator=(const AudioDeviceService&) = delete;

    // A fresh enumeration, sorted by name (case-insensitive, in the user's collation); devices
    // with equal names keep their enumeration order.
    QList<AudioInputDevice> inputDevices();
    std::optional<AudioOutputDevice> defaultOutputDevice();

    // Installs the listeners on the device list and the default output, once.
    void startListening();
    // Replaces every per-device listener with listeners on the given input and output devices
    // and their streams.
    void watchSelectedDevices(std::optional<std::uint32_t> inputDeviceID,
                              std::optional<std::uint32_t> outputDeviceID);

    void setChangeHandler(ChangeHandler handler);

    bool isListening() const { return isListening_; }
    // Registrations currently held, for diagnostics and tests.
    const QList<ListenerRegistration>& globalListeners() const { return globalListeners_; }
    const QList<ListenerRegistration>& selectedDeviceListeners() const
    {
        return selectedDeviceListeners_;
    }

    // One device's record as the catalog builds it; nothing when the catalog would skip it.
    std::optional<AudioInputDevice> inputDevice(std::uint32_t deviceID);
    std::optional<AudioOutputDevice> outputDevice(std::uint32_t deviceID);

private:
    // What a listener reaches: it holds this weakly, so a notification already on its way when
    // the service goes away finds nothing and does nothing.
    struct HandlerSlot
    {
        std::mutex mutex; // handler is set on the main thread and read on the notifier
        ChangeHandler handler;
    };

    void addListener(std::uint32_t object, const PropertyAddress& address, Change change,
                     QList<ListenerRegistration>& into);
    void addDeviceListeners(std::uint32_t device, Scope scope);
    void removeAll(QList<ListenerRegistration>& registrations);

    std::uint32_t channelCount(std::uint32_t device, Scope scope);
    std::optional<AudioDeviceFormat> physicalFormat(std::uint32_t device, Scope scope);
    std::uint32_t bufferFrameSize(std::uint32_t device);
    bool isAlive(std::uint32_t device);
    double nominalSampleRate(std::uint32_t device);
    std::optional<QString> stringProperty(std::uint32_t device, HardwareProperty property);

    AudioHardware& hardware_;
    QList<ListenerRegistration> globalListeners_;
    QList<ListenerRegistration> selectedDeviceListeners_;
    bool isListening_ = false;
    std::shared_ptr<HandlerSlot> slot_;
};

} // namespace brevalo
