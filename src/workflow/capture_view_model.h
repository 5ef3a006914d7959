#pragma once

// The one controller behind the capture window. It holds the open project, the selected side,
// the draft of the metadata sheet and the live state of recording, review and export, and
// publishes all of it as Qt properties that the views render. Every user action of the capture
// window is one of its operations.
//
// Every change to the open project is an edit transaction: the change is applied to a copy, the
// copy is validated and saved atomically, and only a saved copy is published. A failed save shows
// its description through `error` and leaves the project as it was.
//
// Threads: a QObject of the main thread. Every property, operation and signal belongs to it.
// Discogs replies arrive through the event loop; timing runs on the injectable scheduler. The
// closing of a take's master, waveform loads and exports run on other threads and report back
// through the event loop; a waveform or export result whose generation is no longer the latest is
// dropped. The controller waits for a running export when it goes away.

#include "capture/capture_project.h"
#include "capture/capture_storage.h"
#include "capture/file_panels.h"
#include "discogs/discogs_client.h"
#include "discogs/discogs_release.h"
#include "discogs/token_store.h"
#include "monitor/main_thread_scheduler.h"
#include "monitor/meter_reading.h"
#include "recording/cancellation.h"
#include "recording/capture_review_player.h"
#include "recording/waveform_peak.h"

#include <QByteArray>
#include <QFuture>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSettings>
#include <QString>
#include <QUuid>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>

class QNetworkAccessManager;

namespace brevalo {

class AudioSystem;
class MonitorViewModel;
class NativeRecorder;
struct AudioChannelPair;
struct AudioInputDevice;
struct CaptureExportResult;
struct ExportProgress;

struct CaptureViewModelOptions
{
    // Null: Qt timers on the controller's thread. Otherwise it must outlive the controller.
    MainThreadScheduler* scheduler = nullptr;
    // Where the library folder is remembered; null: the application's default settings.
    std::shared_ptr<QSettings> settings;
    // The folder and image pickers; null: every picker answers as if cancelled.
    std::shared_ptr<FilePanels> panels;
    // Holds the Discogs token; null: the desktop's Secret Service.
    std::shared_ptr<Keychain> keychain;
    DiscogsClientOptions discogs;
    // The application's shared network session; null: the Discogs client makes its own.
    QNetworkAccessManager* network = nullptr;
    // Records and plays back the takes; null: the monitor controller's. Without either, the
    // controller neither records nor plays. Must outlive the controller.
    AudioSystem* audio = nullptr;
    ReviewPlayerOptions review;
};

class CaptureViewModel final : public QObject
{
    Q_OBJECT

