#include "app/capture_workspace_view.h"

#include "app/capture_metadata_sheet.h"
#include "app/capture_panel.h"
#include "app/capture_side_tabs.h"
#include "app/capture_track_list.h"
#include "app/capture_waveform_view.h"
#include "app/faceplate_widgets.h"
#include "app/level_meter_view.h"
#include "monitor/monitor_view_model.h"
#include "workflow/capture_view_model.h"
#include "workflow/duration_text.h"

#include <QAbstractSpinBox>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFontDatabase>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QStackedWidget>
#include <QTextEdit>
#include <QVBoxLayout>

#include <cmath>

namespace brevalo {

namespace {

constexpr int coverSize = 96;

QLabel* plateText(const QString& text, QWidget* parent, QColor color = faceplate::legendColor(),
                  double scale = 1.0, bool bold = false)
{
    auto* label = new QLabel(text, parent);
    label->setWordWrap(true);
    label->setAccessibleName(text);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, color);
    label->setPalette(palette);
    QFont font = label->font();
    font.setPointSizeF(font.pointSizeF() * scale);
    font.setBold(bold);
    label->setFont(font);
    return label;
}

void setText(QLabel* label, const QString& text)
{
    label->setText(text);
    label->setAccessibleName(text);
}

void setColor(QLabel* label, const QColor& color)
{
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, color);
    label->setPalette(palette);
}

QPushButton* button(const QString& text, const char* name, QWidget* parent)
{
    auto* result = new QPushButton(text, parent);
    result->setObjectName(QLatin1String(name));
    result->setAccessibleName(text);
    return result;
}

QString counted(qsizetype count, const QString& one, const QString& many)
{
    return QString::number(count) + QLatin1Char(' ') + (count == 1 ? one : many);
}

// One introduction card of the empty window.
QWidget* introductionCard(const QString& eyebrow, const QString& title, const QString& headline,
                          const QString& body, QWidget* parent)
{
    auto* card = new Well(parent);
    auto* layout = new QVBoxLayout(card);
    layout->setContentsMargins(22, 20, 22, 22);
    layout->setSpacing(8);
    layout->addWidget(new EngravedLabel(eyebrow, card, 8));
    layout->addWidget(plateText(title, card, faceplate::legendColor(), 1.6, true));
    layout->addWidget(plateText(headline, card, faceplate::lampAmber(), 1.05, true));
    layout->addWidget(plateText(body, card, faceplate::engravingColor()));
    layout->addStretch(1);
    card->setMinimumHeight(200);
    return card;
}

} // namespace

CaptureWorkspaceView::CaptureWorkspaceView(MonitorViewModel& monitor, CaptureViewModel& capture,
                                           QWidget* parent)
    : QWidget(parent), monitor_(monitor), capture_(capture)
{
    confirmDiscard_ = [this] {
        const CaptureSide* side = capture_.selectedSide();
        const QString name = side != nullptr ? side->displayName() : QString();
        return QMessageBox::question(
                   this, QStringLiteral("Discard take"),
                   QStringLiteral("Discard the take of ") + name +
                       QStringLiteral("? Its master file stays in the Masters folder and the "
                                      "side can be recorded again."),
                   QMessageBox::Discard | QMessageBox::Cancel,
                   QMessageBox::Cancel) == QMessageBox::Discard;
    };

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 14, 16, 16);
    layout->setSpacing(10);
    layout->addWidget(buildHeader());
    layout->addWidget(buildMessages());
    pages_ = new QStackedWidget(this);
    pages_->addWidget(buildIntroduction());
    pages_->addWidget(buildWorkspace());
    layout->addWidget(pages_, 1);
    buildShortcuts();
    connectWaveform();

    using VM = CaptureViewModel;
    for (auto changed :
         {&VM::documentChanged, &VM::selectedSideIDChanged, &VM::isRecordingChanged,
          &VM::isFinalizingChanged, &VM::isExportingChanged, &VM::derivedStateChanged,
          &VM::libraryPathChanged, &VM::captureFormatChanged, &VM::exportProgressChanged}) {
        connect(&capture_, changed, this, &CaptureWorkspaceView::updateAll);
    }
    for (auto changed : {&VM::waveformChanged, &VM::visibleRangeChanged, &VM::playheadChanged,
                         &VM::isPlayingChanged, &VM::isLoadingWaveformChanged,
                         &VM::selectedMarkerChanged, &VM::addMarkersOnClickChanged}) {
        connect(&capture_, changed, this, &CaptureWorkspaceView::updateWaveform);
    }
    connect(&capture_, &VM::elapsedChanged, this, &CaptureWorkspaceView::updateRecording);
    connect(&capture_, &VM::leftMeterChanged, this, &CaptureWorkspaceView::updateMeters);
    connect(&capture_, &VM::rightMeterChanged, this, &CaptureWorkspaceView::updateMeters);
    connect(&capture_, &VM::noticeChanged, this, &CaptureWorkspaceView::updateMessages);
    connect(&capture_, &VM::errorChanged, this, &CaptureWorkspaceView::updateMessages);
    connect(&capture_, &VM::showsNewProjectChanged, this, &CaptureWorkspaceView::syncSheet);
    connect(&capture_, &VM::showsMetadataEditorChanged, this, &CaptureWorkspaceView::syncSheet);
    connect(&monitor_, &MonitorViewModel::presentationChanged, this, [this] {
        updateInput();
        updateRecording();
    });

    updateAll();
    updateMessages();
    syncSheet();
}

