#pragma once

#include <QString>

#include <cstdint>
#include <exception>
#include <string>

namespace brevalo {

// A refusal of the capture side, the Discogs client or the token store. Its description is
// exactly the message.
class CaptureError : public std::exception
{
public:
    explicit CaptureError(QString message);

    const QString& message() const { return message_; }
    QString description() const { return message_; }
    const char* what() const noexcept override { return utf8_.c_str(); }

    bool operator==(const CaptureError& other) const { return message_ == other.message_; }

private:
    QString message_;
    std::string utf8_;
};

// A failed platform audio step: the step's name in user language and the status it returned.
class CoreAudioFailure : public std::exception
{
public:
    CoreAudioFailure(QString operation, std::int32_t status);

    const QString& operation() const { return operation_; }
    std::int32_t status() const { return status_; }
    // "<operation> failed ('!dat', 560226676)." or "<operation> failed (status, -50)."
    QString description() const;
    const char* what() const noexcept override { return utf8_.c_str(); }

    bool operator==(const CoreAudioFailure& other) const
    {
        return operation_ == other.operation_ && status_ == other.status_;
    }

    // The four-character text of a status when all four bytes are printable, else "status".
    static QString statusText(std::int32_t status);

private:
    QString operation_;
    std::int32_t status_;
    std::string utf8_;
};

// Status codes this system produces itself; they keep the values of the platform it was first
// written for so descriptions read the same everywhere.
namespace status {
inline constexpr std::int32_t paramError = -50;               // kAudio_ParamError
inline constexpr std::int32_t fileNotFound = -43;             // fnfErr
inline constexpr std::int32_t memoryFull = -108;              // memFullErr
inline constexpr std::int32_t unimplemented = -4;             // unimpErr
inline constexpr std::int32_t unsupportedFormat = 0x21646174; // '!dat'
inline constexpr std::int32_t shortPacketWrite = 0x70636B3F;  // 'pck?'
inline constexpr std::int32_t ringOverflow = -1;              // capture ring full
inline constexpr std::int32_t formatChangedDuringTake = -2;   // input format or device changed
} // namespace status

} // namespace brevalo