    // Published state.
    Q_PROPERTY(
        std::optional<brevalo::CaptureDocument> document READ document NOTIFY documentChanged)
    Q_PROPERTY(std::optional<QUuid> selectedSideID READ selectedSideID NOTIFY selectedSideIDChanged)
    Q_PROPERTY(bool isRecording READ isRecording NOTIFY isRecordingChanged)
    Q_PROPERTY(bool isFinalizing READ isFinalizing NOTIFY isFinalizingChanged)
    Q_PROPERTY(bool isExporting READ isExporting NOTIFY isExportingChanged)
    Q_PROPERTY(double elapsed READ elapsed NOTIFY elapsedChanged)
    Q_PROPERTY(QString captureFormat READ captureFormat NOTIFY captureFormatChanged)
    Q_PROPERTY(brevalo::MeterReading leftMeter READ leftMeter NOTIFY leftMeterChanged)
    Q_PROPERTY(brevalo::MeterReading rightMeter READ rightMeter NOTIFY rightMeterChanged)
    Q_PROPERTY(std::optional<QString> error READ error NOTIFY errorChanged)
    Q_PROPERTY(std::optional<QString> notice READ notice NOTIFY noticeChanged)
    Q_PROPERTY(bool showsNewProject READ showsNewProject WRITE setShowsNewProject NOTIFY
                   showsNewProjectChanged)
    Q_PROPERTY(bool showsMetadataEditor READ showsMetadataEditor WRITE setShowsMetadataEditor NOTIFY
                   showsMetadataEditorChanged)
    Q_PROPERTY(brevalo::CaptureProject draft READ draft WRITE setDraft NOTIFY draftChanged)
    Q_PROPERTY(std::optional<QByteArray> draftArtwork READ draftArtwork NOTIFY draftArtworkChanged)
    Q_PROPERTY(
        QString releaseInput READ releaseInput WRITE setReleaseInput NOTIFY releaseInputChanged)
    Q_PROPERTY(
        QString searchArtist READ searchArtist WRITE setSearchArtist NOTIFY searchArtistChanged)
    Q_PROPERTY(QString searchAlbum READ searchAlbum WRITE setSearchAlbum NOTIFY searchAlbumChanged)
    Q_PROPERTY(QString token READ token WRITE setToken NOTIFY tokenChanged)
    Q_PROPERTY(QList<brevalo::DiscogsSearchResult> searchResults READ searchResults NOTIFY
                   searchResultsChanged)
    Q_PROPERTY(bool isFetching READ isFetching NOTIFY isFetchingChanged)
    Q_PROPERTY(std::optional<QString> draftWarning READ draftWarning NOTIFY draftWarningChanged)
    Q_PROPERTY(bool hasFetchedRelease READ hasFetchedRelease NOTIFY hasFetchedReleaseChanged)
    Q_PROPERTY(QString libraryPath READ libraryPath NOTIFY libraryPathChanged)
    Q_PROPERTY(bool isLoadingWaveform READ isLoadingWaveform NOTIFY isLoadingWaveformChanged)
    Q_PROPERTY(brevalo::FrameRange visibleRange READ visibleRange NOTIFY visibleRangeChanged)
    Q_PROPERTY(qint64 playhead READ playhead NOTIFY playheadChanged)
    Q_PROPERTY(bool isPlaying READ isPlaying NOTIFY isPlayingChanged)
    Q_PROPERTY(std::optional<qsizetype> selectedMarker READ selectedMarker WRITE setSelectedMarker
                   NOTIFY selectedMarkerChanged)
    Q_PROPERTY(bool addMarkersOnClick READ addMarkersOnClick WRITE setAddMarkersOnClick NOTIFY
                   addMarkersOnClickChanged)
    Q_PROPERTY(QList<brevalo::WaveformPeak> waveform READ waveform NOTIFY waveformChanged)
    // While isExporting: the share of the export's frames written (0 ... 1) and the 1-based number
    // of the track being written out of exportTrackTotal.
    Q_PROPERTY(double exportFraction READ exportFraction NOTIFY exportProgressChanged)
    Q_PROPERTY(qint64 exportTrackNumber READ exportTrackNumber NOTIFY exportProgressChanged)
    Q_PROPERTY(qint64 exportTrackTotal READ exportTrackTotal NOTIFY exportProgressChanged)

    // Derived values: derivedStateChanged fires whenever one of them may have changed.
    Q_PROPERTY(bool isBusy READ isBusy NOTIFY derivedStateChanged)
    Q_PROPERTY(bool canRecord READ canRecord NOTIFY derivedStateChanged)
    Q_PROPERTY(bool canExportSelectedSide READ canExportSelectedSide NOTIFY derivedStateChanged)
    Q_PROPERTY(bool canExportAllSides READ canExportAllSides NOTIFY derivedStateChanged)
    Q_PROPERTY(bool canDiscardTake READ canDiscardTake NOTIFY derivedStateChanged)

public:
    using Options = CaptureViewModelOptions;

    enum class CoverTarget
    {
        draft,
        project
    };

    static constexpr std::chrono::milliseconds pollInterval{33};
    // A take whose written frame count has not grown for longer than this is stopped.
    static constexpr std::chrono::milliseconds stallTimeout{4000};
    // Peak columns computed for the visible range.
    static constexpr qint64 waveformColumns = 1100;

    // Restores the library folder, loads the Discogs token and starts the 33 ms poll. The monitor
    // controller is only referenced weakly: it supplies the input selection and takes the lock.
    explicit CaptureViewModel(MonitorViewModel* monitor, Options options = {},
                              QObject* parent = nullptr);
    ~CaptureViewModel() override;