CaptureWorkspaceView::~CaptureWorkspaceView()
{
    if (sheet_) {
        disconnect(sheet_, nullptr, this, nullptr);
    }
}

void CaptureWorkspaceView::setConfirmDiscard(std::function<bool()> confirm)
{
    confirmDiscard_ = std::move(confirm);
}

QWidget* CaptureWorkspaceView::buildHeader()
{
    auto* header = new QWidget(this);
    auto* row = new QHBoxLayout(header);
    row->setContentsMargins(0, 0, 0, 0);
    newButton_ = button(workspaceText::newCapture, "newCaptureButton", header);
    openButton_ = button(workspaceText::openProject, "openProjectButton", header);
    storageButton_ = button(workspaceText::storage, "storageButton", header);
    libraryLabel_ = plateText(QString(), header, faceplate::engravingColor(), 0.9);
    libraryLabel_->setWordWrap(false);
    libraryLabel_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    row->addWidget(newButton_);
    row->addWidget(openButton_);
    row->addStretch(1);
    row->addWidget(libraryLabel_);
    row->addWidget(storageButton_);
    connect(newButton_, &QPushButton::clicked, &capture_, &CaptureViewModel::beginNewProject);
    connect(openButton_, &QPushButton::clicked, &capture_, &CaptureViewModel::openExistingProject);
    connect(storageButton_, &QPushButton::clicked, &capture_, &CaptureViewModel::chooseStorage);
    return header;
}

QWidget* CaptureWorkspaceView::buildMessages()
{
    auto* messages = new QWidget(this);
    auto* column = new QVBoxLayout(messages);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(4);
    const auto bar = [&](QLabel*& text, const char* name, const QColor& color,
                         void (CaptureViewModel::*clear)()) {
        auto* well = new Well(messages);
        auto* row = new QHBoxLayout(well);
        row->setContentsMargins(12, 6, 6, 6);
        text = plateText(QString(), well, color);
        text->setObjectName(QLatin1String(name));
        text->setTextInteractionFlags(Qt::TextSelectableByMouse);
        auto* dismiss = new QPushButton(workspaceText::dismiss, well);
        dismiss->setAccessibleName(workspaceText::dismiss);
        connect(dismiss, &QPushButton::clicked, &capture_, clear);
        row->addWidget(text, 1);
        row->addWidget(dismiss, 0, Qt::AlignTop);
        column->addWidget(well);
        return well;
    };
    errorBar_ =
        bar(errorText_, "errorText", faceplate::errorTextColor(), &CaptureViewModel::clearError);
    noticeBar_ =
        bar(noticeText_, "noticeText", faceplate::lampGreen(), &CaptureViewModel::clearNotice);
    return messages;
}

