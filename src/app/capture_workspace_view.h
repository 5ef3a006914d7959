#pragma once

// The content of the "Album Capture" window: one project at a time as a workspace with a panel
// for the album, the side tabs with the recording controls, the waveform editor of the selected
// side and the track list with the export commands, or the introduction when no project is open.
// Every action goes to the capture controller; the view keeps only transient interaction state
// (the provisional side of a waveform drag) and the metadata sheet it opens while the controller
// asks for one.
//
// Keyboard, while no text field has focus and no sheet is open: Space toggles review playback,
// Delete removes the selected boundary, Ctrl+= and Ctrl+- zoom the waveform in and out.
//
// Threads: main thread.

#include "app/capture_metadata_sheet.h"
#include "capture/capture_project.h"

#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>
#include <optional>

class QAction;
class QLabel;
class QProgressBar;
class QPushButton;
class QStackedWidget;

namespace brevalo {

class CapturePanel;
class CaptureSideTabBar;
class CaptureTrackList;
class CaptureViewModel;
class CaptureWaveformView;
class LevelMeterBar;
class MonitorViewModel;

namespace workspaceText {
inline const QString newCapture = QStringLiteral("New Capture");
inline const QString openProject = QStringLiteral("Open Project");
inline const QString storage = QStringLiteral("Project storage…");
inline const QString albumPanel = QStringLiteral("Album and physical release");
inline const QString editMetadata = QStringLiteral("Edit metadata");
inline const QString replaceCover = QStringLiteral("Replace cover");
inline const QString localMetadata = QStringLiteral("Local metadata");
inline const QString discogsPrefix = QStringLiteral("DISCOGS / ");
inline const QString sidesPanel = QStringLiteral("Record sides");
inline const QString recordSide = QStringLiteral("Record Side");
inline const QString stopRecording = QStringLiteral("Stop Recording");
inline const QString inputPrefix = QStringLiteral("Input: ");
inline const QString chooseInput = QStringLiteral("Choose an input in the monitor window");
inline const QString tagReview = QStringLiteral("REVIEW");
inline const QString tagReady = QStringLiteral("READY");
inline const QString tagWait = QStringLiteral("WAIT");
inline const QString waveformPanel = QStringLiteral("Waveform and boundaries");
inline const QString nativeResolution = QStringLiteral("Native resolution");
inline const QString recordingOriginal = QStringLiteral("Recording original audio");
inline const QString notRecorded = QStringLiteral("Record this side to review its waveform.");
inline const QString notFinalized =
    QStringLiteral("The waveform will be available after this side is finalized.");
inline const QString preparing = QStringLiteral("Preparing audio…");
inline const QString originality = QStringLiteral(
    "Original audio is preserved. Monitoring and output mute only affect listening.");
inline const QString interrupted =
    QStringLiteral("Interrupted take. Review the audio before accepting it.");
inline const QString acceptTake = QStringLiteral("Accept this reviewed take for export");
inline const QString discardTake = QStringLiteral("Discard take…");
inline const QString tracksPanel = QStringLiteral("Tracks and export");
inline const QString flac = QStringLiteral("FLAC");
inline const QString boundariesFollow = QStringLiteral("Track boundaries follow recording.");
inline const QString exportSide = QStringLiteral("Export Side");
inline const QString exportAlbum = QStringLiteral("Export Album");
inline const QString exportNote = QStringLiteral("Native resolution · tags and cover embedded");
inline const QString cancel = QStringLiteral("Cancel");
inline const QString dismiss = QStringLiteral("Dismiss");
} // namespace workspaceText

class CaptureWorkspaceView : public QWidget
{
    Q_OBJECT
public:
    // Both controllers must outlive the view.
    CaptureWorkspaceView(MonitorViewModel& monitor, CaptureViewModel& capture,
                         QWidget* parent = nullptr);
    ~CaptureWorkspaceView() override;

    // The open metadata sheet; null when none is open.
    CaptureMetadataSheet* metadataSheet() const { return sheet_; }

    // Asked before a take is discarded; true goes ahead. The default asks with a message box.
    void setConfirmDiscard(std::function<bool()> confirm);

    // The provisional side of a waveform drag in progress, as the track list shows it.
    const std::optional<CaptureSide>& waveformPreview() const { return waveformPreview_; }