    // Published state.
    const std::optional<CaptureDocument>& document() const { return document_; }
    const std::optional<QUuid>& selectedSideID() const { return selectedSideID_; }
    bool isRecording() const { return isRecording_; }
    bool isFinalizing() const { return isFinalizing_; }
    bool isExporting() const { return isExporting_; }
    double elapsed() const { return elapsed_; }
    const QString& captureFormat() const { return captureFormat_; }
    const MeterReading& leftMeter() const { return leftMeter_; }
    const MeterReading& rightMeter() const { return rightMeter_; }
    const std::optional<QString>& error() const { return error_; }
    const std::optional<QString>& notice() const { return notice_; }
    bool showsNewProject() const { return showsNewProject_; }
    bool showsMetadataEditor() const { return showsMetadataEditor_; }
    const CaptureProject& draft() const { return draft_; }
    const std::optional<QByteArray>& draftArtwork() const { return draftArtwork_; }
    const QString& releaseInput() const { return releaseInput_; }
    const QString& searchArtist() const { return searchArtist_; }
    const QString& searchAlbum() const { return searchAlbum_; }
    const QString& token() const { return token_; }
    const QList<DiscogsSearchResult>& searchResults() const { return searchResults_; }
    bool isFetching() const { return isFetching_; }
    const std::optional<QString>& draftWarning() const { return draftWarning_; }
    bool hasFetchedRelease() const { return hasFetchedRelease_; }
    const QString& libraryPath() const { return libraryPath_; }
    bool isLoadingWaveform() const { return isLoadingWaveform_; }
    const FrameRange& visibleRange() const { return visibleRange_; }
    qint64 playhead() const { return playhead_; }
    bool isPlaying() const { return isPlaying_; }
    const std::optional<qsizetype>& selectedMarker() const { return selectedMarker_; }
    bool addMarkersOnClick() const { return addMarkersOnClick_; }
    const QList<WaveformPeak>& waveform() const { return waveform_; }
    double exportFraction() const { return exportFraction_; }
    qint64 exportTrackNumber() const { return exportTrackNumber_; }
    qint64 exportTrackTotal() const { return exportTrackTotal_; }

    // Derived values.
    bool isBusy() const { return isRecording_ || isFinalizing_ || isExporting_; }
    // The side of the document whose id is selectedSideID; null without one.
    const CaptureSide* selectedSide() const;
    // A document, a selected side without a master, not busy.
    bool canRecord() const;
    bool canExportSelectedSide() const;
    bool canExportAllSides() const;
    bool canDiscardTake() const;

    // Text fields and view options, written by the views.
    void setShowsNewProject(bool shows);
    void setShowsMetadataEditor(bool shows);
    void setDraft(const CaptureProject& draft);
    void setReleaseInput(const QString& text);
    void setSearchArtist(const QString& text);
    void setSearchAlbum(const QString& text);
    void setToken(const QString& text);
    void setSelectedMarker(const std::optional<qsizetype>& index);
    void setAddMarkersOnClick(bool enabled);
    void clearError();
    void clearNotice();

    // Storage and projects.
    void chooseStorage();
    void beginNewProject();
    void confirmDraft();
    void openExistingProject();
    void beginMetadataEdit();
    void applyMetadataEdit();
    void chooseCover(CoverTarget target);
    void selectSide(const std::optional<QUuid>& sideID);

    // Discogs. A picked search hit is fetched by its id; otherwise releaseInput is parsed.
    void fetchRelease(std::optional<qint64> searchHitID = std::nullopt);
    void searchReleases();

    // Draft layout edits of the metadata sheet; they change only `draft`.
    void addDraftSide();
    void deleteDraftSide(const QUuid& sideID);
    void addDraftTrack(const QUuid& sideID);
    void deleteDraftTrack(const QUuid& sideID, const QUuid& trackID);
    void moveDraftTrack(const QUuid& sideID, qsizetype index, int step);
    void moveDraftTrackToSide(const QUuid& trackID, const QUuid& sourceSideID,
                              const QUuid& destinationSideID);

    // Takes and recordings of the open project.
    // Marks the selected side's interrupted take complete (only when it has frames).
    void acceptTake();
    // Detaches the selected side's take so the side can be recorded again; the master file stays
    // in the Masters folder. Not while busy; the views ask the user first.
    void discardTake();
    // Exchanges master, markers and trims of side a (the dragged one) and side b; selects b.
    bool swapSideRecordings(const QUuid& a, const QUuid& b);