QWidget* CaptureWorkspaceView::buildIntroduction()
{
    auto* page = new QWidget(this);
    page->setObjectName(QStringLiteral("noProjectPage"));
    auto* column = new QVBoxLayout(page);
    column->setContentsMargins(0, 10, 0, 0);
    auto* row = new QHBoxLayout;
    row->setSpacing(14);
    column->addLayout(row);
    column->addStretch(1);
    row->addWidget(introductionCard(
        QStringLiteral("Step 1 of 4"), QStringLiteral("Start with your album"),
        QStringLiteral("Identify your release before recording."),
        QStringLiteral("Choose New Capture to enter a Discogs Release ID or your own album "
                       "details. Check the records, sides, and track list against your copy."),
        page));
    row->addWidget(introductionCard(
        QStringLiteral("Record · review · export"), QStringLiteral("Your side workspace"),
        QStringLiteral("A workspace for every side of your record."),
        QStringLiteral("Switch between side tabs to record audio, place track boundaries, and "
                       "export tagged FLAC files."),
        page));
    return page;
}

QWidget* CaptureWorkspaceView::buildWorkspace()
{
    auto* scroll = new QScrollArea(this);
    scroll->setObjectName(QStringLiteral("workspacePage"));
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setAutoFillBackground(false);
    scroll->viewport()->setAutoFillBackground(false);
    auto* page = new QWidget(scroll);
    page->setAutoFillBackground(false);
    auto* grid = new QGridLayout(page);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setSpacing(12);
    grid->addWidget(buildAlbumPanel(), 0, 0);
    grid->addWidget(buildSidesPanel(), 0, 1);
    grid->addWidget(buildWaveformPanel(), 1, 0, 1, 2);
    grid->addWidget(buildTracksPanel(), 2, 0, 1, 2);
    grid->setColumnStretch(0, 2);
    grid->setColumnStretch(1, 3);
    grid->setRowStretch(1, 1);
    scroll->setWidget(page);
    return scroll;
}

QWidget* CaptureWorkspaceView::buildAlbumPanel()
{
    albumPanel_ = new CapturePanel(workspaceText::albumPanel, this);
    albumPanel_->setCompact(true);
    auto* content = new QWidget(albumPanel_);
    auto* row = new QHBoxLayout(content);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(12);
    cover_ = new QLabel(content);
    cover_->setObjectName(QStringLiteral("coverImage"));
    cover_->setFixedSize(coverSize, coverSize);
    cover_->setAlignment(Qt::AlignCenter);
    cover_->setFrameShape(QFrame::Box);
    setColor(cover_, faceplate::engravingColor());
    auto* details = new QVBoxLayout;
    details->setSpacing(3);
    albumTitle_ = plateText(QString(), content, faceplate::legendColor(), 1.2, true);
    albumArtist_ = plateText(QString(), content);
    sourceLine_ = plateText(QString(), content, faceplate::engravingColor(), 0.9);
    countsLine_ = plateText(QString(), content, faceplate::engravingColor(), 0.9);
    editButton_ = button(workspaceText::editMetadata, "editMetadataButton", content);
    coverButton_ = button(workspaceText::replaceCover, "replaceCoverButton", content);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(editButton_);
    buttons->addWidget(coverButton_);
    buttons->addStretch(1);
    for (QLabel* label : {albumTitle_, albumArtist_, sourceLine_, countsLine_}) {
        details->addWidget(label);
    }
    details->addStretch(1);
    details->addLayout(buttons);
    row->addWidget(cover_, 0, Qt::AlignTop);
    row->addLayout(details, 1);
    albumPanel_->setContent(content);
    connect(editButton_, &QPushButton::clicked, &capture_, &CaptureViewModel::beginMetadataEdit);
    connect(coverButton_, &QPushButton::clicked, this,
            [this] { capture_.chooseCover(CaptureViewModel::CoverTarget::project); });
    return albumPanel_;
}

