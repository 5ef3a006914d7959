// The side tab row: its payload and drop rules, titles and states, and the click, drag, drop and
// context menu gestures against a real capture controller.

#include "app/capture_side_tabs.h"

#include "capture_test_support.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMimeData>
#include <QTest>

#include <gtest/gtest.h>

namespace brevalo {
namespace {

using testing::side;

TEST(SideTabDrop, TakesOnlyOnePayloadOfTheSameProjectNamingAnotherSide)
{
    const CaptureDocument document{testing::project(), QStringLiteral("/library/album")};
    const QUuid project = document.project.id;
    const QUuid a = document.project.sides[0].id;
    const QUuid b = document.project.sides[1].id;
    const QByteArray fromA = CaptureSideDrag{project, a}.encoded();
    const auto json = [&](const QString& projectText, const QString& extra = {}) {
        return QStringLiteral(R"({"projectID":"%1","sideID":"%2"%3})")
            .arg(projectText, a.toString(QUuid::WithoutBraces), extra)
            .toUtf8();
    };
    struct Case
    {
        const char* name;
        QByteArray payload;
        bool accepted;
        QList<QUrl> urls = {};
    };
    for (const Case& c : {
             Case{"valid", fromA, true},
             Case{"upper case", json(project.toString(QUuid::WithoutBraces).toUpper()), true},
             Case{"onto itself", CaptureSideDrag{project, b}.encoded(), false},
             Case{"other project", CaptureSideDrag{QUuid::createUuid(), a}.encoded(), false},
             Case{"side gone", CaptureSideDrag{project, QUuid::createUuid()}.encoded(), false},
             Case{"two payloads", fromA + fromA, false},
             Case{"two entries", fromA, false, {QUrl("file:///a"), QUrl("file:///b")}},
             Case{"not JSON", "projectID=" + fromA, false},
             Case{"missing key",
                  R"({"projectID":")" + project.toByteArray(QUuid::WithoutBraces) + "\"}", false},
             Case{"extra key", json(project.toString(QUuid::WithoutBraces), ",\"x\":1"), false},
             Case{"braced identifier", json(project.toString()), false},
         }) {
        QMimeData data;
        data.setData(sideRecordingMimeType, c.payload);
        data.setUrls(c.urls);
        EXPECT_EQ(acceptableSideDrop(&data, document, project, b).has_value(), c.accepted)
            << c.name;
        EXPECT_FALSE(acceptableSideDrop(&data, std::nullopt, project, b)); // no project open
    }
}

TEST(SideTabText, TitlesAndStates)
{
    CaptureProject two = testing::project();
    EXPECT_EQ(sideTabTitle(two, two.sides[1]), QStringLiteral("Side B"));
    two.sides.append(side(2, QStringLiteral("C")));
    EXPECT_EQ(sideTabTitle(two, two.sides[2]), QStringLiteral("Record 2 \u00B7 Side C"));

    CaptureSide ready = side(1, QStringLiteral("A"), 2);
    EXPECT_EQ(sideTabState(ready), sideTabText::notRecorded);
    ready.master = testing::master(1000);
    ready.markers = {500};
    EXPECT_EQ(sideTabState(ready), sideTabText::readyToExport);
    CaptureSide interrupted = ready;
    interrupted.master->isComplete = false;
    EXPECT_EQ(sideTabState(interrupted), sideTabText::recorded);
    ready.markers.clear(); // one boundary short
    EXPECT_EQ(sideTabState(ready), sideTabText::recorded);
}

// A project of three sides of one record; side A holds a master.
class SideTabBarTest : public ::testing::Test, public testing_support::CaptureDesk
{
public:
    SideTabBarTest() : CaptureDesk(Scope::withoutAudio)
    {
        project = testing::project();
        project.sides.append(side(1, QStringLiteral("C")));
        project.sides[0].master = testing::master(1000);
        capture().beginNewProject();
        capture().setDraft(project);
        capture().confirmDraft();
        bar = std::make_unique<CaptureSideTabBar>(capture());
        bar->resize(600, 120);
        bar->show();
        bar->setDragRunner([this](QWidget* source, QMimeData* data) {
            drags.emplace_back(source, std::unique_ptr<QMimeData>(data));
        });
    }