    // Boundary and trim edits of the selected side; none runs while busy.
    void addBoundary(qint64 frame);
    void addBoundaryAtPlayhead();
    void moveBoundary(qsizetype index, qint64 frame);
    void deleteBoundary(qsizetype index);
    // Deletes selectedMarker, then clears it.
    void deleteSelectedBoundary();
    void setTrimStart(qint64 frame);
    void setTrimEnd(qint64 frame);
    void resetTrim();

    // Waveform navigation of the selected side's master.
    void scrollTo(double fraction);
    void zoom(double factor);

    // Arms the recorder for the selected side on the monitor controller's input device and
    // channel pair. Asks for input access first when it was never asked (the answer arrives
    // later); the take runs once isRecording turns true.
    void startRecording();
    // Stops the take; its master is stored once the file is closed (isFinalizing meanwhile).
    void stopRecording();

    // Review of the selected side's master.
    void togglePlayback();
    // Plays the two seconds before (or after) boundary index. Not while busy.
    void auditionBoundary(qsizetype index, bool before);
    void seek(qint64 frame);
    void jumpToNextStop();
    void jumpToPreviousStop();

    // Exports the tracks of one side, or of every side without an id, as FLAC into a folder the
    // user picks; runs in the background while isExporting.
    void exportTracks(const std::optional<QUuid>& sideID);
    // Ends a running export without an error; nothing of it stays at the destination.
    void cancelExport();

    // Application termination: stops the poll, stores a running take, releases storage access.
    // Nothing runs afterwards.
    void shutdown();

    // For tests.
    CaptureStorage& storage() { return storage_; }
    // Null without an audio system.
    const NativeRecorder* recorder() const { return recorder_.get(); }

signals:
    void documentChanged();
    void selectedSideIDChanged();
    void isRecordingChanged();
    void isFinalizingChanged();
    void isExportingChanged();
    void elapsedChanged();
    void captureFormatChanged();
    void leftMeterChanged();
    void rightMeterChanged();
    void errorChanged();
    void noticeChanged();
    void showsNewProjectChanged();
    void showsMetadataEditorChanged();
    void draftChanged();
    void draftArtworkChanged();
    void releaseInputChanged();
    void searchArtistChanged();
    void searchAlbumChanged();
    void tokenChanged();
    void searchResultsChanged();
    void isFetchingChanged();
    void draftWarningChanged();
    void hasFetchedReleaseChanged();
    void libraryPathChanged();
    void isLoadingWaveformChanged();
    void visibleRangeChanged();
    void playheadChanged();
    void isPlayingChanged();
    void selectedMarkerChanged();
    void addMarkersOnClickChanged();
    void waveformChanged();
    void exportProgressChanged();
    void derivedStateChanged();

private:
    // What the poll reads from a running take.
    struct TakeProgress
    {
        qint64 framesWritten = 0;
        double sampleRate = 0;
        float leftPeak = 0;  // linear, taken and reset by the read
        float rightPeak = 0; // linear
        std::optional<QString> interruption;
    };

    template <typename T>
    bool assign(T& field, const T& value, void (CaptureViewModel::*changed)());

    // Edit transactions. change returns false when it changed nothing; nothing is saved then.
    // True when a changed copy was saved and published.
    bool editProject(const std::function<bool(CaptureProject&)>& change);
    bool editSelectedSide(const std::function<bool(CaptureSide&)>& change);

    void setDocument(const std::optional<CaptureDocument>& document);
    void setSelectedSideID(const std::optional<QUuid>& sideID);
    void selectFirstSide();
    void setRecording(bool recording);
    void setFinalizing(bool finalizing);
    void setExporting(bool exporting);
    void setError(const std::optional<QString>& text);
    void setNotice(const std::optional<QString>& text);
    void setFetching(bool fetching);
    void setDraftWarning(const std::optional<QString>& text);
    void setDraftArtwork(const std::optional<QByteArray>& bytes);
    void setPlayhead(qint64 frame);
    void setPlaying(bool playing);
    void setVisibleRange(const FrameRange& range);
    void setLoadingWaveform(bool loading);
    void updateLibraryPath();
    void updateInputSelectionLock();