QWidget* CaptureWorkspaceView::buildSidesPanel()
{
    auto* panel = new CapturePanel(workspaceText::sidesPanel, this);
    panel->setCompact(true);
    auto* content = new QWidget(panel);
    auto* column = new QVBoxLayout(content);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(8);
    sideTabs_ = new CaptureSideTabBar(capture_, content);
    sideTabs_->setObjectName(QStringLiteral("sideTabs"));
    column->addWidget(sideTabs_);

    auto* controls = new QHBoxLayout;
    recordButton_ = button(workspaceText::recordSide, "recordButton", content);
    recordButton_->setMinimumWidth(130);
    stateTag_ = new EngravedLabel(QString(), content, 9);
    stateTag_->setObjectName(QStringLiteral("stateTag"));
    stateTag_->setAlignment(Qt::AlignCenter);
    stateTag_->setMinimumWidth(64);
    elapsed_ = plateText(durationText(0), content, faceplate::legendColor(), 1.3, true);
    elapsed_->setFont([&] {
        QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
        mono.setPointSizeF(elapsed_->font().pointSizeF());
        mono.setBold(true);
        return mono;
    }());
    elapsed_->setWordWrap(false);
    controls->addWidget(recordButton_);
    controls->addWidget(stateTag_);
    controls->addStretch(1);
    controls->addWidget(elapsed_);
    column->addLayout(controls);

    inputLabel_ = plateText(QString(), content, faceplate::legendColor(), 0.95);
    inputLabel_->setObjectName(QStringLiteral("inputLabel"));
    format_ = plateText(QString(), content, faceplate::engravingColor(), 0.9);
    column->addWidget(inputLabel_);
    column->addWidget(format_);

    auto* meters = new QGridLayout;
    meters->setHorizontalSpacing(8);
    meters->setVerticalSpacing(4);
    leftMeter_ = new LevelMeterBar(content);
    rightMeter_ = new LevelMeterBar(content);
    leftMeter_->setAccessibleName(QStringLiteral("Left input level"));
    rightMeter_->setAccessibleName(QStringLiteral("Right input level"));
    meters->addWidget(new EngravedLabel(QStringLiteral("L"), content), 0, 0);
    meters->addWidget(leftMeter_, 0, 1);
    meters->addWidget(new EngravedLabel(QStringLiteral("R"), content), 1, 0);
    meters->addWidget(rightMeter_, 1, 1);
    meters->setColumnStretch(1, 1);
    column->addLayout(meters);
    column->addStretch(1);
    panel->setContent(content);

    connect(recordButton_, &QPushButton::clicked, this, [this] {
        if (capture_.isRecording()) {
            capture_.stopRecording();
        } else {
            capture_.startRecording();
        }
    });
    return panel;
}

QWidget* CaptureWorkspaceView::buildWaveformPanel()
{
    waveformPanel_ = new CapturePanel(workspaceText::waveformPanel, this);
    auto* content = new QWidget(waveformPanel_);
    auto* column = new QVBoxLayout(content);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(8);

    interruptedBanner_ = new QWidget(content);
    auto* banner = new QHBoxLayout(interruptedBanner_);
    banner->setContentsMargins(0, 0, 0, 0);
    auto* bannerText =
        plateText(workspaceText::interrupted, interruptedBanner_, faceplate::lampAmber(), 1, true);
    bannerText->setObjectName(QStringLiteral("interruptedText"));
    acceptButton_ = button(workspaceText::acceptTake, "acceptTakeButton", interruptedBanner_);
    interruptionReason_ =
        plateText(QString(), interruptedBanner_, faceplate::engravingColor(), 0.9);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    texts->addWidget(bannerText);
    texts->addWidget(interruptionReason_);
    banner->addLayout(texts, 1);
    banner->addWidget(acceptButton_, 0, Qt::AlignTop);
    column->addWidget(interruptedBanner_);

    waveformMessage_ = plateText(QString(), content, faceplate::engravingColor(), 1.05);
    waveformMessage_->setObjectName(QStringLiteral("waveformMessage"));
    waveformMessage_->setAlignment(Qt::AlignCenter);
    waveformMessage_->setMinimumHeight(120);
    column->addWidget(waveformMessage_, 1);

    waveform_ = new CaptureWaveformView(content);
    waveform_->setObjectName(QStringLiteral("waveformView"));
    waveform_->setMinimumHeight(220);
    column->addWidget(waveform_, 1);

    auto* footer = new QHBoxLayout;
    auto* note = plateText(workspaceText::originality, content, faceplate::engravingColor(), 0.9);
    boundaryStatus_ = new EngravedLabel(QString(), content, 8);
    boundaryStatus_->setObjectName(QStringLiteral("boundaryStatus"));
    discardButton_ = button(workspaceText::discardTake, "discardTakeButton", content);
    footer->addWidget(note, 1);
    footer->addWidget(boundaryStatus_);
    footer->addWidget(discardButton_);
    column->addLayout(footer);
    waveformPanel_->setContent(content);

    connect(acceptButton_, &QPushButton::clicked, &capture_, &CaptureViewModel::acceptTake);
    connect(discardButton_, &QPushButton::clicked, this, &CaptureWorkspaceView::discardTake);
    return waveformPanel_;
}

