#include "app/capture_layout_editor.h"

#include "app/capture_side_tabs.h"
#include "app/faceplate_widgets.h"
#include "app/panel_icons.h"
#include "workflow/capture_view_model.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QToolButton>
#include <QVBoxLayout>

namespace brevalo {

namespace {

// Record numbers the spin box offers; the project validation asks for consecutive numbers
// from 1, so a larger one is never needed.
constexpr int maximumRecord = 999;

QString trackCountText(qsizetype count)
{
    return count == 1 ? QStringLiteral("1 track") : QStringLiteral("%1 tracks").arg(count);
}

// A compact button showing a glyph; its text stays the action's name for screen readers.
QToolButton* iconButton(const QString& text, const QString& objectName, QWidget* parent)
{
    auto* button = new QToolButton(parent);
    button->setObjectName(objectName);
    button->setText(text);
    button->setToolTip(text);
    button->setAccessibleName(text);
    button->setToolButtonStyle(Qt::ToolButtonIconOnly);
    button->setAutoRaise(true);
    return button;
}

void setTextUnlessEqual(QLineEdit* field, const QString& text)
{
    if (field->text() != text) {
        field->setText(text);
    }
}

CaptureLayoutEditor::Structure structureOf(const CaptureProject& draft)
{
    CaptureLayoutEditor::Structure structure;
    for (const CaptureSide& side : draft.sides) {
        QList<QUuid> tracks;
        for (const CaptureTrack& track : side.tracks) {
            tracks.append(track.id);
        }
        structure.append({side.id, tracks});
    }
    return structure;
}

CaptureTrack* trackIn(CaptureProject& draft, const QUuid& sideID, const QUuid& trackID)
{
    CaptureSide* side = draft.side(sideID);
    if (side == nullptr) {
        return nullptr;
    }
    for (CaptureTrack& track : side->tracks) {
        if (track.id == trackID) {
            return &track;
        }
    }
    return nullptr;
}

} // namespace

QPushButton* sheetButton(const QString& text, const QString& objectName, QWidget* parent)
{
    auto* button = new QPushButton(text, parent);
    button->setObjectName(objectName);
    // Return in a text field runs that field's own action (fetch, search) and never presses a
    // button, least of all the confirmation.
    button->setAutoDefault(false);
    return button;
}

QLineEdit* sheetLineEdit(const QString& prompt, const QString& objectName, QWidget* parent)
{
    auto* field = new QLineEdit(parent);
    field->setObjectName(objectName);
    field->setPlaceholderText(prompt);
    field->setAccessibleName(prompt);
    return field;
}

CaptureLayoutEditor::CaptureLayoutEditor(CaptureViewModel& capture, QWidget* parent)
    : QWidget(parent), capture_(capture)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* heading = new QLabel(layoutText::heading, this);
    QFont headingFont = heading->font();
    headingFont.setBold(true);
    heading->setFont(headingFont);
    layout->addWidget(heading);
    auto* subheading = new QLabel(layoutText::subheading, this);
    subheading->setEnabled(false);
    layout->addWidget(subheading);

    sidesLayout_ = new QVBoxLayout;
    sidesLayout_->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(sidesLayout_);

    auto* footer = new QHBoxLayout;
    QPushButton* addSide = sheetButton(layoutText::addSide, QStringLiteral("addSideButton"), this);
    connect(addSide, &QPushButton::clicked, this, [this] { capture_.addDraftSide(); });
    footer->addWidget(addSide);
    footer->addStretch(1);
    layout->addLayout(footer);
    auto* note = new QLabel(layoutText::note, this);
    note->setWordWrap(true);
    note->setEnabled(false);
    layout->addWidget(note);

    connect(&capture_, &CaptureViewModel::draftChanged, this, &CaptureLayoutEditor::followDraft);
    rebuild(capture_.draft());
}

void CaptureLayoutEditor::followDraft()
{
    const CaptureProject& draft = capture_.draft();
    if (structureOf(draft) != structure_) {
        rebuild(draft);
        return;
    }
    // Same sides and tracks: only texts changed, and the field being typed into already shows
    // its own text, so it is left untouched.
    for (qsizetype s = 0; s < fields_.size(); ++s) {
        const CaptureSide& side = draft.sides.at(s);
        SideFields& fields = fields_[s];
        if (fields.record->value() != side.record) {
            const QSignalBlocker blocker(fields.record);
            fields.record->setValue(static_cast<int>(side.record));
        }
        setTextUnlessEqual(fields.label, side.label);
        for (qsizetype t = 0; t < fields.tracks.size(); ++t) {
            setTextUnlessEqual(fields.tracks[t].title, side.tracks.at(t).title);
            setTextUnlessEqual(fields.tracks[t].artist, side.tracks.at(t).artist);
        }
    }
    refreshMoveMenus(draft);
}

