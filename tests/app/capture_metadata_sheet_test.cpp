// The metadata sheet: field bindings, the confirmation, editing mode, the layout buttons and a
// Discogs lookup from search to filled sheet against a loopback service.

#include "../discogs/http_test_server.h"
#include "app/appearance.h"
#include "app/capture_metadata_sheet.h"
#include "capture_test_support.h"
#include "workflow/capture_view_model.h"

#include <QApplication>
#include <QBuffer>
#include <QCheckBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

namespace brevalo::testing_support {
namespace {

struct LoopbackDiscogs
{
    test::HttpTestServer server;
};

// The capture controller with a loopback Discogs service.
class MetadataSheet : public ::testing::Test, public LoopbackDiscogs, public CaptureDesk
{
protected:
    MetadataSheet()
        : CaptureDesk(Scope::withoutAudio, [this](CaptureViewModel::Options& options) {
              options.discogs.baseURL = server.url();
              options.discogs.allowLoopbackHttpArtwork = true;
          })
    {}

    std::unique_ptr<CaptureMetadataSheet> newSheet()
    {
        capture().beginNewProject();
        return std::make_unique<CaptureMetadataSheet>(capture(), true);
    }

    static void retype(QLineEdit* field, const QString& text)
    {
        field->selectAll();
        QTest::keyClick(field, Qt::Key_Delete);
        QTest::keyClicks(field, text);
    }
};

TEST(MetadataSheetBindings, GenresSplitAtEverySemicolonTrimmingSpacesAndTabs)
{
    for (const auto& [typed, expected] : {
             std::pair{QString("Rock; Jazz ;"), QStringList{"Rock", "Jazz", ""}},
             std::pair{QString("\tPop ;;Folk  "), QStringList{"Pop", "", "Folk"}},
             std::pair{QString(" Soul\n"), QStringList{"Soul\n"}},
             std::pair{QString(""), QStringList{""}},
         }) {
        EXPECT_EQ(genresFromFieldText(typed), expected) << typed.toStdString();
    }
    EXPECT_EQ(genresFieldText({"Funk", "Disco"}), "Funk; Disco");
}

TEST(MetadataSheetBindings, ReleaseIDIsADecimalIntegerOrNone)
{
    for (const auto& [typed, expected] : {
             std::pair{QString("123"), std::optional<qint64>(123)},
             std::pair{QString("12ab"), std::optional<qint64>()},
             std::pair{QString("1.5"), std::optional<qint64>()},
             std::pair{QString("0x1F"), std::optional<qint64>()},
             std::pair{QString("99999999999999999999"), std::optional<qint64>()},
             std::pair{QString(""), std::optional<qint64>()},
         }) {
        EXPECT_EQ(releaseIDFromFieldText(typed), expected) << typed.toStdString();
    }
    EXPECT_EQ(releaseIDFieldText(4711), "4711");
    EXPECT_EQ(releaseIDFieldText(std::nullopt), "");
}

TEST_F(MetadataSheet, TypingWritesTheDraftAndAConfirmationAfreshCreatesTheProject)
{
    auto sheet = newSheet();
    EXPECT_EQ(sheet->windowTitle(), "New Capture");
    QLineEdit* genres = child<QLineEdit>(*sheet, "genresField");
    QLineEdit* releaseID = child<QLineEdit>(*sheet, "releaseIdField");
    EXPECT_EQ(releaseID->placeholderText(), "Optional");
    QTest::keyClicks(genres, "Rock; Jazz ;");
    QTest::keyClicks(releaseID, "12ab");
    EXPECT_EQ(capture().draft().genres, (QStringList{"Rock", "Jazz", ""}));
    EXPECT_EQ(capture().draft().discogsReleaseID, std::nullopt);
    EXPECT_EQ(genres->text(), "Rock; Jazz ;");
    EXPECT_EQ(genres->cursorPosition(), 12);
    EXPECT_EQ(releaseID->text(), "12ab");

    CaptureProject draft = capture().draft();
    draft.genres = {"Funk", "Disco"};
    draft.discogsReleaseID = 4711;
    capture().setDraft(draft);
    EXPECT_EQ(genres->text(), "Funk; Disco");
    EXPECT_EQ(releaseID->text(), "4711");

    auto* check = child<QCheckBox>(*sheet, "confirmCheck");
    auto* confirm = child<QPushButton>(*sheet, "confirmButton");
    EXPECT_EQ(check->text(), "I have checked the physical release, sides, and track list.");
    EXPECT_EQ(confirm->text(), "Confirm Release && Create Project"); // shows a single "&"
    EXPECT_FALSE(confirm->isEnabled());
    check->click();
    EXPECT_TRUE(confirm->isEnabled());
    sheet->show();
    EXPECT_FALSE(check->isChecked()); // shown again: confirm afresh
    EXPECT_FALSE(confirm->isEnabled());

    QTest::keyClicks(child<QLineEdit>(*sheet, "artistField"), "Tide");
    QTest::keyClicks(child<QLineEdit>(*sheet, "albumField"), "Shore");
    check->click();
    confirm->click();
    ASSERT_TRUE(capture().document());
    EXPECT_EQ(capture().document()->project.title, "Shore");
    EXPECT_FALSE(capture().showsNewProject());
}

TEST_F(MetadataSheet, EditingSavesMetadataWithoutLookupOrConfirmation)
{
    createProject();
    capture().beginMetadataEdit();
    CaptureMetadataSheet sheet(capture(), false);
    EXPECT_EQ(sheet.windowTitle(), "Edit album and track details");
    EXPECT_EQ(sheet.findChild<QLineEdit*>("releaseInput"), nullptr);
    EXPECT_EQ(sheet.findChild<QCheckBox*>("confirmCheck"), nullptr);
    auto* save = child<QPushButton>(sheet, "confirmButton");
    EXPECT_EQ(save->text(), "Save Metadata");
    EXPECT_EQ(child<QLineEdit>(sheet, "artistField")->text(), "The Artist");

    retype(child<QLineEdit>(sheet, "albumField"), "Shoreline");
    save->click();
    EXPECT_EQ(capture().document()->project.title, "Shoreline");
    EXPECT_FALSE(capture().showsMetadataEditor());
}

TEST_F(MetadataSheet, LayoutButtonsEditTheDraft)
{
    const auto sheet = newSheet();
    const auto editors = [&](const char* name) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return sheet->findChildren<QWidget*>(name);
    };
    QLineEdit* title = child<QLineEdit>(*editors("trackEditor").at(0), "trackTitleField");
    retype(title, "Intro");
    EXPECT_EQ(editors("trackEditor").at(0)->findChild<QLineEdit*>("trackTitleField"), title);
    EXPECT_EQ(capture().draft().sides[0].tracks[0].title, "Intro");