QWidget* CaptureWorkspaceView::buildTracksPanel()
{
    tracksPanel_ = new CapturePanel(workspaceText::tracksPanel, this);
    tracksPanel_->setTrailingText(workspaceText::flac);
    auto* content = new QWidget(tracksPanel_);
    auto* column = new QVBoxLayout(content);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(8);
    column->addWidget(
        plateText(workspaceText::boundariesFollow, content, faceplate::engravingColor(), 0.9));
    tracks_ = new CaptureTrackList(content);
    tracks_->setObjectName(QStringLiteral("trackList"));
    column->addWidget(tracks_);

    exportRow_ = new QWidget(content);
    auto* progress = new QHBoxLayout(exportRow_);
    progress->setContentsMargins(0, 0, 0, 0);
    exportProgress_ = new QProgressBar(exportRow_);
    exportProgress_->setObjectName(QStringLiteral("exportProgress"));
    exportProgress_->setRange(0, 1000);
    cancelExportButton_ = button(workspaceText::cancel, "cancelExportButton", exportRow_);
    progress->addWidget(exportProgress_, 1);
    progress->addWidget(cancelExportButton_);
    column->addWidget(exportRow_);

    auto* commands = new QHBoxLayout;
    exportSideButton_ = button(workspaceText::exportSide, "exportSideButton", content);
    exportAlbumButton_ = button(workspaceText::exportAlbum, "exportAlbumButton", content);
    commands->addWidget(
        plateText(workspaceText::exportNote, content, faceplate::engravingColor(), 0.9), 1);
    commands->addWidget(exportSideButton_);
    commands->addWidget(exportAlbumButton_);
    column->addLayout(commands);
    tracksPanel_->setContent(content);

    connect(tracks_, &CaptureTrackList::seek, &capture_, &CaptureViewModel::seek);
    connect(exportSideButton_, &QPushButton::clicked, this,
            [this] { capture_.exportTracks(capture_.selectedSideID()); });
    connect(exportAlbumButton_, &QPushButton::clicked, this,
            [this] { capture_.exportTracks(std::nullopt); });
    connect(cancelExportButton_, &QPushButton::clicked, &capture_, &CaptureViewModel::cancelExport);
    return tracksPanel_;
}

void CaptureWorkspaceView::buildShortcuts()
{
    const auto command = [this](const QString& text, const QList<QKeySequence>& keys,
                                std::function<void()> run) {
        auto* action = new QAction(text, this);
        // Where a platform's standard zoom key is the plain one, it is listed once.
        QList<QKeySequence> unique;
        for (const QKeySequence& key : keys) {
            if (!unique.contains(key)) {
                unique.append(key);
            }
        }
        action->setShortcuts(unique);
        action->setShortcutContext(Qt::WindowShortcut);
        connect(action, &QAction::triggered, this, [this, run = std::move(run)] {
            if (acceptsKeyCommand()) {
                run();
            }
        });
        addAction(action);
        return action;
    };
    playbackAction_ = command(QStringLiteral("Play or pause review"), {QKeySequence(Qt::Key_Space)},
                              [this] { capture_.togglePlayback(); });
    deleteAction_ =
        command(QStringLiteral("Delete selected boundary"), {QKeySequence(Qt::Key_Delete)},
                [this] { capture_.deleteSelectedBoundary(); });
    zoomInAction_ =
        command(QStringLiteral("Zoom in"),
                {QKeySequence(Qt::CTRL | Qt::Key_Equal), QKeySequence(QKeySequence::ZoomIn)},
                [this] { capture_.zoom(0.5); });
    zoomOutAction_ =
        command(QStringLiteral("Zoom out"),
                {QKeySequence(Qt::CTRL | Qt::Key_Minus), QKeySequence(QKeySequence::ZoomOut)},
                [this] { capture_.zoom(2.0); });
}

