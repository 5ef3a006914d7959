#pragma once

// Value types shared by every part of the audio hardware layer: object ids, property addresses,
// stream formats, buffer lists, time stamps and the realtime callback signature. They keep the
// shape of the hardware object model the monitoring engine and the recorder were designed
// against, so their configuration steps map one to one onto calls of this layer.

#include "platform/errors.h"

#include <array>
#include <cstdint>
#include <string>

namespace brevalo {

// Status codes of the audio layer beside the ones errors.h defines. Same values as the hardware
// layer these names come from, so failure descriptions read the same on every backend.
namespace status {
inline constexpr std::int32_t badObject = 0x216F626A;          // '!obj' unknown object id
inline constexpr std::int32_t unknownProperty = 0x77686F3F;    // 'who?' object lacks the property
inline constexpr std::int32_t illegalOperation = 0x6E6F7065;   // 'nope' wrong state for the call
inline constexpr std::int32_t deviceUnavailable = 0x21646576;  // '!dev' device gone or not alive
inline constexpr std::int32_t invalidProperty = -10879;        // unit property not supported
inline constexpr std::int32_t invalidScope = -10866;           // scope not valid for the property
inline constexpr std::int32_t invalidElement = -10877;         // element not valid for the property
inline constexpr std::int32_t uninitialized = -10867;          // unit used before initialize
inline constexpr std::int32_t noConnection = -10876;           // render without a callback set
inline constexpr std::int32_t tooManyFramesToProcess = -10874; // above maximum frames per slice
inline constexpr std::int32_t formatNotSupported = -10868;     // client format refused
} // namespace status

// Audio object id: 32 bits, and a backend may hand out an id again after the object went away,
// so "the same device" across a change is decided by its uid, never by its id.
using ObjectId = std::uint32_t;

inline constexpr ObjectId systemObject = 1;
inline constexpr ObjectId unknownObject = 0;

constexpr std::uint32_t fourCharCode(const char (&code)[5])
{
    return (static_cast<std::uint32_t>(static_cast<unsigned char>(code[0])) << 24) |
           (static_cast<std::uint32_t>(static_cast<unsigned char>(code[1])) << 16) |
           (static_cast<std::uint32_t>(static_cast<unsigned char>(code[2])) << 8) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(code[3]));
}

// Scopes of hardware properties and of unit properties. The numeric values are the unit scope
// numbers (global 0, input 1, output 2).
enum class Scope : std::uint32_t
{
    global = 0,
    input = 1,
    output = 2
};

// Elements of a device I/O unit: element 1 is the device's input side, element 0 its output
// side. The input scope of element 1 and the output scope of element 0 face the hardware; the
// output scope of element 1 and the input scope of element 0 face the client.
inline constexpr std::uint32_t inputElement = 1;
inline constexpr std::uint32_t outputElement = 0;

// Properties of the hardware model, by their four-character selectors.
enum class HardwareProperty : std::uint32_t
{
    devices = fourCharCode("dev#"),                      // system: device ids
    defaultOutputDevice = fourCharCode("dOut"),          // system: default output id
    translateUIDToDevice = fourCharCode("uidd"),         // system: id for a uid
    deviceUID = fourCharCode("uid "),                    // device
    name = fourCharCode("lnam"),                         // device
    streamConfiguration = fourCharCode("slay"),          // device, input or output scope
    elementName = fourCharCode("lchn"),                  // device, element = channel from 1
    preferredChannelsForStereo = fourCharCode("dch2"),   // device, input or output scope
    nominalSampleRate = fourCharCode("nsrt"),            // device
    streams = fourCharCode("stm#"),                      // device, input or output scope
    bufferFrameSize = fourCharCode("fsiz"),              // device
    usesVariableBufferFrameSizes = fourCharCode("vfsz"), // device
    deviceIsAlive = fourCharCode("livn"),                // device
    deviceHasChanged = fourCharCode("diff"),             // device, notification only
    ioStoppedAbnormally = fourCharCode("stpd"),          // device, notification only
    startingChannel = fourCharCode("schn"),              // stream, 1-based device channel
    physicalFormat = fourCharCode("pft "),               // stream
};

struct PropertyAddress
{
    HardwareProperty selector = HardwareProperty::devices;
    Scope scope = Scope::global;
    std::uint32_t element = 0;

    bool operator==(const PropertyAddress&) const = default;
};

