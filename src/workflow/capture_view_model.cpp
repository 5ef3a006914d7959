#include "workflow/capture_view_model.h"

#include "discogs/release_mapping.h"
#include "monitor/monitor_view_model.h"
#include "workflow/capture_edits.h"
#include "workflow/capture_meter_rule.h"
#include "workflow/draft_layout.h"
#include "workflow/review_geometry.h"
#include "workflow/take_recovery.h"

#include <QFutureWatcher>

#include <algorithm>
#include <exception>

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
    token_ = tokenStore_.loadToken();
    updateLibraryPath();
    schedulePoll(pollInterval);
}

CaptureViewModel::~CaptureViewModel()
{
    pollTask_.reset();
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
    if (searchArtist_.trimmed().isEmpty() && searchAlbum_.trimmed().isEmpty()) {
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

void CaptureViewModel::resetReview()
{
    // TODO(waveform): cancel the running load and publish an empty `waveform`.
    setLoadingWaveform(false);
    stopPlayback();
    setSelectedMarker(std::nullopt);
    setPlayhead(0);
    setPlaying(false);
    if (isRecording_) {
        return;
    }
    const CaptureSide* side = selectedSide();
    if (side == nullptr || !side->master || side->master->frameCount < 1) {
        return;
    }
    // TODO(review): resolve the master, load it into the player, anchor it at the start trim
    // (limited to the file's length) without playing and publish the player's frame as
    // `playhead`; a failure sets `error`.
    setVisibleRange({0, side->master->frameCount});
    loadWaveform();
}

void CaptureViewModel::loadWaveform()
{
    // Results of older loads carry an older generation and are dropped.
    reviewGeneration_ = QUuid::createUuid();
    // TODO(waveform): cancel the running load, set `isLoadingWaveform`, compute 1100 peak
    // columns of `visibleRange` on a background task and publish them on the main thread while
    // `reviewGeneration_` still matches; a failure other than cancellation sets `error`.
}

void CaptureViewModel::stopPlayback()
{
    // TODO(review): renew the player's generation and stop it.
    setPlaying(false);
}

void CaptureViewModel::refreshPlaybackAfterEdit()
{
    // TODO(review): while playing, continue from max(S, current frame) to the new E, or stop
    // when the current frame is at or beyond E; then publish `isPlaying` and `playhead`.
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
    // TODO(review): publish the player's playing state as `isPlaying` and its current frame as
    // `playhead`.
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
    // TODO(recording): frames written and peaks from the recorder's ring (none without a writer
    // or a master), and the recorder's interruption message.
    return std::nullopt;
}

void CaptureViewModel::requestStop(const std::optional<QString>& reason)
{
    // TODO(recording): stopRecording(reason): await the recorder's finish off the main thread,
    // mark the master interrupted with the reason, finalize the side and reset review.
    static_cast<void>(reason);
}

void CaptureViewModel::shutdown()
{
    if (isShutDown_) {
        return;
    }
    isShutDown_ = true;
    pollTask_.reset();
    // TODO(waveform): cancel the running load.
    stopPlayback();
    // TODO(recording): stop the recorder synchronously and, when it returns a master, finalize
    // the side with it before anything else is released.
    storage_.releaseAllAccess();
}

} // namespace brevalo