void CaptureWorkspaceView::connectWaveform()
{
    using W = CaptureWaveformView;
    using VM = CaptureViewModel;
    connect(waveform_, &W::seek, &capture_, &VM::seek);
    connect(waveform_, &W::addBoundary, &capture_, &VM::addBoundary);
    connect(waveform_, &W::addBoundaryAtPlayhead, &capture_, &VM::addBoundaryAtPlayhead);
    connect(waveform_, &W::moveBoundary, &capture_, &VM::moveBoundary);
    connect(waveform_, &W::deleteSelectedBoundary, &capture_, &VM::deleteSelectedBoundary);
    connect(waveform_, &W::setSelectedMarker, &capture_, &VM::setSelectedMarker);
    connect(waveform_, &W::setTrimStart, &capture_, &VM::setTrimStart);
    connect(waveform_, &W::setTrimEnd, &capture_, &VM::setTrimEnd);
    connect(waveform_, &W::resetTrim, &capture_, &VM::resetTrim);
    connect(waveform_, &W::togglePlayback, &capture_, &VM::togglePlayback);
    connect(waveform_, &W::jumpToPreviousStop, &capture_, &VM::jumpToPreviousStop);
    connect(waveform_, &W::jumpToNextStop, &capture_, &VM::jumpToNextStop);
    // The editor says "after"; the controller asks "before".
    connect(waveform_, &W::auditionBoundary, &capture_,
            [this](qsizetype index, bool after) { capture_.auditionBoundary(index, !after); });
    connect(waveform_, &W::zoom, &capture_, &VM::zoom);
    connect(waveform_, &W::scrollTo, &capture_, &VM::scrollTo);
    connect(waveform_, &W::setAddMarkersOnClick, &capture_, &VM::setAddMarkersOnClick);
    connect(waveform_, &W::previewChanged, this, [this](const std::optional<CaptureSide>& side) {
        waveformPreview_ = side;
        updateTracks();
    });
}

void CaptureWorkspaceView::updateAll()
{
    pages_->setCurrentIndex(capture_.document() ? 1 : 0);
    const bool busy = capture_.isBusy();
    newButton_->setEnabled(!busy);
    openButton_->setEnabled(!busy);
    setText(libraryLabel_, capture_.libraryPath());
    updateDocument();
    updateInput();
    updateRecording();
    updateWaveform();
    updateTracks();
    updateExport();
}

void CaptureWorkspaceView::updateDocument()
{
    const bool canEdit = capture_.document().has_value() && !capture_.isBusy();
    editButton_->setEnabled(canEdit);
    coverButton_->setEnabled(canEdit);
    if (!capture_.document()) {
        albumPanel_->setTrailingText(QString());
        updateCover();
        return;
    }
    const CaptureProject& project = capture_.document()->project;
    albumPanel_->setTrailingText(project.discogsReleaseID
                                     ? workspaceText::discogsPrefix +
                                           QString::number(*project.discogsReleaseID)
                                     : workspaceText::localMetadata);
    setText(albumTitle_, project.title);
    setText(albumArtist_, project.artist);
    setText(sourceLine_, QStringLiteral("Source: ") + captureSourceLabel(project.source));
    qsizetype trackCount = 0;
    for (const CaptureSide& side : project.sides) {
        trackCount += side.tracks.size();
    }
    setText(countsLine_,
            counted(project.recordCount(), QStringLiteral("record"), QStringLiteral("records")) +
                QStringLiteral(" · ") +
                counted(project.sides.size(), QStringLiteral("side"), QStringLiteral("sides")) +
                QStringLiteral(" · ") +
                counted(trackCount, QStringLiteral("track"), QStringLiteral("tracks")));
    updateCover();
}