    // Discogs.
    bool storeToken();
    void applyFetchedRelease(const DiscogsRelease& release);
    void finishFetch();

    // Review.
    void resetReview();
    void loadWaveform();
    void stopPlayback();
    // After a trim edit: playback continues inside the new span or stops.
    void refreshPlaybackAfterEdit();

    // Poll loop.
    void schedulePoll(std::chrono::nanoseconds delay);
    void poll();
    void pollTake();
    std::optional<TakeProgress> readTakeProgress();
    void requestStop(const std::optional<QString>& reason);

    // Recording.
    void armTake(const AudioInputDevice& device, const AudioChannelPair& pair);
    void failStart(const QString& message);
    void finishTake(std::optional<CaptureMaster> master, const std::optional<QString>& reason);
    void finalizeSide(const CaptureMaster& master);

    // Review playback: each publishes isPlaying and playhead afterwards.
    void play(qint64 start, std::optional<qint64> end);
    void publishPlayer();
    void followOutputDevice();
    void cancelWaveform();
    void setWaveform(const QList<WaveformPeak>& peaks);

    // Export.
    void finishExport(const QUuid& generation, const std::optional<CaptureExportResult>& result,
                      const QString& failure);
    void setExportProgress(const ExportProgress& progress);
    void stopExport();

    std::unique_ptr<MainThreadScheduler> ownedScheduler_;
    MainThreadScheduler* scheduler_ = nullptr;
    CaptureStorage storage_;
    TokenStore tokenStore_;
    DiscogsClient* discogs_ = nullptr; // child of this object
    QPointer<MonitorViewModel> monitor_;
    AudioSystem* audio_ = nullptr;
    // Null without an audio system.
    std::unique_ptr<NativeRecorder> recorder_;
    std::unique_ptr<CaptureReviewPlayer> player_;
    // The player holds the selected side's master; only then does the poll publish its frame.
    bool playerLoaded_ = false;
    // Cancels the running waveform load.
    CancellationToken waveformCancel_;
    // The running export: its stop request, its generation (results of older ones are dropped)
    // and its task, awaited at shutdown.
    std::stop_source exportStop_;
    QUuid exportGeneration_;
    QFuture<void> exportTask_;

    std::optional<CaptureDocument> document_;
    std::optional<QUuid> selectedSideID_;
    bool isRecording_ = false;
    bool isFinalizing_ = false;
    bool isExporting_ = false;
    double elapsed_ = 0;
    QString captureFormat_;
    MeterReading leftMeter_;
    MeterReading rightMeter_;
    std::optional<QString> error_;
    std::optional<QString> notice_;
    bool showsNewProject_ = false;
    bool showsMetadataEditor_ = false;
    CaptureProject draft_;
    std::optional<QByteArray> draftArtwork_;
    QString releaseInput_;
    QString searchArtist_;
    QString searchAlbum_;
    QString token_;
    QList<DiscogsSearchResult> searchResults_;
    bool isFetching_ = false;
    std::optional<QString> draftWarning_;
    bool hasFetchedRelease_ = false;
    QString libraryPath_;
    bool isLoadingWaveform_ = false;
    FrameRange visibleRange_{0, 1};
    qint64 playhead_ = 0;
    bool isPlaying_ = false;
    std::optional<qsizetype> selectedMarker_;
    bool addMarkersOnClick_ = false;
    QList<WaveformPeak> waveform_;
    double exportFraction_ = 0;
    qint64 exportTrackNumber_ = 0;
    qint64 exportTrackTotal_ = 0;

    std::optional<QUuid> recordingSideID_;
    std::unique_ptr<ScheduledTask> pollTask_;
    QUuid reviewGeneration_;
    MainThreadScheduler::TimePoint lastProgress_{};
    double lastElapsed_ = 0;
    double takeSampleRate_ = 0; // Hz, of the running take's master
    MainThreadScheduler::TimePoint leftPeakHold_ = MainThreadScheduler::TimePoint::min();
    MainThreadScheduler::TimePoint rightPeakHold_ = MainThreadScheduler::TimePoint::min();
    bool isShutDown_ = false;
};

} // namespace brevalo
