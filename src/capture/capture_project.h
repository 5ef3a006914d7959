#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUuid>
#include <QtGlobal>

#include <optional>

namespace brevalo {

// The medium a project was captured from. The raw value is what the manifest stores, so the
// texts must never change.
enum class CaptureSource
{
    vinyl,
    cd,
    tape,
    reelToReel,
    other
};

// All cases in declaration order (menus list them this way).
QList<CaptureSource> allCaptureSources();
// "vinyl-rip", "cd-rip", "tape-rip", "r2r-rip", "other-source".
QString captureSourceRawValue(CaptureSource source);
// The case for a raw value; none for any other text (case-sensitive).
std::optional<CaptureSource> captureSourceFromRawValue(const QString& rawValue);
// "Vinyl Record", "CD", "Cassette Tape", "Reel to Reel Player", "Other Source".
QString captureSourceLabel(CaptureSource source);

// One expected track of a side.
struct CaptureTrack
{
    QUuid id;
    QString position; // as printed (A1, B3, 2-C1); never parsed
    QString title;
    QString artist; // empty means the album artist applies

    bool operator==(const CaptureTrack&) const = default;
};

// The single recording of one side. Written once by the recorder; afterwards only the fields
// the workflow recovers after an interrupted take are rewritten.
struct CaptureMaster
{
    QString path;          // relative to the project folder, "Masters/..."
    double sampleRate = 0; // frames per second, the device's native rate
    qint64 bitDepth = 0;   // 16, 24 or 32
    qint64 frameCount = 0; // stereo frames; 0 while recording
    QString inputDeviceUID;
    QList<qint64> inputChannels; // 1-based device channels, left then right
    QString hardwareFormat;
    QString clientFormat;
    bool isComplete = false;             // stopped normally and at least one frame long
    std::optional<QString> interruption; // user-facing reason for an abnormal end

    bool operator==(const CaptureMaster&) const = default;
};

// A half-open range of master frames [start, end).
struct FrameRange
{
    qint64 start = 0;
    qint64 end = 0;

    qint64 length() const { return end - start; }
    bool operator==(const FrameRange&) const = default;
};

// One physical side of one record, with its recording and the boundaries placed on it.
struct CaptureSide
{
    QUuid id;
    qint64 record = 1; // physical record (disc, tape) counting from 1
    QString label;     // "A", "B", ... as printed
    QList<CaptureTrack> tracks;
    std::optional<CaptureMaster> master;
    QList<qint64> markers;                // internal track boundaries, frames, ascending
    std::optional<qint64> trimStartFrame; // absent means frame 0
    std::optional<qint64> trimEndFrame;   // exclusive; absent means the master's frameCount

    bool operator==(const CaptureSide&) const = default;

    // 0 without a master, else markers + 1 (whether or not the boundaries are valid).
    qsizetype regionCount() const;
    bool hasValidTrim() const;
    // Trims valid, markers ascending, unique and strictly inside the trimmed span.
    bool hasValidBoundaries() const;
    // One range per expected track: [S, m1), [m1, m2), ..., [mk, E); empty when the side has no
    // master, an empty master or invalid boundaries.
    QList<FrameRange> regions() const;
    // The short upper-case text shown beside the waveform.
    QString boundaryStatus() const;
    // "Record 1 · Side A", as used in messages.
    QString displayName() const;
};

// The manifest root: one physical copy of a release.
struct CaptureProject
{
    static constexpr qint64 currentSchemaVersion = 1;

    qint64 schemaVersion = currentSchemaVersion;
    QUuid id;
    QDateTime createdAt;                    // the manifest keeps whole seconds, UTC
    std::optional<qint64> discogsReleaseID; // absent for a manual project
    QString artist;                         // credit as shown
    QString albumArtist;                    // used for tagging
    QString title;
    CaptureSource source = CaptureSource::vinyl;
    QString date; // free text, usually a year
    QStringList genres;
    QString labels;                     // label and catalogue text
    QString edition;                    // edition / country text
    std::optional<QString> artworkPath; // "Artwork/<UUID>.png", relative to the project folder
    QList<CaptureSide> sides;

    bool operator==(const CaptureProject&) const = default;

    // Throws CaptureError with the first rule that fails. Runs before every save and after
    // every load; it never looks at files.
    void validate() const;
    // Number of distinct record numbers among the sides.
    qsizetype recordCount() const;
    // Exchanges master, markers and trims of two sides; tracks, label and record stay put.
    // False (and nothing changed) for unknown or identical sides or equal recording state.
    bool swapRecordings(const QUuid& first, const QUuid& second);

    CaptureSide* side(const QUuid& sideID);
    const CaptureSide* side(const QUuid& sideID) const;
};

// A project together with the folder it lives in; what is opened, saved and shown.
struct CaptureDocument
{
    CaptureProject project;
    QString directory; // absolute path of the project folder

    bool operator==(const CaptureDocument&) const = default;
};

// The starting point of a manual project: a new id, created now, sides A and B of record 1
// with one placeholder track each.
CaptureProject emptyDraft();

} // namespace brevalo