void CaptureLayoutEditor::rebuild(const CaptureProject& draft)
{
    // The old blocks may hold the button whose click led here, so they go at the next turn of
    // the event loop rather than now.
    if (sides_ != nullptr) {
        sides_->hide();
        sidesLayout_->removeWidget(sides_);
        sides_->deleteLater();
    }
    structure_ = structureOf(draft);
    fields_.clear();
    titles_.clear();
    sides_ = new QWidget(this);
    auto* layout = new QVBoxLayout(sides_);
    layout->setContentsMargins(0, 0, 0, 0);
    for (const CaptureSide& side : draft.sides) {
        layout->addWidget(makeSide(side, sides_));
    }
    sidesLayout_->addWidget(sides_);
    refreshMoveMenus(draft);
    // A track just added is named next, so its placeholder title is ready to be typed over.
    for (const SideFields& side : std::as_const(fields_)) {
        if (side.id == focusNewTrackOf_ && !side.tracks.isEmpty()) {
            side.tracks.last().title->setFocus();
            side.tracks.last().title->selectAll();
        }
    }
}

QWidget* CaptureLayoutEditor::makeSide(const CaptureSide& side, QWidget* parent)
{
    auto* block = new QFrame(parent);
    block->setObjectName(QStringLiteral("sideEditor"));
    block->setFrameShape(QFrame::StyledPanel);
    auto* layout = new QVBoxLayout(block);
    SideFields fields;
    fields.id = side.id;
    const QUuid sideID = side.id;

    auto* header = new QHBoxLayout;
    header->addWidget(new QLabel(layoutText::record, block));
    fields.record = new QSpinBox(block);
    fields.record->setObjectName(QStringLiteral("sideRecordField"));
    fields.record->setAccessibleName(layoutText::record);
    fields.record->setRange(1, maximumRecord);
    fields.record->setValue(static_cast<int>(side.record));
    connect(fields.record, &QSpinBox::valueChanged, this, [this, sideID](int record) {
        editDraft([&](CaptureProject& draft) {
            if (CaptureSide* edited = draft.side(sideID)) {
                edited->record = record;
            }
        });
    });
    header->addWidget(fields.record);
    header->addWidget(new QLabel(layoutText::side, block));
    fields.label = sheetLineEdit(layoutText::side, QStringLiteral("sideLabelField"), block);
    fields.label->setText(side.label);
    fields.label->setMaximumWidth(fields.label->fontMetrics().horizontalAdvance(QLatin1Char('M')) *
                                  8);
    connect(fields.label, &QLineEdit::textEdited, this, [this, sideID](const QString& text) {
        editDraft([&](CaptureProject& draft) {
            if (CaptureSide* edited = draft.side(sideID)) {
                edited->label = text;
            }
        });
    });
    header->addWidget(fields.label);
    auto* count = new QLabel(trackCountText(side.tracks.size()), block);
    count->setEnabled(false);
    header->addWidget(count);
    header->addStretch(1);
    QToolButton* remove =
        iconButton(layoutText::deleteSide, QStringLiteral("deleteSideButton"), block);
    setPanelIcon(remove, QStringLiteral("trash"), faceplate::legendColor());
    // The metadata editor refuses to drop a recorded side; offering it would only lead there.
    remove->setEnabled(!side.master);
    connect(remove, &QToolButton::clicked, this,
            [this, sideID] { capture_.deleteDraftSide(sideID); });
    header->addWidget(remove);
    layout->addLayout(header);

    for (qsizetype index = 0; index < side.tracks.size(); ++index) {
        layout->addWidget(makeTrack(side, index, fields, block));
    }

    auto* footer = new QHBoxLayout;
    QPushButton* add = sheetButton(layoutText::addTrack, QStringLiteral("addTrackButton"), block);
    connect(add, &QPushButton::clicked, this, [this, sideID] {
        focusNewTrackOf_ = sideID;
        capture_.addDraftTrack(sideID);
        focusNewTrackOf_.reset();
    });
    footer->addWidget(add);
    footer->addStretch(1);
    layout->addLayout(footer);
    fields_.append(fields);
    return block;
}