void CaptureWorkspaceView::updateCover()
{
    QString path;
    if (capture_.document() && capture_.document()->project.artworkPath) {
        path = QDir(capture_.document()->directory)
                   .filePath(*capture_.document()->project.artworkPath);
    }
    if (path == coverPath_ && (!cover_->pixmap().isNull() || !cover_->text().isEmpty())) {
        return;
    }
    coverPath_ = path;
    const QPixmap image(path);
    if (path.isEmpty() || image.isNull()) {
        cover_->setPixmap(QPixmap());
        cover_->setText(QStringLiteral("No cover"));
        cover_->setAccessibleName(QStringLiteral("No cover"));
        return;
    }
    cover_->setText(QString());
    cover_->setPixmap(
        image.scaled(coverSize, coverSize, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    cover_->setAccessibleName(QStringLiteral("Album cover"));
}

void CaptureWorkspaceView::updateInput()
{
    const std::optional<AudioInputDevice> input = monitor_.selectedInputDevice();
    setText(inputLabel_,
            input ? workspaceText::inputPrefix + input->name : workspaceText::chooseInput);
}

void CaptureWorkspaceView::updateRecording()
{
    const bool recording = capture_.isRecording();
    recordButton_->setText(recording ? workspaceText::stopRecording : workspaceText::recordSide);
    recordButton_->setAccessibleName(recordButton_->text());
    // Stopping is offered for the whole take; starting only while recording is allowed.
    recordButton_->setEnabled(recording ? !capture_.isFinalizing() : capture_.canRecord());

    const CaptureSide* side = capture_.selectedSide();
    stateTag_->setVisible(!recording);
    if (side != nullptr && side->master && !capture_.isFinalizing()) {
        setText(stateTag_, workspaceText::tagReview);
        setColor(stateTag_, faceplate::lampBlue());
    } else if (capture_.canRecord() && monitor_.selectedInputDevice() &&
               monitor_.selectedChannelPair()) {
        setText(stateTag_, workspaceText::tagReady);
        setColor(stateTag_, faceplate::lampGreen());
    } else {
        setText(stateTag_, workspaceText::tagWait);
        setColor(stateTag_, faceplate::lampAmber());
    }
    setText(elapsed_, durationText(capture_.elapsed()));
    setColor(elapsed_, recording ? faceplate::lampRed() : faceplate::legendColor());
    setText(format_, capture_.captureFormat().isEmpty()
                         ? QStringLiteral("Capture format: —")
                         : QStringLiteral("Capture format: ") + capture_.captureFormat());
    updateMeters();
}

void CaptureWorkspaceView::updateMeters()
{
    // The controller keeps the last take's readings; the meters show input only during a take.
    const bool live = capture_.isRecording();
    const MeterReading silent = MeterReading::silent();
    const MeterReading& left = live ? capture_.leftMeter() : silent;
    const MeterReading& right = live ? capture_.rightMeter() : silent;
    leftMeter_->setLevels(left.levelDBFS, left.peakDBFS);
    rightMeter_->setLevels(right.levelDBFS, right.peakDBFS);
}

void CaptureWorkspaceView::updateWaveform()
{
    const CaptureSide* side = capture_.selectedSide();
    const bool recording = capture_.isRecording();
    const bool finalizing = capture_.isFinalizing();
    waveformPanel_->setTrailingText(recording ? workspaceText::recordingOriginal
                                              : workspaceText::nativeResolution);

    const bool hasMaster = side != nullptr && side->master.has_value();
    const bool hasAudio = hasMaster && side->master->frameCount >= 1;
    QString message;
    if (!hasMaster) {
        message = workspaceText::notRecorded;
    } else if (recording && finalizing) {
        message = workspaceText::preparing;
    } else if (recording || !hasAudio) {
        message = workspaceText::notFinalized;
    } else if (capture_.waveform().isEmpty() && capture_.isLoadingWaveform()) {
        message = workspaceText::preparing;
    }
    const bool showsEditor = message.isEmpty();
    setText(waveformMessage_, message);
    waveformMessage_->setVisible(!showsEditor);
    waveform_->setVisible(showsEditor);

    interruptedBanner_->setVisible(hasMaster && !side->master->isComplete && !recording &&
                                   !finalizing);
    // Why the take ended early stays readable after the error has been dismissed.
    setText(interruptionReason_,
            hasMaster ? side->master->interruption.value_or(QString()) : QString());
    interruptionReason_->setVisible(!interruptionReason_->text().isEmpty());
    acceptButton_->setEnabled(hasAudio && !capture_.isBusy());
    discardButton_->setVisible(hasMaster);
    discardButton_->setEnabled(capture_.canDiscardTake());
    boundaryStatus_->setText(showsEditor ? side->boundaryStatus() : QString());
    boundaryStatus_->setAccessibleName(boundaryStatus_->text());

    CaptureWaveformState state;
    if (side != nullptr) {
        state.side = *side;
    }
    state.waveform = capture_.waveform();
    state.visibleRange = capture_.visibleRange();
    state.playhead = capture_.playhead();
    state.isPlaying = capture_.isPlaying();
    state.isLoadingWaveform = capture_.isLoadingWaveform();
    state.selectedMarker = capture_.selectedMarker();
    state.addMarkersOnClick = capture_.addMarkersOnClick();
    state.isBusy = capture_.isBusy();
    if (!(state == waveform_->state())) {
        waveform_->setState(state);
    }
}

void CaptureWorkspaceView::updateTracks()
{
    const CaptureSide* side = capture_.selectedSide();
    if (side == nullptr) {
        waveformPreview_.reset();
    }
    // A preview belongs to the side it was made from; a side change drops it.
    if (waveformPreview_ && side != nullptr && waveformPreview_->id != side->id) {
        waveformPreview_.reset();
    }
    std::optional<CaptureSide> shown = waveformPreview_;
    if (!shown && side != nullptr) {
        shown = *side;
    }
    tracks_->setSide(shown, capture_.isBusy());
}

void CaptureWorkspaceView::updateExport()
{
    exportSideButton_->setEnabled(capture_.canExportSelectedSide());
    exportAlbumButton_->setEnabled(capture_.canExportAllSides());
    const bool exporting = capture_.isExporting();
    exportRow_->setVisible(exporting);
    cancelExportButton_->setEnabled(exporting);
    const double fraction = std::isfinite(capture_.exportFraction())
                                ? std::clamp(capture_.exportFraction(), 0.0, 1.0)
                                : 0.0;
    exportProgress_->setValue(static_cast<int>(std::lround(fraction * 1000)));
    exportProgress_->setFormat(capture_.exportTrackTotal() > 0
                                   ? QStringLiteral("Exporting track %1 of %2")
                                         .arg(capture_.exportTrackNumber())
                                         .arg(capture_.exportTrackTotal())
                                   : QStringLiteral("Preparing export…"));
    exportProgress_->setAccessibleName(exportProgress_->format());
}

void CaptureWorkspaceView::updateMessages()
{
    const std::optional<QString>& notice = capture_.notice();
    const std::optional<QString>& error = capture_.error();
    setText(noticeText_, notice.value_or(QString()));
    setText(errorText_, error.value_or(QString()));
    noticeBar_->setVisible(notice.has_value());
    errorBar_->setVisible(error.has_value());
    noticeBar_->parentWidget()->setVisible(notice.has_value() || error.has_value());
}

void CaptureWorkspaceView::syncSheet()
{
    std::optional<bool> wanted;
    if (capture_.showsNewProject()) {
        wanted = true;
    } else if (capture_.showsMetadataEditor()) {
        wanted = false;
    }
    if (sheet_ && (!wanted || *wanted != sheet_->isNew())) {
        // The controller closed it: no finished handling, the flag is already down. Deleted
        // later, as the flag may have fallen inside one of the sheet's own handlers.
        CaptureMetadataSheet* closing = sheet_;
        sheet_ = nullptr;
        disconnect(closing, nullptr, this, nullptr);
        closing->hide();
        closing->deleteLater();
    }
    if (wanted && !sheet_) {
        auto* sheet = new CaptureMetadataSheet(capture_, *wanted, this);
        sheet_ = sheet;
        sheet->setWindowModality(Qt::WindowModal);
        connect(sheet, &QDialog::finished, this, [this, sheet] { sheetFinished(sheet); });
        sheet->open();
    }
}

void CaptureWorkspaceView::sheetFinished(CaptureMetadataSheet* sheet)
{
    if (sheet != sheet_) {
        return;
    }
    sheet_ = nullptr;
    disconnect(sheet, nullptr, this, nullptr);
    sheet->deleteLater();
    // Dismissed by the user (Cancel, Escape, closing the window): the controller's flag follows.
    if (sheet->isNew()) {
        capture_.setShowsNewProject(false);
    } else {
        capture_.setShowsMetadataEditor(false);
    }
    // The other sheet may have been asked for meanwhile.
    syncSheet();
}

void CaptureWorkspaceView::discardTake()
{
    if (!capture_.canDiscardTake()) {
        return;
    }
    if (confirmDiscard_ && !confirmDiscard_()) {
        return;
    }
    capture_.discardTake();
}

bool CaptureWorkspaceView::acceptsKeyCommand() const
{
    if (sheet_ || capture_.showsNewProject() || capture_.showsMetadataEditor()) {
        return false;
    }
    QWidget* focus = QApplication::focusWidget();
    if (qobject_cast<QLineEdit*>(focus) != nullptr || qobject_cast<QTextEdit*>(focus) != nullptr ||
        qobject_cast<QPlainTextEdit*>(focus) != nullptr ||
        qobject_cast<QAbstractSpinBox*>(focus) != nullptr) {
        return false;
    }
    if (const auto* combo = qobject_cast<QComboBox*>(focus);
        combo != nullptr && combo->isEditable()) {
        return false;
    }
    return true;
}

} // namespace brevalo
