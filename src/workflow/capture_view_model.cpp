#include "workflow/capture_view_model.h"

#include "capture/safe_file_name.h"
#include "discogs/release_mapping.h"
#include "export/track_export.h"
#include "monitor/monitor_view_model.h"
#include "platform/audio/audio_system.h"
#include "recording/native_recorder.h"
#include "recording/waveform.h"
#include "workflow/capture_edits.h"
#include "workflow/capture_meter_rule.h"
#include "workflow/draft_layout.h"
#include "workflow/review_geometry.h"
#include "workflow/take_recovery.h"

#include <QCoreApplication>
#include <QFile>
#include <QFutureWatcher>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <utility>

namespace brevalo {

namespace {

const QString noStorageLabel = QStringLiteral("Choose project storage\u2026");
const QString unassignedSideLabel = QStringLiteral("?");
const QString enterReleaseText =
    QStringLiteral("Enter a Release ID, Discogs release URL, or [r123] reference.");
const QString enterSearchText = QStringLiteral("Enter an artist or album title.");
const QString unassignedWarning =
    QStringLiteral("Some positions don't identify a physical side. Assign those tracks to records "
                   "and sides before creating the project.");
const QString confirmWarning =
    QStringLiteral("Confirm the edition, physical sides, and track list against your copy. "
                   "Discogs positions may need correction.");
const QString coverFailedSuffix = QStringLiteral(" Cover download failed; choose a local image.");
const QString stalledText =
    QStringLiteral("The input stopped delivering audio. The interrupted take was retained.");
const QString accessText =
    QStringLiteral("Allow audio input access in the system settings to record.");
const QString unrecordedSideText = QStringLiteral("Select an unrecorded side.");
const QString unsavedTakeText = QStringLiteral(
    "The project manifest couldn't be saved. The master is retained in the Masters folder.");

QString describe(const std::exception& error)
{
    return QString::fromUtf8(error.what());
}

bool hasUnassignedSide(const CaptureProject& project)
{
    return std::any_of(project.sides.begin(), project.sides.end(),
                       [](const CaptureSide& side) { return side.label == unassignedSideLabel; });
}

// Continues a future on the context's thread: done with the value, or failed with the error's
// description (an empty text when the future was cancelled without an error).
template <typename T, typename Done, typename Failed>
void whenFinished(QObject* context, QFuture<T> future, Done done, Failed failed)
{
    auto* watcher = new QFutureWatcher<T>(context);
    QObject::connect(watcher, &QFutureWatcherBase::finished, context,
                     [watcher, future, done, failed]() mutable {
                         watcher->deleteLater();
                         if (future.resultCount() > 0) {
                             done(future.result());
                             return;
                         }
                         try {
                             future.waitForFinished();
                         } catch (const std::exception& error) {
                             failed(describe(error));
                             return;
                         } catch (...) {
                         }
                         failed(QString());
                     });
    watcher->setFuture(future);
}

// What a background task hands back to the main thread: a value, or the failure's description,
// or neither when it was cancelled (a cancellation is never shown).
template <typename T> struct Outcome
{
    std::optional<T> value;
    QString failure;
};

template <typename T, typename Work> Outcome<T> attempt(Work work)
{
    Outcome<T> outcome;
    try {
        outcome.value = work();
    } catch (const CancellationError&) {
    } catch (const ExportCancelled&) {
    } catch (const std::exception& error) {
        outcome.failure = describe(error);
    }
    return outcome;
}

std::filesystem::path fileSystemPath(const QString& path)
{
    return std::filesystem::path(QFile::encodeName(path).toStdString());
}

} // namespace

CaptureViewModel::CaptureViewModel(MonitorViewModel* monitor, Options options, QObject* parent)
    : QObject(parent),
      storage_(options.settings ? options.settings : std::make_shared<QSettings>(), options.panels),
      tokenStore_(options.keychain ? options.keychain : makeSecretServiceKeychain()),
      monitor_(monitor), draft_(emptyDraft())
{
    if (options.scheduler != nullptr) {
        scheduler_ = options.scheduler;
    } else {
        ownedScheduler_ = std::make_unique<QtMainThreadScheduler>();
        scheduler_ = ownedScheduler_.get();
    }
    discogs_ = new DiscogsClient(options.discogs, options.network, this);
    audio_ = options.audio != nullptr ? options.audio
                                      : (monitor != nullptr ? &monitor->audioSystem() : nullptr);
    if (audio_ != nullptr) {
        recorder_ = std::make_unique<NativeRecorder>(*audio_);
        player_ = std::make_unique<CaptureReviewPlayer>(*audio_, options.review);
        // Playback that ends by itself (segment end, output gone) shows at once.
        player_->setStoppedHandler([this] { publishPlayer(); });
    }
    if (monitor != nullptr) {
        // Review follows the output the monitor window routes to.
        connect(monitor, &MonitorViewModel::outputDeviceChanged, this,
                &CaptureViewModel::followOutputDevice);
        followOutputDevice();
    }
    token_ = tokenStore_.loadToken();
    updateLibraryPath();
    schedulePoll(pollInterval);
}

CaptureViewModel::~CaptureViewModel()
{
    pollTask_.reset();
    cancelWaveform();
    stopExport();
}

// Published state

template <typename T>
bool CaptureViewModel::assign(T& field, const T& value, void (CaptureViewModel::*changed)())
{
    if (field == value) {
        return false;
    }
    field = value;
    emit(this->*changed)();
    return true;
}

const CaptureSide* CaptureViewModel::selectedSide() const
{
    if (!document_ || !selectedSideID_) {
        return nullptr;
    }
    return document_->project.side(*selectedSideID_);
}

bool CaptureViewModel::canRecord() const
{
    const CaptureSide* side = selectedSide();
    return side != nullptr && !side->master && !isBusy();
}

bool CaptureViewModel::canExportSelectedSide() const
{
    const CaptureSide* side = selectedSide();
    return side != nullptr && isExportable(*side) && !isBusy();
}

bool CaptureViewModel::canExportAllSides() const
{
    return document_ && !document_->project.sides.isEmpty() && !isBusy() &&
           std::all_of(document_->project.sides.begin(), document_->project.sides.end(),
                       [](const CaptureSide& side) { return isExportable(side); });
}

bool CaptureViewModel::canDiscardTake() const
{
    const CaptureSide* side = selectedSide();
    return side != nullptr && side->master && !isBusy();
}

void CaptureViewModel::setShowsNewProject(bool shows)
{
    if (assign(showsNewProject_, shows, &CaptureViewModel::showsNewProjectChanged)) {
        emit derivedStateChanged();
    }
}

void CaptureViewModel::setShowsMetadataEditor(bool shows)
{
    if (assign(showsMetadataEditor_, shows, &CaptureViewModel::showsMetadataEditorChanged)) {
        emit derivedStateChanged();
    }
}

void CaptureViewModel::setDraft(const CaptureProject& draft)
{
    assign(draft_, draft, &CaptureViewModel::draftChanged);
}

void CaptureViewModel::setReleaseInput(const QString& text)
{
    assign(releaseInput_, text, &CaptureViewModel::releaseInputChanged);
}

void CaptureViewModel::setSearchArtist(const QString& text)
{
    assign(searchArtist_, text, &CaptureViewModel::searchArtistChanged);
}

void CaptureViewModel::setSearchAlbum(const QString& text)
{
    assign(searchAlbum_, text, &CaptureViewModel::searchAlbumChanged);
}

void CaptureViewModel::setToken(const QString& text)
{
    assign(token_, text, &CaptureViewModel::tokenChanged);
}

void CaptureViewModel::setSelectedMarker(const std::optional<qsizetype>& index)
{
    assign(selectedMarker_, index, &CaptureViewModel::selectedMarkerChanged);
}

void CaptureViewModel::setAddMarkersOnClick(bool enabled)
{
    assign(addMarkersOnClick_, enabled, &CaptureViewModel::addMarkersOnClickChanged);
}

void CaptureViewModel::clearError()
{
    setError(std::nullopt);
}

void CaptureViewModel::clearNotice()
{
    setNotice(std::nullopt);
}

void CaptureViewModel::setDocument(const std::optional<CaptureDocument>& document)
{
    if (assign(document_, document, &CaptureViewModel::documentChanged)) {
        emit derivedStateChanged();
    }
}

void CaptureViewModel::setSelectedSideID(const std::optional<QUuid>& sideID)
{
    if (assign(selectedSideID_, sideID, &CaptureViewModel::selectedSideIDChanged)) {
        emit derivedStateChanged();
    }
}

void CaptureViewModel::selectFirstSide()
{
    std::optional<QUuid> first;
    if (document_ && !document_->project.sides.isEmpty()) {
        first = document_->project.sides.first().id;
    }
    selectSide(first);
}

void CaptureViewModel::setRecording(bool recording)
{
    if (assign(isRecording_, recording, &CaptureViewModel::isRecordingChanged)) {
        updateInputSelectionLock();
        emit derivedStateChanged();
    }
}

void CaptureViewModel::setFinalizing(bool finalizing)
{
    if (assign(isFinalizing_, finalizing, &CaptureViewModel::isFinalizingChanged)) {
        updateInputSelectionLock();
        emit derivedStateChanged();
    }
}

void CaptureViewModel::setExporting(bool exporting)
{
    if (assign(isExporting_, exporting, &CaptureViewModel::isExportingChanged)) {
        emit derivedStateChanged();
    }
}

void CaptureViewModel::setError(const std::optional<QString>& text)
{
    assign(error_, text, &CaptureViewModel::errorChanged);
}

void CaptureViewModel::setNotice(const std::optional<QString>& text)
{
    assign(notice_, text, &CaptureViewModel::noticeChanged);
}

void CaptureViewModel::setFetching(bool fetching)
{
    assign(isFetching_, fetching, &CaptureViewModel::isFetchingChanged);
}

void CaptureViewModel::setDraftWarning(const std::optional<QString>& text)
{
    assign(draftWarning_, text, &CaptureViewModel::draftWarningChanged);
}

void CaptureViewModel::setDraftArtwork(const std::optional<QByteArray>& bytes)
{
    assign(draftArtwork_, bytes, &CaptureViewModel::draftArtworkChanged);
}

void CaptureViewModel::setPlayhead(qint64 frame)
{
    assign(playhead_, frame, &CaptureViewModel::playheadChanged);
}

void CaptureViewModel::setPlaying(bool playing)
{
    assign(isPlaying_, playing, &CaptureViewModel::isPlayingChanged);
}

void CaptureViewModel::setVisibleRange(const FrameRange& range)
{
    assign(visibleRange_, range, &CaptureViewModel::visibleRangeChanged);
}

void CaptureViewModel::setLoadingWaveform(bool loading)
{
    assign(isLoadingWaveform_, loading, &CaptureViewModel::isLoadingWaveformChanged);
}

void CaptureViewModel::updateLibraryPath()
{
    assign(libraryPath_, storage_.library().value_or(noStorageLabel),
           &CaptureViewModel::libraryPathChanged);
}

// The monitor window must not change the input device or pair from the moment a take is armed
// until its master is finalized.
void CaptureViewModel::updateInputSelectionLock()
{
    if (monitor_) {
        monitor_->setInputSelectionLocked(isRecording_ || isFinalizing_);
    }
}

// Edit transactions

bool CaptureViewModel::editProject(const std::function<bool(CaptureProject&)>& change)
{
    if (!document_) {
        return false;
    }
    CaptureDocument copy = *document_;
    if (!change(copy.project)) {
        return false;
    }
    try {
        storage_.save(copy);
    } catch (const std::exception& failure) {
        setError(describe(failure));
        return false;
    }
    setDocument(copy);
    return true;
}

bool CaptureViewModel::editSelectedSide(const std::function<bool(CaptureSide&)>& change)
{
    if (!selectedSideID_) {
        return false;
    }
    const QUuid sideID = *selectedSideID_;
    return editProject([&](CaptureProject& project) {
        CaptureSide* side = project.side(sideID);
        return side != nullptr && change(*side);
    });
}

// Storage and projects

void CaptureViewModel::chooseStorage()
{
    try {
        storage_.chooseLibrary();
    } catch (const std::exception& failure) {
        setError(describe(failure));
    }
    updateLibraryPath();
}

void CaptureViewModel::beginNewProject()
{
    if (isBusy()) {
        return;
    }
    setDraft(emptyDraft());
    setDraftArtwork(std::nullopt);
    assign(hasFetchedRelease_, false, &CaptureViewModel::hasFetchedReleaseChanged);
    assign(searchResults_, QList<DiscogsSearchResult>(), &CaptureViewModel::searchResultsChanged);
    setDraftWarning(std::nullopt);
    setError(std::nullopt);
    setShowsNewProject(true);
}

void CaptureViewModel::confirmDraft()
{
    if (hasUnassignedSide(draft_)) {
        setError(QStringLiteral("Assign every track to a physical side before creating the "
                                "project."));
        return;
    }
    CaptureDocument created;
    try {
        created = storage_.createProject(draft_, draftArtwork_);
    } catch (const std::exception& failure) {
        setError(describe(failure));
        return;
    }
    setDocument(created);
    selectFirstSide();
    updateLibraryPath();
    setShowsNewProject(false);
    // A refusal shown while composing the draft no longer applies.
    setError(std::nullopt);
    setNotice(QStringLiteral("Release confirmed. Select a side and record."));
}

void CaptureViewModel::openExistingProject()
{
    if (isBusy()) {
        return;
    }
    std::optional<CaptureDocument> opened;
    try {
        opened = storage_.openProject();
    } catch (const std::exception& failure) {
        setError(describe(failure));
        return;
    }
    if (!opened) {
        return;
    }
    recoverUnfinalizedTakes(*opened);
    setDocument(opened);
    std::optional<QUuid> first;
    if (!opened->project.sides.isEmpty()) {
        first = opened->project.sides.first().id;
    }
    setSelectedSideID(first);
    resetReview();
    setNotice(QStringLiteral("Project opened from local storage."));
}

void CaptureViewModel::beginMetadataEdit()
{
    if (isBusy() || !document_) {
        return;
    }
    setDraft(document_->project);
    setShowsMetadataEditor(true);
}

void CaptureViewModel::applyMetadataEdit()
{
    if (!document_) {
        return;
    }
    if (!keepsRecordedSides(document_->project, draft_)) {
        setError(QStringLiteral("A captured side can't be removed or have its master changed in "
                                "the metadata editor."));
        return;
    }
    const CaptureProject edited = draft_;
    if (edited != document_->project && !editProject([&](CaptureProject& project) {
            project = edited;
            return true;
        })) {
        return;
    }
    if (selectedSide() == nullptr) {
        selectFirstSide();
    }
    setShowsMetadataEditor(false);
}

void CaptureViewModel::chooseCover(CoverTarget target)
{
    if (target == CoverTarget::project && !document_) {
        return;
    }
    try {
        const std::optional<QByteArray> bytes = storage_.chooseArtwork();
        if (!bytes) {
            return;
        }
        if (target == CoverTarget::draft) {
            setDraftArtwork(bytes);
            return;
        }
        // The new file is written before the manifest names it; an earlier cover stays on disk.
        const QString path = storage_.saveArtwork(*bytes, *document_);
        editProject([&](CaptureProject& project) {
            project.artworkPath = path;
            return true;
        });
    } catch (const std::exception& failure) {
        setError(describe(failure));
    }
}

void CaptureViewModel::selectSide(const std::optional<QUuid>& sideID)
{
    if (sideID == selectedSideID_) {
        return;
    }
    setSelectedSideID(sideID);
    resetReview();
}

// Discogs

bool CaptureViewModel::storeToken()
{
    try {
        tokenStore_.saveToken(token_);
    } catch (const std::exception& failure) {
        setError(describe(failure));
        setFetching(false);
        return false;
    }
    return true;
}

void CaptureViewModel::fetchRelease(std::optional<qint64> searchHitID)
{
    if (isFetching_) {
        return;
    }
    std::optional<qint64> releaseID = searchHitID;
    if (!releaseID) {
        releaseID = parseReleaseID(releaseInput_);
    }
    if (!releaseID) {
        setError(enterReleaseText);
        return;
    }
    setFetching(true);
    setError(std::nullopt);
    if (!storeToken()) {
        return;
    }
    whenFinished(
        this, discogs_->fetchRelease(*releaseID, token_),
        [this](const DiscogsRelease& release) { applyFetchedRelease(release); },
        [this](const QString& message) {
            if (!message.isEmpty()) {
                setError(message);
            }
            finishFetch();
        });
}

void CaptureViewModel::searchReleases()
{
    if (isFetching_) {
        return;
    }
    // Only truly empty fields stop here; spaces are sent as typed, as the client sends them.
    if (searchArtist_.isEmpty() && searchAlbum_.isEmpty()) {
        setError(enterSearchText);
        return;
    }
    setFetching(true);
    setError(std::nullopt);
    if (!storeToken()) {
        return;
    }
    whenFinished(
        this, discogs_->searchReleases(searchArtist_, searchAlbum_, token_),
        [this](const QList<DiscogsSearchResult>& results) {
            assign(searchResults_, results, &CaptureViewModel::searchResultsChanged);
            finishFetch();
        },
        [this](const QString& message) {
            if (!message.isEmpty()) {
                setError(message);
            }
            finishFetch();
        });
}

void CaptureViewModel::applyFetchedRelease(const DiscogsRelease& release)
{
    CaptureProject fetched = makeProjectDraft(release);
    // The user's choice of source medium survives a fetch.
    fetched.source = draft_.source;
    setDraft(fetched);
    setDraftArtwork(std::nullopt);
    assign(hasFetchedRelease_, true, &CaptureViewModel::hasFetchedReleaseChanged);
    setDraftWarning(hasUnassignedSide(fetched) ? unassignedWarning : confirmWarning);

    const std::optional<QString> cover = coverImageURL(release);
    if (!cover) {
        finishFetch();
        return;
    }
    const auto coverFailed = [this] {
        setDraftWarning(draftWarning_.value_or(QString()) + coverFailedSuffix);
        finishFetch();
    };
    whenFinished(
        this, discogs_->downloadArtwork(*cover),
        [this, coverFailed](const QByteArray& bytes) {
            try {
                setDraftArtwork(CaptureStorage::normalizeArtwork(bytes));
            } catch (const std::exception&) {
                coverFailed();
                return;
            }
            finishFetch();
        },
        [coverFailed](const QString&) { coverFailed(); });
}

void CaptureViewModel::finishFetch()
{
    setFetching(false);
}

// Draft layout

void CaptureViewModel::addDraftSide()
{
    CaptureProject edited = draft_;
    brevalo::addDraftSide(edited);
    setDraft(edited);
}

void CaptureViewModel::deleteDraftSide(const QUuid& sideID)
{
    CaptureProject edited = draft_;
    brevalo::deleteDraftSide(edited, sideID);
    setDraft(edited);
}

void CaptureViewModel::addDraftTrack(const QUuid& sideID)
{
    CaptureProject edited = draft_;
    if (CaptureSide* side = edited.side(sideID)) {
        brevalo::addDraftTrack(*side);
        setDraft(edited);
    }
}

void CaptureViewModel::deleteDraftTrack(const QUuid& sideID, const QUuid& trackID)
{
    CaptureProject edited = draft_;
    if (CaptureSide* side = edited.side(sideID)) {
        brevalo::deleteDraftTrack(*side, trackID);
        setDraft(edited);
    }
}

void CaptureViewModel::moveDraftTrack(const QUuid& sideID, qsizetype index, int step)
{
    CaptureProject edited = draft_;
    if (CaptureSide* side = edited.side(sideID)) {
        brevalo::moveDraftTrack(*side, index, step);
        setDraft(edited);
    }
}

void CaptureViewModel::moveDraftTrackToSide(const QUuid& trackID, const QUuid& sourceSideID,
                                            const QUuid& destinationSideID)
{
    CaptureProject edited = draft_;
    brevalo::moveDraftTrackToSide(edited, trackID, sourceSideID, destinationSideID);
    setDraft(edited);
}

// Takes and recordings

void CaptureViewModel::acceptTake()
{
    editSelectedSide([](CaptureSide& side) {
        if (!side.master || side.master->frameCount < 1 || side.master->isComplete) {
            return false;
        }
        side.master->isComplete = true;
        return true;
    });
}

void CaptureViewModel::discardTake()
{
    if (!canDiscardTake()) {
        return;
    }
    const QString name = selectedSide()->displayName();
    if (!editSelectedSide([](CaptureSide& side) { return brevalo::discardTake(side); })) {
        return;
    }
    resetReview();
    setNotice(QStringLiteral("Removed the take from ") + name +
              QStringLiteral(". Its master file stays in the Masters folder; the side can be "
                             "recorded again."));
}

bool CaptureViewModel::swapSideRecordings(const QUuid& a, const QUuid& b)
{
    if (isBusy() || showsNewProject_ || showsMetadataEditor_ || !document_) {
        return false;
    }
    const CaptureSide* first = document_->project.side(a);
    const CaptureSide* second = document_->project.side(b);
    if (first == nullptr || second == nullptr) {
        return false;
    }
    const QString names = first->displayName() + QStringLiteral(" and ") + second->displayName();
    if (!editProject([&](CaptureProject& project) { return project.swapRecordings(a, b); })) {
        return false;
    }
    if (selectedSideID_ == b) {
        resetReview();
    } else {
        selectSide(b);
    }
    setNotice(QStringLiteral("Swapped recordings and boundaries for ") + names +
              QStringLiteral(". Each side kept its tracklist."));
    return true;
}

// Boundaries and trims

void CaptureViewModel::addBoundary(qint64 frame)
{
    if (isBusy()) {
        return;
    }
    std::optional<qsizetype> added;
    if (editSelectedSide([&](CaptureSide& side) {
            added = brevalo::addBoundary(side, frame);
            return added.has_value();
        })) {
        setSelectedMarker(added);
    }
}

void CaptureViewModel::addBoundaryAtPlayhead()
{
    addBoundary(playhead_);
}

void CaptureViewModel::moveBoundary(qsizetype index, qint64 frame)
{
    if (isBusy()) {
        return;
    }
    editSelectedSide([&](CaptureSide& side) {
        const CaptureSide before = side;
        return brevalo::moveBoundary(side, index, frame) && side != before;
    });
}

void CaptureViewModel::deleteBoundary(qsizetype index)
{
    if (isBusy()) {
        return;
    }
    editSelectedSide([&](CaptureSide& side) { return brevalo::deleteBoundary(side, index); });
}

void CaptureViewModel::deleteSelectedBoundary()
{
    if (isBusy() || !selectedMarker_) {
        return;
    }
    deleteBoundary(*selectedMarker_);
    setSelectedMarker(std::nullopt);
}

void CaptureViewModel::setTrimStart(qint64 frame)
{
    if (isBusy()) {
        return;
    }
    if (editSelectedSide([&](CaptureSide& side) {
            const CaptureSide before = side;
            return brevalo::setTrimStart(side, frame) && side != before;
        })) {
        refreshPlaybackAfterEdit();
    }
}

void CaptureViewModel::setTrimEnd(qint64 frame)
{
    if (isBusy()) {
        return;
    }
    if (editSelectedSide([&](CaptureSide& side) {
            const CaptureSide before = side;
            return brevalo::setTrimEnd(side, frame) && side != before;
        })) {
        refreshPlaybackAfterEdit();
    }
}

void CaptureViewModel::resetTrim()
{
    if (isBusy()) {
        return;
    }
    if (editSelectedSide([](CaptureSide& side) { return brevalo::resetTrim(side); })) {
        refreshPlaybackAfterEdit();
    }
}

// Review

void CaptureViewModel::scrollTo(double fraction)
{
    const CaptureSide* side = selectedSide();
    if (side == nullptr || !side->master) {
        return;
    }
    setVisibleRange(scrolledRange(visibleRange_, fraction, side->master->frameCount));
    loadWaveform();
}

void CaptureViewModel::zoom(double factor)
{
    const CaptureSide* side = selectedSide();
    if (side == nullptr || !side->master) {
        return;
    }
    setVisibleRange(zoomedRange(visibleRange_, factor, playhead_, side->master->frameCount));
    loadWaveform();
}

void CaptureViewModel::togglePlayback()
{
    const CaptureSide* side = selectedSide();
    if (!player_ || !playerLoaded_ || side == nullptr) {
        return;
    }
    if (player_->isPlaying()) {
        player_->pause();
        publishPlayer();
        return;
    }
    const qint64 start = trimmedStart(*side);
    const qint64 end = trimmedEnd(*side);
    if (start >= end) {
        return;
    }
    const qint64 current = player_->currentFrame();
    play(current >= start && current < end ? current : start, end);
}

void CaptureViewModel::auditionBoundary(qsizetype index, bool before)
{
    const CaptureSide* side = selectedSide();
    if (isBusy() || !playerLoaded_ || side == nullptr || !side->master || index < 0 ||
        index >= side->markers.size()) {
        return;
    }
    const qint64 marker = side->markers.at(index);
    const auto reach = static_cast<qint64>(2.0 * side->master->sampleRate);
    if (before) {
        play(std::max(trimmedStart(*side), marker - reach), marker);
    } else {
        play(marker, std::min(marker + reach, trimmedEnd(*side)));
    }
}

void CaptureViewModel::seek(qint64 frame)
{
    if (!player_) {
        return;
    }
    const CaptureSide* side = selectedSide();
    try {
        if (side != nullptr && player_->isPlaying() &&
            (frame < trimmedStart(*side) || frame >= trimmedEnd(*side))) {
            player_->pause();
        }
        if (player_->isPlaying()) {
            std::optional<qint64> end;
            if (side != nullptr) {
                end = trimmedEnd(*side);
            }
            player_->play(frame, end);
        } else {
            player_->setAnchor(playerLoaded_ ? frame : 0);
        }
    } catch (const std::exception& failure) {
        setError(describe(failure));
    }
    publishPlayer();
}

void CaptureViewModel::jumpToNextStop()
{
    if (const CaptureSide* side = selectedSide()) {
        seek(nextStop(*side, playhead_));
    }
}

void CaptureViewModel::jumpToPreviousStop()
{
    if (const CaptureSide* side = selectedSide()) {
        seek(previousStop(*side, playhead_));
    }
}

void CaptureViewModel::play(qint64 start, std::optional<qint64> end)
{
    try {
        player_->play(start, end);
    } catch (const std::exception& failure) {
        setError(describe(failure));
    }
    publishPlayer();
}

void CaptureViewModel::publishPlayer()
{
    if (!player_ || !playerLoaded_) {
        return;
    }
    setPlayhead(player_->currentFrame());
    setPlaying(player_->isPlaying());
}

void CaptureViewModel::followOutputDevice()
{
    if (!player_ || !monitor_ || !monitor_->outputDevice()) {
        return;
    }
    try {
        player_->selectOutput(monitor_->outputDevice()->id);
    } catch (const std::exception& failure) {
        // The player stays on its previous output; the user learns why review may not follow.
        setError(QString::fromUtf8(failure.what()));
    }
    publishPlayer();
}

void CaptureViewModel::resetReview()
{
    cancelWaveform();
    setLoadingWaveform(false);
    stopPlayback();
    playerLoaded_ = false;
    setSelectedMarker(std::nullopt);
    setPlayhead(0);
    setPlaying(false);
    setWaveform({});
    if (isRecording_) {
        return;
    }
    const CaptureSide* side = selectedSide();
    if (side == nullptr || !side->master || side->master->frameCount < 1) {
        return;
    }
    if (player_) {
        try {
            player_->load(fileSystemPath(CaptureStorage::resolve(*document_, side->master->path)));
            player_->setAnchor(side->trimStartFrame.value_or(0));
            playerLoaded_ = true;
            setPlayhead(player_->currentFrame());
        } catch (const std::exception& failure) {
            setError(describe(failure));
        }
    }
    setVisibleRange({0, side->master->frameCount});
    loadWaveform();
}

void CaptureViewModel::cancelWaveform()
{
    waveformCancel_.cancel();
    // Results of older loads carry an older generation and are dropped.
    reviewGeneration_ = QUuid::createUuid();
}

void CaptureViewModel::setWaveform(const QList<WaveformPeak>& peaks)
{
    assign(waveform_, peaks, &CaptureViewModel::waveformChanged);
}

void CaptureViewModel::loadWaveform()
{
    cancelWaveform();
    const CaptureSide* side = selectedSide();
    if (side == nullptr || !side->master) {
        setLoadingWaveform(false);
        return;
    }
    waveformCancel_ = CancellationToken();
    setLoadingWaveform(true);
    const QUuid generation = reviewGeneration_;
    auto future = QtConcurrent::run(
        [document = *document_, side = *side, range = visibleRange_, cancel = waveformCancel_] {
            return attempt<QList<WaveformPeak>>([&] {
                return brevalo::loadWaveform(document, side, range.start, range.end,
                                             waveformColumns, cancel);
            });
        });
    whenFinished(
        this, future,
        [this, generation](const Outcome<QList<WaveformPeak>>& outcome) {
            if (generation != reviewGeneration_) {
                return;
            }
            if (outcome.value) {
                setWaveform(*outcome.value);
            } else if (!outcome.failure.isEmpty()) {
                setError(outcome.failure);
            }
            setLoadingWaveform(false);
        },
        [this, generation](const QString&) {
            if (generation == reviewGeneration_) {
                setLoadingWaveform(false);
            }
        });
}

void CaptureViewModel::stopPlayback()
{
    if (player_) {
        player_->stop();
    }
    setPlaying(false);
}

void CaptureViewModel::refreshPlaybackAfterEdit()
{
    const CaptureSide* side = selectedSide();
    if (!player_ || !player_->isPlaying() || side == nullptr) {
        return;
    }
    const qint64 current = player_->currentFrame();
    const qint64 end = trimmedEnd(*side);
    if (current < end) {
        play(std::max(trimmedStart(*side), current), end);
    } else {
        player_->pause();
        publishPlayer();
    }
}

// Poll loop

void CaptureViewModel::schedulePoll(std::chrono::nanoseconds delay)
{
    // Each pass schedules the next, so a slow pass delays the poll instead of piling passes up.
    pollTask_ = scheduler_->schedule(delay, [this] {
        poll();
        if (!isShutDown_) {
            schedulePoll(pollInterval);
        }
    });
}

void CaptureViewModel::poll()
{
    if (isRecording_ && !isFinalizing_) {
        pollTake();
    }
    publishPlayer();
}

void CaptureViewModel::pollTake()
{
    const auto now = scheduler_->now();
    const TakeProgress progress = readTakeProgress().value_or(TakeProgress{});
    const double seconds = progress.sampleRate > 0
                               ? static_cast<double>(progress.framesWritten) / progress.sampleRate
                               : 0.0;
    assign(elapsed_, seconds, &CaptureViewModel::elapsedChanged);
    assign(leftMeter_, CaptureMeterRule::next(leftMeter_, progress.leftPeak, now, leftPeakHold_),
           &CaptureViewModel::leftMeterChanged);
    assign(rightMeter_,
           CaptureMeterRule::next(rightMeter_, progress.rightPeak, now, rightPeakHold_),
           &CaptureViewModel::rightMeterChanged);
    if (elapsed_ != lastElapsed_) {
        lastElapsed_ = elapsed_;
        lastProgress_ = now;
    }
    if (progress.interruption) {
        requestStop(progress.interruption);
    } else if (now - lastProgress_ > stallTimeout) {
        requestStop(stalledText);
    }
}

std::optional<CaptureViewModel::TakeProgress> CaptureViewModel::readTakeProgress()
{
    if (!recorder_ || !recorder_->isRecording()) {
        return std::nullopt;
    }
    TakeProgress progress;
    progress.framesWritten = static_cast<qint64>(recorder_->framesWritten());
    progress.sampleRate = takeSampleRate_;
    progress.leftPeak = recorder_->takePeak(0);
    progress.rightPeak = recorder_->takePeak(1);
    progress.interruption = recorder_->interruptionMessage();
    return progress;
}

// Recording

void CaptureViewModel::startRecording()
{
    if (!canRecord() || !monitor_ || !recorder_) {
        return;
    }
    const std::optional<AudioInputDevice> device = monitor_->selectedInputDevice();
    const std::optional<AudioChannelPair> pair = monitor_->selectedChannelPair();
    if (!device || !pair) {
        return;
    }
    setFinalizing(true);
    AudioCapturePermission& permission = audio_->capturePermission();
    const AudioCaptureAuthorization status = permission.authorizationStatus();
    if (status == AudioCaptureAuthorization::authorized) {
        armTake(*device, *pair);
    } else if (status != AudioCaptureAuthorization::notDetermined) {
        failStart(accessText);
    } else {
        // The answer arrives on a backend thread; the take is armed on the main thread, and only
        // while this controller (deleted on the main thread) still exists.
        QPointer<CaptureViewModel> self(this);
        permission.requestAccess([self, device = *device, pair = *pair](bool granted) {
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [self, device, pair, granted] {
                    if (!self || self->isShutDown_) {
                        return;
                    }
                    if (granted) {
                        self->armTake(device, pair);
                    } else {
                        self->failStart(accessText);
                    }
                },
                Qt::QueuedConnection);
        });
    }
}