    QUuid id(int index) const { return project.sides[index].id; }
    QWidget* tab(int index) const { return bar->tab(id(index)); }
    void drag(int index, QPoint by)
    {
        const QPoint start(20, 20);
        QTest::mousePress(tab(index), Qt::LeftButton, {}, start);
        QTest::mouseMove(tab(index), start + by);
        QTest::mouseRelease(tab(index), Qt::LeftButton, {}, start + by);
    }
    bool dropOnto(int index, const QMimeData& data)
    {
        QDragEnterEvent enter({10, 10}, Qt::MoveAction, &data, Qt::LeftButton, {});
        QApplication::sendEvent(tab(index), &enter);
        if (!enter.isAccepted()) {
            return false;
        }
        EXPECT_EQ(bar->dropTargetSideID(), id(index));
        QDropEvent drop({10, 10}, Qt::MoveAction, &data, Qt::LeftButton, {});
        QApplication::sendEvent(tab(index), &drop);
        EXPECT_FALSE(bar->dropTargetSideID());
        return drop.isAccepted();
    }

    CaptureProject project;
    std::unique_ptr<CaptureSideTabBar> bar;
    std::vector<std::pair<QWidget*, std::unique_ptr<QMimeData>>> drags;
};

TEST_F(SideTabBarTest, ShortMovesSelectLongerOnesDragButNotWhileBusyOrASheetIsOpen)
{
    EXPECT_EQ(bar->sideIDs(), QList<QUuid>({id(0), id(1), id(2)}));
    EXPECT_EQ(tab(1)->accessibleName(), QStringLiteral("Side B"));
    EXPECT_TRUE(isSideTabDraggable(capture(), project.id));
    EXPECT_FALSE(isSideTabDraggable(capture(), QUuid::createUuid()));
    for (auto show :
         {&CaptureViewModel::setShowsMetadataEditor, &CaptureViewModel::setShowsNewProject}) {
        (capture().*show)(true);
        EXPECT_FALSE(isSideTabDraggable(capture(), project.id));
        (capture().*show)(false);
    }
    drag(1, {3, 0});
    EXPECT_EQ(capture().selectedSideID(), id(1));
    drag(2, {2, 2}); // 2.8 points away
    EXPECT_EQ(capture().selectedSideID(), id(2));
    EXPECT_TRUE(drags.empty());

    drag(0, {3, 3}); // 4.2 points away
    ASSERT_EQ(drags.size(), 1u);
    EXPECT_EQ(drags[0].first, tab(0));
    EXPECT_EQ(CaptureSideDrag::decode(drags[0].second->data(sideRecordingMimeType)),
              (CaptureSideDrag{project.id, id(0)}));
    EXPECT_EQ(capture().selectedSideID(), id(2)); // the release after a drag selects nothing

    panels->folders = {exportFolder()};
    capture().exportTracks(std::nullopt); // nothing is exportable; it fails in the background
    ASSERT_TRUE(capture().isExporting());
    drag(1, {1, 0});
    drag(1, {20, 0});
    EXPECT_EQ(capture().selectedSideID(), id(2));
    EXPECT_EQ(drags.size(), 1u);
    settle(&CaptureViewModel::isExporting);
}

TEST_F(SideTabBarTest, DroppingATabOrChoosingFromItsMenuSwapsTheRecordings)
{
    drag(0, {10, 0});
    ASSERT_EQ(drags.size(), 1u);
    const QMimeData& payload = *drags[0].second;
    QWidget* const target = tab(1);
    EXPECT_FALSE(dropOnto(0, payload)); // onto itself
    EXPECT_FALSE(bar->dropTargetSideID());
    EXPECT_TRUE(dropOnto(1, payload));
    EXPECT_TRUE(capture().document()->project.sides[1].master);
    EXPECT_FALSE(capture().document()->project.sides[0].master);
    EXPECT_EQ(tab(1), target); // tabs outlive a swap: the drop handler is still running

    std::unique_ptr<QMenu> menu(bar->createContextMenu(id(1), nullptr));
    ASSERT_EQ(menu->actions().size(), 1);
    QMenu* swap = menu->actions()[0]->menu();
    ASSERT_NE(swap, nullptr);
    EXPECT_EQ(swap->title(), sideTabText::swapMenu);
    EXPECT_EQ(testing_support::actionTexts(swap),
              QStringList({QStringLiteral("Side A"), QStringLiteral("Side C")}));
    swap->actions()[1]->trigger();
    EXPECT_TRUE(capture().document()->project.sides[2].master);
}

} // namespace
} // namespace brevalo