    // The parts tests look at (each also carries its object name).
    CaptureWaveformView* waveformView() const { return waveform_; }
    CaptureTrackList* trackList() const { return tracks_; }
    CapturePanel* albumPanel() const { return albumPanel_; }
    CapturePanel* waveformPanel() const { return waveformPanel_; }
    CapturePanel* tracksPanel() const { return tracksPanel_; }
    QLabel* stateTag() const { return stateTag_; }
    QLabel* waveformMessage() const { return waveformMessage_; }
    QAction* playbackAction() const { return playbackAction_; }
    QAction* deleteBoundaryAction() const { return deleteAction_; }
    QAction* zoomInAction() const { return zoomInAction_; }
    QAction* zoomOutAction() const { return zoomOutAction_; }

private:
    QWidget* buildHeader();
    QWidget* buildMessages();
    QWidget* buildIntroduction();
    QWidget* buildWorkspace();
    QWidget* buildAlbumPanel();
    QWidget* buildSidesPanel();
    QWidget* buildWaveformPanel();
    QWidget* buildTracksPanel();
    void buildShortcuts();
    void connectWaveform();

    void updateAll();
    void updateDocument();
    void updateRecording();
    void updateMeters();
    void updateWaveform();
    void updateTracks();
    void updateExport();
    void updateMessages();
    void updateInput();
    void updateCover();
    void syncSheet();
    void sheetFinished(CaptureMetadataSheet* sheet);
    void discardTake();
    // Keyboard commands do nothing while a text field has focus or a sheet is open.
    bool acceptsKeyCommand() const;

    MonitorViewModel& monitor_;
    CaptureViewModel& capture_;
    std::function<bool()> confirmDiscard_;
    std::optional<CaptureSide> waveformPreview_;
    QPointer<CaptureMetadataSheet> sheet_;
    QString coverPath_;

    QStackedWidget* pages_ = nullptr;
    QPushButton* newButton_ = nullptr;
    QPushButton* openButton_ = nullptr;
    QPushButton* storageButton_ = nullptr;
    QLabel* libraryLabel_ = nullptr;
    QLabel* noticeText_ = nullptr;
    QWidget* noticeBar_ = nullptr;
    QLabel* errorText_ = nullptr;
    QWidget* errorBar_ = nullptr;

    CapturePanel* albumPanel_ = nullptr;
    QLabel* cover_ = nullptr;
    QLabel* albumTitle_ = nullptr;
    QLabel* albumArtist_ = nullptr;
    QLabel* sourceLine_ = nullptr;
    QLabel* countsLine_ = nullptr;
    QPushButton* editButton_ = nullptr;
    QPushButton* coverButton_ = nullptr;

    CaptureSideTabBar* sideTabs_ = nullptr;
    QPushButton* recordButton_ = nullptr;
    QLabel* inputLabel_ = nullptr;
    QLabel* stateTag_ = nullptr;
    QLabel* elapsed_ = nullptr;
    QLabel* format_ = nullptr;
    QLabel* boundaryStatus_ = nullptr;
    LevelMeterBar* leftMeter_ = nullptr;
    LevelMeterBar* rightMeter_ = nullptr;

    CapturePanel* waveformPanel_ = nullptr;
    QLabel* waveformMessage_ = nullptr;
    QWidget* interruptedBanner_ = nullptr;
    QLabel* interruptionReason_ = nullptr;
    QPushButton* acceptButton_ = nullptr;
    QPushButton* discardButton_ = nullptr;
    CaptureWaveformView* waveform_ = nullptr;

    CapturePanel* tracksPanel_ = nullptr;
    CaptureTrackList* tracks_ = nullptr;
    QPushButton* exportSideButton_ = nullptr;
    QPushButton* exportAlbumButton_ = nullptr;
    QWidget* exportRow_ = nullptr;
    QProgressBar* exportProgress_ = nullptr;
    QPushButton* cancelExportButton_ = nullptr;

    QAction* playbackAction_ = nullptr;
    QAction* deleteAction_ = nullptr;
    QAction* zoomInAction_ = nullptr;
    QAction* zoomOutAction_ = nullptr;
};

} // namespace brevalo
