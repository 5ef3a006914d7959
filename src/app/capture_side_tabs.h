#pragma once

// The "Record sides" row of the capture workspace: one tab per physical side of the open project.
// Clicking a tab selects its side; dragging a tab onto another (or the "Swap recording with"
// context menu) asks the capture controller to exchange the two sides' recordings. The row keeps
// only the state of a gesture in progress; everything else it shows comes from the controller.
//
// Threads: main thread.

#include "capture/capture_project.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QPointer>
#include <QString>
#include <QUuid>
#include <QWidget>

#include <functional>
#include <optional>

class QLabel;
class QHBoxLayout;
class QMenu;
class QMimeData;

namespace brevalo {

class CaptureViewModel;

// What a dragged side tab carries: the project and the side it was dragged from.
struct CaptureSideDrag
{
    QUuid projectID;
    QUuid sideID;

    bool operator==(const CaptureSideDrag&) const = default;

    // A JSON object with the keys "projectID" and "sideID", each identifier written as
    // 8-4-4-4-12 hexadecimal digits without braces.
    QByteArray encoded() const;
    // The payload of a JSON object with exactly those two keys, each holding an identifier in that
    // form (either letter case); none for anything else.
    static std::optional<CaptureSideDrag> decode(const QByteArray& json);
};

// The data format a dragged side tab travels under. Only side tabs read it.
inline const QString sideRecordingMimeType = QStringLiteral("com.kestrup.Vantorel.side-recording");

namespace sideTabText {
// Under the row.
inline const QString caption = QStringLiteral("Drag one side onto another to swap their recordings "
                                              "and boundaries. Each side keeps its tracklist.");
// The tooltip of each tab.
inline const QString toolTip = QStringLiteral("Drag onto another side to swap recordings and "
                                              "boundaries, or use Swap recording with in the "
                                              "context menu.");
// The accessible description of each tab.
inline const QString description = QStringLiteral(
    "Drag to another side or use the context menu to swap recordings and boundaries.");
inline const QString swapMenu = QStringLiteral("Swap recording with");
inline const QString recorded = QStringLiteral("Recorded");
inline const QString notRecorded = QStringLiteral("Not recorded");
inline const QString readyToExport = QStringLiteral("Ready to export");
} // namespace sideTabText

// "Side A" while the project has fewer than two distinct records, else "Record 2 · Side C".
QString sideTabTitle(const CaptureProject& project, const CaptureSide& side);
// The state under the title: "Not recorded" without a master, "Ready to export" when the side's
// tracks could be exported now (complete master, one region per track, valid boundaries), and
// "Recorded" otherwise (an interrupted take not yet accepted, or boundaries still to place).
QString sideTabState(const CaptureSide& side);

// A tab may be clicked or dragged: the controller is not recording, finalising or exporting, no
// metadata sheet is open, and the open project is the one the tab belongs to.
bool isSideTabDraggable(const CaptureViewModel& capture, const QUuid& projectID);

// The payload of a drop onto the tab of (projectID, sideID) when that drop may be taken: a project
// is open, the data is a single side-tab payload of the same project naming another side that
// still exists. None otherwise.
std::optional<CaptureSideDrag> acceptableSideDrop(const QMimeData* data,
                                                  const std::optional<CaptureDocument>& document,
                                                  const QUuid& projectID, const QUuid& sideID);

class CaptureSideTab;

class CaptureSideTabBar : public QWidget
{
    Q_OBJECT
public:
    // Runs a drag that a tab started. It takes ownership of data.
    using DragRunner = std::function<void(QWidget* sourceTab, QMimeData* data)>;

    // Follows the controller's document, selected side and busy state by itself. The controller
    // must outlive the row.
    explicit CaptureSideTabBar(CaptureViewModel& capture, QWidget* parent = nullptr);
    ~CaptureSideTabBar() override;

    // The tab of a side of the open project (objectName "sideTab", accessible name its title);
    // null for any other id.
    QWidget* tab(const QUuid& sideID) const;
    // The sides with a tab, in the project's order.
    QList<QUuid> sideIDs() const;
    // The side whose tab shows the drop highlight.
    std::optional<QUuid> dropTargetSideID() const { return dropTargetSideID_; }

    // The context menu of a side's tab: a "Swap recording with" submenu listing every other side
    // by its tab title. The caller owns the menu.
    QMenu* createContextMenu(const QUuid& sideID, QWidget* parent);
    // Replaces how a started drag runs; the default is a move-only QDrag. Tests deliver the drop
    // themselves this way, since a real drag session waits for the pointer.
    void setDragRunner(DragRunner runner);

private:
    friend class CaptureSideTab;

    void rebuild();
    void refresh();
    void setDropTarget(const std::optional<QUuid>& sideID);
    void runDrag(QWidget* sourceTab, QMimeData* payload);

    CaptureViewModel& capture_;
    QHBoxLayout* row_ = nullptr;
    QLabel* caption_ = nullptr;
    QMap<QUuid, QPointer<CaptureSideTab>> tabs_;
    QList<QUuid> order_;
    std::optional<QUuid> dropTargetSideID_;
    DragRunner dragRunner_;
};

} // namespace brevalo
