#include "recording/waveform_overviews.h"

#include <QFile>

#include <sys/stat.h>

namespace brevalo {

std::optional<FileIdentity> FileIdentity::of(const QString& path)
{
    struct stat status
    {};
    if (::stat(QFile::encodeName(path).constData(), &status) != 0) {
        return std::nullopt;
    }
    return FileIdentity{
        static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino),
        static_cast<std::int64_t>(status.st_size),
        static_cast<std::int64_t>(status.st_mtim.tv_sec) * 1'000'000'000 + status.st_mtim.tv_nsec};
}

WaveformOverviews::WaveformOverviews(std::size_t capacity) : capacity_(capacity < 1 ? 1 : capacity)
{}

WaveformOverviews& WaveformOverviews::shared()
{
    static WaveformOverviews overviews;
    return overviews;
}

std::shared_ptr<const WaveformCache> WaveformOverviews::find(const QString& location,
                                                             const FileIdentity& identity)
{
    const std::lock_guard lock(mutex_);
    for (auto entry = entries_.begin(); entry != entries_.end(); ++entry) {
        if (entry->location != location) {
            continue;
        }
        if (entry->identity != identity) {
            entries_.erase(entry);
            return nullptr;
        }
        entries_.splice(entries_.begin(), entries_, entry);
        return entry->overview;
    }
    return nullptr;
}

void WaveformOverviews::store(const QString& location, const FileIdentity& identity,
                              std::shared_ptr<const WaveformCache> overview)
{
    // The evicted overview may be the last reference; it is released after the lock.
    std::list<Entry> dropped;
    const std::lock_guard lock(mutex_);
    for (auto entry = entries_.begin(); entry != entries_.end(); ++entry) {
        if (entry->location == location) {
            dropped.splice(dropped.end(), entries_, entry);
            break;
        }
    }
    entries_.push_front(Entry{location, identity, std::move(overview)});
    while (entries_.size() > capacity_) {
        dropped.splice(dropped.end(), entries_, std::prev(entries_.end()));
    }
}

void WaveformOverviews::clear()
{
    std::list<Entry> dropped;
    const std::lock_guard lock(mutex_);
    dropped.swap(entries_);
}

} // namespace brevalo