void CaptureViewModel::armTake(const AudioInputDevice& device, const AudioChannelPair& pair)
{
    const CaptureSide* side = selectedSide();
    if (side == nullptr || side->master) {
        failStart(unrecordedSideText);
        return;
    }
    stopPlayback();
    playerLoaded_ = false;
    const QUuid sideID = side->id;
    const QString relative = QStringLiteral("Masters/Record ") + QString::number(side->record) +
                             QStringLiteral(" - Side ") + safeFileNameComponent(side->label) +
                             QStringLiteral(" - ") +
                             QUuid::createUuid().toString(QUuid::WithoutBraces).left(8).toUpper() +
                             QStringLiteral(".caf");
    CaptureMaster master;
    try {
        const QString location = CaptureStorage::resolve(*document_, relative);
        master = recorder_->start({device.id, device.uid, device.bufferFrameSize}, pair.leftChannel,
                                  pair.rightChannel, location, relative);
    } catch (const std::exception& failure) {
        failStart(describe(failure));
        return;
    }
    CaptureDocument copy = *document_;
    copy.project.side(sideID)->master = master;
    setDocument(copy);
    recordingSideID_ = sideID;
    try {
        storage_.save(copy);
    } catch (const std::exception& failure) {
        // The take cannot be tracked by the manifest: end it and keep what was written, marked
        // so that the side shows why it is incomplete.
        CaptureMaster kept = recorder_->stop().value_or(master);
        kept.isComplete = false;
        kept.interruption = unsavedTakeText;
        copy.project.side(sideID)->master = kept;
        setDocument(copy);
        recordingSideID_.reset();
        failStart(QStringLiteral("Couldn't save the project metadata. The take is retained at ") +
                  relative + QStringLiteral(". ") + describe(failure));
        return;
    }
    takeSampleRate_ = master.sampleRate;
    assign(elapsed_, 0.0, &CaptureViewModel::elapsedChanged);
    lastElapsed_ = 0;
    lastProgress_ = scheduler_->now();
    assign(captureFormat_, master.clientFormat, &CaptureViewModel::captureFormatChanged);
    assign(leftMeter_, MeterReading{}, &CaptureViewModel::leftMeterChanged);
    assign(rightMeter_, MeterReading{}, &CaptureViewModel::rightMeterChanged);
    leftPeakHold_ = MainThreadScheduler::TimePoint::min();
    rightPeakHold_ = MainThreadScheduler::TimePoint::min();
    setRecording(true);
    setFinalizing(false);
    setNotice(std::nullopt);
}