    child<QPushButton>(*sheet, "addSideButton")->click();
    ASSERT_EQ(editors("sideEditor").size(), 3);
    EXPECT_EQ(capture().draft().sides[2].label, "C");
    child<QPushButton>(*editors("sideEditor").at(0), "addTrackButton")->click();
    ASSERT_EQ(capture().draft().sides[0].tracks.size(), 2);
    const QUuid intro = capture().draft().sides[0].tracks[0].id;
    child<QToolButton>(*editors("trackEditor").at(0), "moveDownButton")->click();
    EXPECT_EQ(capture().draft().sides[0].tracks[1].id, intro);

    // Two records now, so destinations carry the record number.
    QMenu* moveTo = child<QToolButton>(*editors("trackEditor").at(1), "moveToButton")->menu();
    EXPECT_EQ(actionTexts(moveTo), (QStringList{QString("Move to Record 1 \u00B7 Side B"),
                                                QString("Move to Record 2 \u00B7 Side C")}));
    moveTo->actions().at(1)->trigger();
    EXPECT_EQ(capture().draft().sides[2].tracks.last().id, intro);
    child<QToolButton>(*editors("sideEditor").at(2), "deleteTrackButton")->click();
    EXPECT_EQ(capture().draft().sides[2].tracks.size(), 1);
    EXPECT_EQ(editors("trackEditor").size(), 3);
}

TEST_F(MetadataSheet, SearchNeedsArtistOrAlbumAndAHitFillsTheSheetFromDiscogs)
{
    QImage cover(300, 300, QImage::Format_RGB32);
    cover.fill(QColor(196, 92, 48));
    QByteArray png;
    QBuffer buffer(&png);
    cover.save(&buffer, "PNG");
    server.enqueue({.body = R"({"results": [{"id": 77, "title": "Tide - Shore", "year": "1973",
        "country": "UK", "catno": "SH 1", "format": ["Vinyl", "LP"]}]})"});
    server.enqueue({.body = R"({"id": 77, "title": "Shore", "artists": [{"name": "Tide"}],
        "year": 1973, "genres": ["Rock", "Jazz"], "labels": [{"name": "Harbour", "catno": "SH 1"}],
        "country": "UK", "formats": [{"name": "Vinyl", "qty": "1"}], "tracklist": [
        {"position": "A1", "title": "Low Water"}, {"position": "A2", "title": "Salt"},
        {"position": "B1", "title": "Undertow"}, {"position": "B2", "title": "High Water"}],
        "images": [{"type": "primary", "uri": ")" +
                            server.url("/cover.png").toEncoded() + R"("}]})"});
    server.enqueue({.body = png});

    const auto sheet = newSheet();
    sheet->show();
    auto* error = child<QLabel>(*sheet, "sheetError");
    EXPECT_TRUE(error->isHidden());
    child<QPushButton>(*sheet, "searchButton")->click();
    EXPECT_FALSE(error->isHidden());
    EXPECT_EQ(error->text(), "Enter an artist or album title.");
    EXPECT_TRUE(server.requests.isEmpty());

    child<QToolButton>(*sheet, "searchToggle")->click();
    child<QToolButton>(*sheet, "tokenToggle")->click();
    QTest::keyClicks(child<QLineEdit>(*sheet, "tokenField"), "secret");
    QTest::keyClicks(child<QLineEdit>(*sheet, "searchArtistField"), "Tide");
    child<QPushButton>(*sheet, "searchButton")->click();
    EXPECT_FALSE(child<QPushButton>(*sheet, "fetchReleaseButton")->isEnabled());
    settle(&CaptureViewModel::isFetching);
    auto* results = child<QListWidget>(*sheet, "searchResults");
    ASSERT_EQ(results->count(), 1);
    QCoreApplication::processEvents();
    QTest::mouseClick(results->viewport(), Qt::LeftButton, {},
                      results->visualItemRect(results->item(0)).center());
    settle(&CaptureViewModel::isFetching);

    ASSERT_EQ(server.requests.size(), 3);
    EXPECT_TRUE(error->isHidden());
    EXPECT_TRUE(server.requests[1].target.startsWith("/releases/77"));
    EXPECT_EQ(child<QLineEdit>(*sheet, "artistField")->text(), "Tide");
    EXPECT_EQ(child<QLineEdit>(*sheet, "genresField")->text(), "Rock; Jazz");
    EXPECT_EQ(child<QLineEdit>(*sheet, "releaseIdField")->text(), "77");
    EXPECT_FALSE(child<QLabel>(*sheet, "coverPreview")->isHidden());
    EXPECT_FALSE(child<QLabel>(*sheet, "draftWarning")->text().isEmpty());
    EXPECT_EQ(sheet->findChildren<QWidget*>("trackEditor").size(), 4);

    const QPalette light = QApplication::palette();
    applyDarkAppearance(*qApp);
    sheet->resize(780, 1250);
    QCoreApplication::processEvents();
    saveRender(*sheet, QStringLiteral("capture-sheet-discogs"));
    QApplication::setPalette(light);
}

} // namespace
} // namespace brevalo::testing_support