// Format ids and flags of a stream description.
inline constexpr std::uint32_t formatLinearPCM = fourCharCode("lpcm");
inline constexpr std::uint32_t formatFlagIsFloat = 0x1;
inline constexpr std::uint32_t formatFlagIsBigEndian = 0x2;
inline constexpr std::uint32_t formatFlagIsSignedInteger = 0x4;
inline constexpr std::uint32_t formatFlagIsPacked = 0x8;
inline constexpr std::uint32_t formatFlagIsAlignedHigh = 0x10;
inline constexpr std::uint32_t formatFlagIsNonInterleaved = 0x20;

// A stream description: the physical format of a device stream or the client format of a unit.
struct StreamFormat
{
    double sampleRate = 0.0; // Hz
    std::uint32_t formatID = formatLinearPCM;
    std::uint32_t formatFlags = 0;
    std::uint32_t bytesPerPacket = 0;
    std::uint32_t framesPerPacket = 0;
    std::uint32_t bytesPerFrame = 0;
    std::uint32_t channelsPerFrame = 0;
    std::uint32_t bitsPerChannel = 0;

    bool operator==(const StreamFormat&) const = default;

    bool isLinearPCM() const { return formatID == formatLinearPCM; }
    bool isFloat() const { return (formatFlags & formatFlagIsFloat) != 0; }
    bool isNonInterleaved() const { return (formatFlags & formatFlagIsNonInterleaved) != 0; }

    // 32-bit float, packed, non-interleaved (flags 0x29): the monitoring graph's format.
    static StreamFormat float32Planar(double rate, std::uint32_t channels);
    // 32-bit signed integer, packed, non-interleaved (flags 0x2C): the capture format. A device
    // sample of b bits arrives left-justified, as its value × 2^(32 − b).
    static StreamFormat int32Planar(double rate, std::uint32_t channels);
    // Interleaved packed linear PCM as a device stream reports it: signed integer of 16, 24 or
    // 32 bits, or 32-bit float.
    static StreamFormat physicalInteger(double rate, std::uint32_t channels, std::uint32_t bits);
    static StreamFormat physicalFloat(double rate, std::uint32_t channels);
};

// One buffer of a buffer list; in the planar client formats it holds one channel.
struct AudioBuffer
{
    std::uint32_t numberChannels = 1;
    std::uint32_t dataByteSize = 0;
    void* data = nullptr;
};

// A buffer list of fixed capacity so that it lives on the stack or in a callback context and
// never allocates on an I/O thread.
struct AudioBufferList
{
    static constexpr std::uint32_t capacity = 8;
    std::uint32_t numberBuffers = 0;
    std::array<AudioBuffer, capacity> buffers{};
};

struct AudioTimeStamp
{
    double sampleTime = 0.0;    // device frame position of the block's first frame
    std::uint64_t hostTime = 0; // nanoseconds on the backend's clock
    double rateScalar = 1.0;    // device frames per nominal frame (the clock's drift)
};

// Render action flags, passed by reference through the callbacks.
using RenderActionFlags = std::uint32_t;
inline constexpr RenderActionFlags renderActionOutputIsSilence = 0x10;

// A realtime callback: the input callback of a device I/O unit (buffers is null: the callback
// fetches the block with render), the render callback of an output unit, or the pull callback of
// a varispeed unit. It runs on an I/O thread and returns a status (0 = success).
using RenderProc = std::int32_t (*)(void* refCon, RenderActionFlags& flags,
                                    const AudioTimeStamp& time, std::uint32_t bus,
                                    std::uint32_t frames, AudioBufferList* buffers);

struct RenderCallback
{
    RenderProc proc = nullptr;
    void* refCon = nullptr;
};

// The unit kinds a backend offers.
enum class UnitKind
{
    io,
    varispeed
};

// Unit properties, with their numbers, so that failures can be injected and reported per step.
enum class UnitProperty : std::uint32_t
{
    streamFormat = 8,
    maximumFramesPerSlice = 14,
    setRenderCallback = 23,
    renderQuality = 26,
    currentDevice = 2000,
    channelMap = 2002,
    enableIO = 2003,
    setInputCallback = 2005,
};

// Parameters of a unit. The varispeed's playback rate is its only one.
enum class UnitParameter : std::uint32_t
{
    playbackRate = 0
};

// Four characters of a selector, for messages and test names.
std::string fourCharText(std::uint32_t code);

} // namespace brevalo
