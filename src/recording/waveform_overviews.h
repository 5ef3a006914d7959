#pragma once

#include "recording/waveform_cache.h"

#include <QString>

#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <optional>

namespace brevalo {

// What tells one version of a cache file from another without reading it: an atomic replace
// gives the file a new inode, any other change moves its size or modification time.
struct FileIdentity
{
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t size = 0;
    std::int64_t modifiedNanoseconds = 0;

    bool operator==(const FileIdentity&) const = default;

    // None when the file does not exist or cannot be examined.
    static std::optional<FileIdentity> of(const QString& path);
};

// Decoded overviews of recently used masters, keyed by the cache file's location. Zoom and
// scroll ask for a wide view on every step; answering those from memory saves re-reading and
// re-decoding several megabytes of JSON each time. An entry is only handed out while the file
// on disk is still the one it was decoded from (or written as), so a replaced, damaged or
// deleted file is read (and if need be rebuilt) again. Thread-safe; the lock is held only for
// list bookkeeping, never during file work.
class WaveformOverviews
{
public:
    static constexpr std::size_t defaultCapacity = 8; // an hour at 96 kHz holds 1.35 MB

    explicit WaveformOverviews(std::size_t capacity = defaultCapacity);

    // The one store every load uses unless told otherwise.
    static WaveformOverviews& shared();

    // The overview stored for the location when the file still has the given identity.
    std::shared_ptr<const WaveformCache> find(const QString& location,
                                              const FileIdentity& identity);
    // Remembers the overview, dropping the least recently used one beyond the capacity.
    void store(const QString& location, const FileIdentity& identity,
               std::shared_ptr<const WaveformCache> overview);
    void clear();

private:
    struct Entry
    {
        QString location;
        FileIdentity identity;
        std::shared_ptr<const WaveformCache> overview;
    };

    std::size_t capacity_;
    std::mutex mutex_;
    std::list<Entry> entries_; // most recently used first
};

} // namespace brevalo