void CaptureViewModel::failStart(const QString& message)
{
    setError(message);
    setFinalizing(false);
}

void CaptureViewModel::stopRecording()
{
    requestStop(std::nullopt);
}

void CaptureViewModel::requestStop(const std::optional<QString>& reason)
{
    if (!isRecording_ || isFinalizing_ || !recorder_) {
        return;
    }
    setFinalizing(true);
    // The recorder owns the completion and drops it when it is destroyed with this controller.
    recorder_->finish(
        [this, reason](std::optional<CaptureMaster> master) { finishTake(master, reason); });
}

void CaptureViewModel::finishTake(std::optional<CaptureMaster> master,
                                  const std::optional<QString>& reason)
{
    // After shutdown the take was already stored by the synchronous stop.
    if (isShutDown_) {
        return;
    }
    if (master) {
        if (reason) {
            master->isComplete = false;
            master->interruption = reason;
        }
        finalizeSide(*master);
    }
    recordingSideID_.reset();
    setRecording(false);
    setFinalizing(false);
    resetReview();
}

void CaptureViewModel::finalizeSide(const CaptureMaster& master)
{
    const std::optional<QUuid> sideID = std::exchange(recordingSideID_, std::nullopt);
    if (!document_ || !sideID || document_->project.side(*sideID) == nullptr) {
        return;
    }
    CaptureDocument copy = *document_;
    CaptureSide& side = *copy.project.side(*sideID);
    side.master = master;
    setDocument(copy);
    try {
        storage_.save(copy);
    } catch (const std::exception& failure) {
        setError(describe(failure));
    }
    if (master.interruption) {
        setError(master.interruption);
    } else {
        const auto boundaries = std::max<qsizetype>(side.tracks.size() - 1, 0);
        setNotice(QStringLiteral("Side master saved. Place ") + QString::number(boundaries) +
                  QStringLiteral(" internal boundaries for the expected tracks."));
    }
}