QWidget* CaptureLayoutEditor::makeTrack(const CaptureSide& side, qsizetype index,
                                        SideFields& fields, QWidget* parent)
{
    const CaptureTrack& track = side.tracks.at(index);
    const QUuid sideID = side.id;
    const QUuid trackID = track.id;
    auto* row = new QWidget(parent);
    row->setObjectName(QStringLiteral("trackEditor"));
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);

    auto* position = new QLabel(track.position, row);
    position->setTextFormat(Qt::PlainText);
    position->setMinimumWidth(position->fontMetrics().horizontalAdvance(QStringLiteral("2-C10")));
    layout->addWidget(position);

    TrackFields trackFields;
    trackFields.id = trackID;
    trackFields.title =
        sheetLineEdit(layoutText::trackTitle, QStringLiteral("trackTitleField"), row);
    trackFields.title->setText(track.title);
    connect(trackFields.title, &QLineEdit::textEdited, this,
            [this, sideID, trackID](const QString& text) {
                editDraft([&](CaptureProject& draft) {
                    if (CaptureTrack* edited = trackIn(draft, sideID, trackID)) {
                        edited->title = text;
                    }
                });
            });
    layout->addWidget(trackFields.title, 3);
    trackFields.artist =
        sheetLineEdit(layoutText::artistOverride, QStringLiteral("trackArtistField"), row);
    trackFields.artist->setText(track.artist);
    connect(trackFields.artist, &QLineEdit::textEdited, this,
            [this, sideID, trackID](const QString& text) {
                editDraft([&](CaptureProject& draft) {
                    if (CaptureTrack* edited = trackIn(draft, sideID, trackID)) {
                        edited->artist = text;
                    }
                });
            });
    layout->addWidget(trackFields.artist, 2);

    trackFields.moveToButton = new QToolButton(row);
    trackFields.moveToButton->setObjectName(QStringLiteral("moveToButton"));
    trackFields.moveToButton->setText(layoutText::moveTo);
    trackFields.moveToButton->setAccessibleName(layoutText::moveTo);
    trackFields.moveToButton->setPopupMode(QToolButton::InstantPopup);
    trackFields.moveTo = new QMenu(trackFields.moveToButton);
    trackFields.moveToButton->setMenu(trackFields.moveTo);
    layout->addWidget(trackFields.moveToButton);

    QToolButton* up = iconButton(layoutText::moveUp, QStringLiteral("moveUpButton"), row);
    up->setArrowType(Qt::UpArrow);
    up->setEnabled(index > 0);
    connect(up, &QToolButton::clicked, this,
            [this, sideID, index] { capture_.moveDraftTrack(sideID, index, -1); });
    layout->addWidget(up);
    QToolButton* down = iconButton(layoutText::moveDown, QStringLiteral("moveDownButton"), row);
    down->setArrowType(Qt::DownArrow);
    down->setEnabled(index + 1 < side.tracks.size());
    connect(down, &QToolButton::clicked, this,
            [this, sideID, index] { capture_.moveDraftTrack(sideID, index, 1); });
    layout->addWidget(down);
    QToolButton* remove =
        iconButton(layoutText::deleteTrack, QStringLiteral("deleteTrackButton"), row);
    setPanelIcon(remove, QStringLiteral("trash"), faceplate::legendColor());
    connect(remove, &QToolButton::clicked, this,
            [this, sideID, trackID] { capture_.deleteDraftTrack(sideID, trackID); });
    layout->addWidget(remove);

    fields.tracks.append(trackFields);
    return row;
}

void CaptureLayoutEditor::refreshMoveMenus(const CaptureProject& draft)
{
    QStringList titles;
    for (const CaptureSide& side : draft.sides) {
        titles.append(sideTabTitle(draft, side));
    }
    if (titles == titles_) {
        return;
    }
    titles_ = titles;
    for (qsizetype s = 0; s < fields_.size(); ++s) {
        const QUuid sourceID = fields_.at(s).id;
        for (const TrackFields& track : fields_.at(s).tracks) {
            track.moveTo->clear();
            for (qsizetype d = 0; d < draft.sides.size(); ++d) {
                if (d == s) {
                    continue;
                }
                const QUuid destinationID = draft.sides.at(d).id;
                const QUuid trackID = track.id;
                // Menu texts take "&" as a mnemonic mark; a label may hold one.
                QString title = titles.at(d);
                title.replace(QLatin1Char('&'), QStringLiteral("&&"));
                track.moveTo->addAction(QStringLiteral("Move to ") + title, this,
                                        [this, trackID, sourceID, destinationID] {
                                            capture_.moveDraftTrackToSide(trackID, sourceID,
                                                                          destinationID);
                                        });
            }
            track.moveToButton->setEnabled(!track.moveTo->isEmpty());
        }
    }
}

void CaptureLayoutEditor::editDraft(const std::function<void(CaptureProject&)>& change)
{
    CaptureProject draft = capture_.draft();
    change(draft);
    capture_.setDraft(draft);
}

} // namespace brevalo
