#include "recording/master_file.h"

#include "platform/errors.h"

#include <sndfile.h>

#include <bit>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace brevalo {

namespace masterFileStatus {
std::int32_t fromErrno(int error)
{
    return error > 0 ? -error : libraryBase;
}
std::int32_t fromLibrary(int error)
{
    return libraryBase - error;
}
} // namespace masterFileStatus

namespace {

const QString createOperation = QStringLiteral("Create the side master");

int pcmSubtype(std::uint32_t bitDepth)
{
    switch (bitDepth) {
    case 16:
        return SF_FORMAT_PCM_16;
    case 24:
        return SF_FORMAT_PCM_24;
    case 32:
        return SF_FORMAT_PCM_32;
    default:
        return 0;
    }
}

class CafMasterFile final : public MasterFileSink
{
public:
    CafMasterFile(int descriptor, SNDFILE* file, std::uint32_t bytesPerFrame)
        : descriptor_(descriptor), file_(file), bytesPerFrame_(bytesPerFrame)
    {}
    ~CafMasterFile() override { close(); }
    CafMasterFile(const CafMasterFile&) = delete;
    CafMasterFile& operator=(const CafMasterFile&) = delete;

    std::int32_t write(const std::byte* bytes, std::uint32_t frames,
                       std::uint32_t& framesWritten) override
    {
        framesWritten = 0;
        if (file_ == nullptr) {
            return masterFileStatus::fromErrno(EBADF);
        }
        const auto wanted = static_cast<sf_count_t>(frames) * bytesPerFrame_;
        const sf_count_t stored = sf_write_raw(file_, bytes, wanted);
        framesWritten = static_cast<std::uint32_t>(stored / bytesPerFrame_);
        if (stored == wanted) {
            return 0;
        }
        // A short count without an error is the short write the drain reports as such.
        const int error = sf_error(file_);
        return error == SF_ERR_NO_ERROR ? 0 : masterFileStatus::fromLibrary(error);
    }

    std::int32_t close() override
    {
        std::int32_t result = 0;
        if (file_ != nullptr) {
            if (const int error = sf_close(file_); error != 0) {
                result = masterFileStatus::fromLibrary(error);
            }
            file_ = nullptr;
        }
        if (descriptor_ >= 0) {
            if (::close(descriptor_) != 0 && result == 0) {
                result = masterFileStatus::fromErrno(errno);
            }
            descriptor_ = -1;
        }
        return result;
    }

private:
    int descriptor_;
    SNDFILE* file_;
    std::uint32_t bytesPerFrame_;
};

} // namespace

std::unique_ptr<MasterFileSink> openCafMaster(const QString& path, std::uint32_t bitDepth,
                                              double sampleRate)
{
    const int subtype = pcmSubtype(bitDepth);
    if (subtype == 0 || !(sampleRate >= 1.0 && sampleRate <= 2147483647.0)) {
        throw CoreAudioFailure(createOperation, status::paramError);
    }
    const QByteArray location = path.toLocal8Bit();
    // O_EXCL: a master is never overwritten, not even an empty one.
    const int descriptor =
        ::open(location.constData(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0644);
    if (descriptor < 0) {
        throw CoreAudioFailure(createOperation, masterFileStatus::fromErrno(errno));
    }
    SF_INFO info{};
    info.samplerate = static_cast<int>(sampleRate);
    info.channels = 2;
    info.format = SF_FORMAT_CAF | subtype | SF_ENDIAN_LITTLE;
    // The descriptor stays ours: libsndfile would close it on a failed open, too.
    SNDFILE* file = sf_open_fd(descriptor, SFM_WRITE, &info, SF_FALSE);
    if (file == nullptr) {
        const int error = sf_error(nullptr);
        ::close(descriptor);
        throw CoreAudioFailure(createOperation, masterFileStatus::fromLibrary(error));
    }
    // With the header rewritten after each write, the frame count on disk always matches the
    // frames stored, whenever the process ends.
    sf_command(file, SFC_SET_UPDATE_HEADER_AUTO, nullptr, SF_TRUE);
    return std::make_unique<CafMasterFile>(descriptor, file, 2 * (bitDepth / 8));
}

namespace {

template <std::uint32_t Bytes>
void packAs(const std::int32_t* left, const std::int32_t* right, std::uint32_t frames,
            std::byte* out)
{
    constexpr std::uint32_t shift = 32 - 8 * Bytes;
    for (std::uint32_t i = 0; i < frames; ++i) {
        const std::uint32_t l = static_cast<std::uint32_t>(left[i]) >> shift;
        const std::uint32_t r = static_cast<std::uint32_t>(right[i]) >> shift;
        if constexpr (std::endian::native == std::endian::little) {
            std::memcpy(out, &l, Bytes);
            std::memcpy(out + Bytes, &r, Bytes);
        } else {
            for (std::uint32_t b = 0; b < Bytes; ++b) {
                out[b] = static_cast<std::byte>(l >> (8 * b));
                out[Bytes + b] = static_cast<std::byte>(r >> (8 * b));
            }
        }
        out += 2 * Bytes;
    }
}

} // namespace

void packMasterFrames(const std::int32_t* left, const std::int32_t* right, std::uint32_t frames,
                      std::uint32_t bitDepth, std::byte* out)
{
    switch (bitDepth) {
    case 16:
        packAs<2>(left, right, frames, out);
        break;
    case 24:
        packAs<3>(left, right, frames, out);
        break;
    default:
        packAs<4>(left, right, frames, out);
        break;
    }
}

} // namespace brevalo