// Export

void CaptureViewModel::exportTracks(const std::optional<QUuid>& sideID)
{
    if (isBusy() || !document_) {
        return;
    }
    std::optional<QString> destination;
    try {
        destination = storage_.chooseExportDestination();
    } catch (const std::exception& failure) {
        setError(describe(failure));
        return;
    }
    if (!destination) {
        return;
    }
    setExporting(true);
    stopPlayback();
    setExportProgress({});
    exportStop_ = std::stop_source();
    exportGeneration_ = QUuid::createUuid();
    const QUuid generation = exportGeneration_;

    // The export thread reports often; at most one report waits in the event queue, carrying
    // the latest figures. The controller waits for the task before it goes away.
    struct Reports
    {
        std::mutex mutex;
        ExportProgress latest;
        bool posted = false;
    };
    auto reports = std::make_shared<Reports>();
    ExportOptions options;
    options.stop = exportStop_.get_token();
    options.progress = [this, reports, generation](const ExportProgress& progress) {
        const std::lock_guard lock(reports->mutex);
        reports->latest = progress;
        if (std::exchange(reports->posted, true)) {
            return;
        }
        QMetaObject::invokeMethod(
            this,
            [this, reports, generation] {
                ExportProgress latest;
                {
                    const std::lock_guard taken(reports->mutex);
                    latest = reports->latest;
                    reports->posted = false;
                }
                if (generation == exportGeneration_ && isExporting_) {
                    setExportProgress(latest);
                }
            },
            Qt::QueuedConnection);
    };
    auto future = QtConcurrent::run(
        [document = *document_, destination = *destination, sideID, options = std::move(options)] {
            return attempt<CaptureExportResult>(
                [&] { return exportSides(document, destination, sideID, options); });
        });
    exportTask_ = QFuture<void>(future);
    whenFinished(
        this, future,
        [this, generation](const Outcome<CaptureExportResult>& outcome) {
            finishExport(generation, outcome.value, outcome.failure);
        },
        [this, generation](const QString& failure) {
            finishExport(generation, std::nullopt, failure);
        });
}

