#pragma once

// The "Records, sides, and tracks" part of the metadata sheet: one block per physical side of the
// controller's draft with its record number and label, one row per expected track with its
// title and artist override, and the buttons of the draft layout edits (add and delete sides and
// tracks, reorder tracks, move a track to another side). Every change goes to the controller's
// draft; the editor keeps no copy of its own.
//
// Typing into a field writes the draft at once but leaves the field alone, so the cursor stays
// where it is. The blocks are built again only when the draft's sides or tracks change (added,
// removed, reordered, moved or replaced by a fetched release).
//
// Threads: main thread.

#include "capture/capture_project.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QUuid>
#include <QWidget>

#include <functional>
#include <optional>
#include <utility>

class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QSpinBox;
class QToolButton;
class QVBoxLayout;

namespace brevalo {

class CaptureViewModel;

namespace layoutText {
inline const QString heading = QStringLiteral("Records, sides, and tracks");
inline const QString subheading = QStringLiteral("Check and correct the layout");
inline const QString record = QStringLiteral("Record");
inline const QString side = QStringLiteral("Side");
inline const QString trackTitle = QStringLiteral("Track title");
inline const QString artistOverride = QStringLiteral("Artist override");
inline const QString moveTo = QStringLiteral("Move to");
inline const QString moveUp = QStringLiteral("Move up");
inline const QString moveDown = QStringLiteral("Move down");
inline const QString deleteTrack = QStringLiteral("Delete track");
inline const QString addTrack = QStringLiteral("Add expected track");
inline const QString addSide = QStringLiteral("Add physical side");
inline const QString deleteSide = QStringLiteral("Delete side");
inline const QString note =
    QStringLiteral("Move a track to another side using its destination menu. Captured side "
                   "masters stay attached to their original side.");
} // namespace layoutText

// The metadata sheet and its layout editor build their buttons and fields alike.
// A push button that Return in a text field never presses.
QPushButton* sheetButton(const QString& text, const QString& objectName, QWidget* parent);
// A text field whose prompt is also its accessible name.
QLineEdit* sheetLineEdit(const QString& prompt, const QString& objectName, QWidget* parent);

class CaptureLayoutEditor : public QWidget
{
    Q_OBJECT
public:
    // The controller must outlive the editor.
    explicit CaptureLayoutEditor(CaptureViewModel& capture, QWidget* parent = nullptr);

    // The side ids in order, each with its track ids in order.
    using Structure = QList<std::pair<QUuid, QList<QUuid>>>;

private:
    struct TrackFields
    {
        QUuid id;
        QLineEdit* title = nullptr;
        QLineEdit* artist = nullptr;
        QMenu* moveTo = nullptr;
        QToolButton* moveToButton = nullptr;
    };

    struct SideFields
    {
        QUuid id;
        QSpinBox* record = nullptr;
        QLineEdit* label = nullptr;
        QList<TrackFields> tracks;
    };

    void followDraft();
    void rebuild(const CaptureProject& draft);
    QWidget* makeSide(const CaptureSide& side, QWidget* parent);
    QWidget* makeTrack(const CaptureSide& side, qsizetype index, SideFields& fields,
                       QWidget* parent);
    void refreshMoveMenus(const CaptureProject& draft);
    // Applies change to a copy of the draft and hands the copy to the controller.
    void editDraft(const std::function<void(CaptureProject&)>& change);

    CaptureViewModel& capture_;
    QVBoxLayout* sidesLayout_ = nullptr;
    QWidget* sides_ = nullptr;
    Structure structure_;
    QList<SideFields> fields_;
    // The tab titles the move menus were last built with.
    QStringList titles_;
    // Set while "Add expected track" of that side runs.
    std::optional<QUuid> focusNewTrackOf_;
};

} // namespace brevalo