void CaptureViewModel::cancelExport()
{
    if (isExporting_) {
        exportStop_.request_stop();
    }
}

void CaptureViewModel::finishExport(const QUuid& generation,
                                    const std::optional<CaptureExportResult>& result,
                                    const QString& failure)
{
    if (generation != exportGeneration_ || isShutDown_) {
        return;
    }
    if (result) {
        setNotice(QStringLiteral("Exported ") + QString::number(result->trackCount) +
                  QStringLiteral(" tagged FLAC tracks with native resolution."));
    } else if (!failure.isEmpty()) {
        setError(failure);
    }
    setExportProgress({});
    setExporting(false);
}

void CaptureViewModel::setExportProgress(const ExportProgress& progress)
{
    const double fraction = progress.frameTotal > 0
                                ? std::clamp(static_cast<double>(progress.framesDone) /
                                                 static_cast<double>(progress.frameTotal),
                                             0.0, 1.0)
                                : 0.0;
    const qint64 track =
        progress.trackTotal > 0 ? std::min(progress.tracksDone + 1, progress.trackTotal) : 0;
    if (fraction == exportFraction_ && track == exportTrackNumber_ &&
        progress.trackTotal == exportTrackTotal_) {
        return;
    }
    exportFraction_ = fraction;
    exportTrackNumber_ = track;
    exportTrackTotal_ = progress.trackTotal;
    emit exportProgressChanged();
}

void CaptureViewModel::stopExport()
{
    exportStop_.request_stop();
    exportTask_.waitForFinished();
}

void CaptureViewModel::shutdown()
{
    if (isShutDown_) {
        return;
    }
    isShutDown_ = true;
    pollTask_.reset();
    // A take running at quit becomes a master before anything else stops.
    if (recorder_) {
        if (std::optional<CaptureMaster> master = recorder_->stop()) {
            finalizeSide(*master);
        }
    }
    setRecording(false);
    setFinalizing(false);
    cancelWaveform();
    stopExport();
    stopPlayback();
    storage_.releaseAllAccess();
}

} // namespace brevalo
