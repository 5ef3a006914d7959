#include "discogs/release_mapping.h"

#include "qt_printers.h"

#include <gtest/gtest.h>

#include <limits>

using namespace brevalo;

namespace {

using Artist = DiscogsRelease::Artist;
using Track = DiscogsRelease::Track;

Track track(const QString& position, const QString& title = QStringLiteral("t"),
            std::optional<QString> type = std::nullopt)
{
    Track made;
    made.position = position;
    made.title = title;
    made.type_ = std::move(type);
    return made;
}

// (record, label, track count) of every side, in order.
std::vector<std::tuple<std::int64_t, QString, qsizetype>> layout(const QList<CaptureSide>& sides)
{
    std::vector<std::tuple<std::int64_t, QString, qsizetype>> shape;
    for (const CaptureSide& side : sides) {
        shape.emplace_back(side.record, side.label, side.tracks.size());
    }
    return shape;
}

QList<CaptureSide> sidesFor(const QList<Track>& tracklist)
{
    QList<CaptureSide> sides;
    for (const Track& entry : tracklist) {
        addTrackToSides(entry, sides);
    }
    return sides;
}

TEST(ParseReleaseID, ReadsPlainIDsURLsAndReferences)
{
    for (const QString& input :
         {QStringLiteral("1234"), QStringLiteral("  1234 "), QStringLiteral("1234\n"),
          QStringLiteral("+1234"),
          QStringLiteral("https://www.discogs.com/release/1234-Some-Title"),
          QStringLiteral("see [r1234] here"), QStringLiteral("\t[r1234]\r\n")}) {
        SCOPED_TRACE(input.toStdString());
        EXPECT_EQ(parseReleaseID(input), 1234);
    }
    EXPECT_EQ(parseReleaseID(QStringLiteral("9223372036854775807")),
              std::numeric_limits<std::int64_t>::max());
}

TEST(ParseReleaseID, RefusesWhatIsNotAReleaseReference)
{
    for (const QString& input :
         {QStringLiteral("-3"), QStringLiteral("0"), QStringLiteral("r1234"), QString(),
          QStringLiteral("   "), QStringLiteral("https://www.discogs.com/master/55-Title"),
          QStringLiteral("12 34"), QStringLiteral("+"), QStringLiteral("1234abc"),
          QStringLiteral("[r99999999999999999999]"), QStringLiteral("/release/-5"),
          QStringLiteral("[r\u0661\u0662]")}) {
        SCOPED_TRACE(input.toStdString());
        EXPECT_EQ(parseReleaseID(input), std::nullopt);
    }
}

TEST(ParseReleaseID, ReferencePathHasNoLowerBound)
{
    // The fetch refuses 0 with its own message.
    EXPECT_EQ(parseReleaseID(QStringLiteral("[r0]")), 0);
    // A plain number too large for 64 bits is still searched for a reference.
    EXPECT_EQ(parseReleaseID(QStringLiteral("99999999999999999999")), std::nullopt);
    EXPECT_EQ(parseReleaseID(QStringLiteral("-5 /release/7")), 7);
}

TEST(ParseSidePosition, DerivesRecordAndSideFromTheTable)
{
    const std::pair<QString, SidePosition> table[] = {
        {QStringLiteral("A1"), {1, QStringLiteral("A")}},
        {QStringLiteral("b2"), {1, QStringLiteral("B")}},
        {QStringLiteral("C"), {2, QStringLiteral("C")}},
        {QStringLiteral("D4a"), {2, QStringLiteral("D")}},
        {QStringLiteral("2-C3"), {2, QStringLiteral("C")}},
        {QStringLiteral("1.A2"), {1, QStringLiteral("A")}},
        {QStringLiteral("10 B1"), {10, QStringLiteral("B")}},
        {QStringLiteral("A-1"), {1, QStringLiteral("A")}},
        {QStringLiteral("CD1-1"), {41, QStringLiteral("CD")}},
        {QStringLiteral(" \tE1 \t"), {3, QStringLiteral("E")}},
        {QStringLiteral("Y1"), {13, QStringLiteral("Y")}},
        {QStringLiteral("Z1"), {13, QStringLiteral("Z")}},
        {QStringLiteral("AA1"), {14, QStringLiteral("AA")}},
        {QStringLiteral("0-B1"), {0, QStringLiteral("B")}},
    };
    for (const auto& [position, expected] : table) {
        SCOPED_TRACE(position.toStdString());
        EXPECT_EQ(parseSidePosition(position), expected);
    }
}

TEST(ParseSidePosition, PositionsWithoutASideGiveNone)
{
    for (const QString& position :
         {QStringLiteral("1"), QStringLiteral("7"), QStringLiteral("12"), QStringLiteral("Side A"),
          QString(), QStringLiteral("\nA1"), QStringLiteral("A B"), QStringLiteral("2-"),
          QStringLiteral("A.x")}) {
        // Only spaces and tabs are trimmed, so a leading line break spoils the position.
        SCOPED_TRACE(position.toStdString());
        EXPECT_EQ(parseSidePosition(position), std::nullopt);
    }
}

TEST(ParseSidePosition, RecordNumberTooLargeFallsBackToTheLetters)
{
    EXPECT_EQ(parseSidePosition(QStringLiteral("99999999999999999999-C1")),
              (SidePosition{2, QStringLiteral("C")}));
}

TEST(ParseSidePosition, LabelsBeyondSixtyFourBitsAreUnparseable)
{
    // CRPXNLSKVLJFHG is exactly the largest signed 64-bit index; one more overflows.
    EXPECT_EQ(parseSidePosition(QStringLiteral("CRPXNLSKVLJFHG1")),
              (SidePosition{std::numeric_limits<std::int64_t>::max() / 2 + 1,
                            QStringLiteral("CRPXNLSKVLJFHG")}));
    EXPECT_EQ(parseSidePosition(QStringLiteral("CRPXNLSKVLJFHH1")), std::nullopt);
    EXPECT_EQ(parseSidePosition(QStringLiteral("ZZZZZZZZZZZZZZZZZZZZ")), std::nullopt);
    EXPECT_EQ(parseSidePosition(QStringLiteral("3-ZZZZZZZZZZZZZZZZZZZZ1")), std::nullopt);
}

TEST(ArtistCredit, JoinsCleanedNamesWithTheirJoinWords)
{
    EXPECT_EQ(artistCredit({{QStringLiteral("Ann"), QStringLiteral("&")},
                            {QStringLiteral("Bob"), std::nullopt}}),
              QStringLiteral("Ann & Bob"));
    EXPECT_EQ(artistCredit({{QStringLiteral("A"), std::nullopt},
                            {QStringLiteral("B"), QStringLiteral("Feat.")},
                            {QStringLiteral("C"), QStringLiteral("ignored, last")}}),
              QStringLiteral("A , B Feat. C"));
    EXPECT_EQ(artistCredit({{QStringLiteral("A"), QString()}, {QStringLiteral("B"), std::nullopt}}),
              QStringLiteral("A , B"));
    EXPECT_EQ(artistCredit({}), QString());
}

TEST(ArtistCredit, RemovesOnlyATrailingNumberingSuffix)
{
    EXPECT_EQ(artistCredit({{QStringLiteral("Ann Ray (2)"), std::nullopt}}),
              QStringLiteral("Ann Ray"));
    EXPECT_EQ(artistCredit({{QStringLiteral("Ann Ray (Live)"), std::nullopt}}),
              QStringLiteral("Ann Ray (Live)"));
    EXPECT_EQ(artistCredit({{QStringLiteral("Ann Ray (2) Trio"), std::nullopt}}),
              QStringLiteral("Ann Ray (2) Trio"));
    EXPECT_EQ(artistCredit({{QStringLiteral("Ann (12)"), QStringLiteral("&")},
                            {QStringLiteral(" Bob (3)\t"), std::nullopt}}),
              QStringLiteral("Ann &  Bob (3)"))
        << "the suffix must end the name; only the whole credit is trimmed";
}

TEST(ReleaseDateText, DropsUnknownPartsAndFallsBackToTheYear)
{
    const std::pair<QString, QString> table[] = {
        {QStringLiteral("1973-00-00"), QStringLiteral("1973")},
        {QStringLiteral("1973-03-00"), QStringLiteral("1973-03")},
        {QStringLiteral("1973-03-15"), QStringLiteral("1973-03-15")},
        {QStringLiteral("1973-03"), QStringLiteral("1973-03")},
        {QStringLiteral("1973"), QStringLiteral("1973")},
        {QStringLiteral("-1973-"), QStringLiteral("-1973-")},
        {QStringLiteral("1973--00"), QStringLiteral("1973")},
        {QStringLiteral("1973-03-00-00"), QStringLiteral("1973-03-00-00")},
    };
    for (const auto& [released, expected] : table) {
        SCOPED_TRACE(released.toStdString());
        DiscogsRelease release;
        release.released = released;
        release.year = 1999;
        EXPECT_EQ(releaseDateText(release), expected);
    }
    DiscogsRelease release;
    release.released = QString();
    release.year = 1973;
    EXPECT_EQ(releaseDateText(release), QStringLiteral("1973"));
    release.year = 0;
    EXPECT_EQ(releaseDateText(release), QString());
    release.year.reset();
    EXPECT_EQ(releaseDateText(release), QString());
}

TEST(CoverImageURL, PrefersThePrimaryImageAndNeverTriesAnother)
{
    using Image = DiscogsRelease::Image;
    DiscogsRelease release;
    EXPECT_EQ(coverImageURL(release), std::nullopt);
    release.images = QList<Image>();
    EXPECT_EQ(coverImageURL(release), std::nullopt);

    release.images =
        QList<Image>{{QStringLiteral("secondary"), QStringLiteral("https://i.example/2.jpg")},
                     {QStringLiteral("primary"), std::nullopt}};
    EXPECT_EQ(coverImageURL(release), std::nullopt);

    release.images =
        QList<Image>{{QStringLiteral("secondary"), QStringLiteral("https://i.example/2.jpg")}};
    EXPECT_EQ(coverImageURL(release), QUrl(QStringLiteral("https://i.example/2.jpg")));

    release.images =
        QList<Image>{{std::nullopt, QStringLiteral("https://i.example/1.jpg")},
                     {QStringLiteral("primary"), QStringLiteral("https://i.example/p.jpg")},
                     {QStringLiteral("primary"), QStringLiteral("https://i.example/q.jpg")}};
    EXPECT_EQ(coverImageURL(release), QUrl(QStringLiteral("https://i.example/p.jpg")));

    release.images =
        QList<Image>{{QStringLiteral("primary"), QStringLiteral("not a url")},
                     {QStringLiteral("secondary"), QStringLiteral("https://i.example/2.jpg")}};
    EXPECT_EQ(coverImageURL(release), std::nullopt);
    release.images = QList<Image>{{QStringLiteral("Primary"), QString()}};
    EXPECT_EQ(coverImageURL(release), std::nullopt);
}

TEST(AddTrackToSides, GroupsBySideInOrderOfFirstAppearance)
{
    EXPECT_EQ(
        layout(sidesFor({track(QStringLiteral("A1")), track(QStringLiteral("A2")),
                         track(QStringLiteral("B1")), track(QStringLiteral("B2")),
                         track(QStringLiteral("C1")), track(QStringLiteral("D1"))})),
        (std::vector<std::tuple<std::int64_t, QString, qsizetype>>{{1, QStringLiteral("A"), 2},
                                                                   {1, QStringLiteral("B"), 2},
                                                                   {2, QStringLiteral("C"), 1},
                                                                   {2, QStringLiteral("D"), 1}}));
    EXPECT_EQ(layout(sidesFor({track(QStringLiteral("B1")), track(QStringLiteral("A1")),
                               track(QStringLiteral("B2"))})),
              (std::vector<std::tuple<std::int64_t, QString, qsizetype>>{
                  {1, QStringLiteral("B"), 2}, {1, QStringLiteral("A"), 1}}));
    EXPECT_EQ(
        layout(sidesFor({track(QStringLiteral("1-A1")), track(QStringLiteral("A1"))})),
        (std::vector<std::tuple<std::int64_t, QString, qsizetype>>{{1, QStringLiteral("A"), 2}}));
}

TEST(AddTrackToSides, PositionsWithoutSidesGoToTheUnassignedSide)
{
    const QList<CaptureSide> sides = sidesFor(
        {track(QStringLiteral("1")), track(QStringLiteral("2")), track(QStringLiteral("3"))});
    EXPECT_EQ(layout(sides), (std::vector<std::tuple<std::int64_t, QString, qsizetype>>{
                                 {1, QStringLiteral("?"), 3}}));
}

TEST(AddTrackToSides, HeadingsAddNothingAndIndexEntriesAddTheirParts)
{
    Track index = track(QStringLiteral("A3"), QStringLiteral("Suite"), QStringLiteral("index"));
    index.sub_tracks = QList<Track>{track(QStringLiteral("A3a"), QStringLiteral("Movement 1")),
                                    track(QStringLiteral("A3b"), QStringLiteral("Movement 2"))};
    Track bareIndex = track(QStringLiteral("A5"), QStringLiteral("Lone"), QStringLiteral("index"));
    bareIndex.sub_tracks = QList<Track>();
    const QList<CaptureSide> sides = sidesFor(
        {track(QStringLiteral("A2"), QStringLiteral("Two")),
         track(QString(), QStringLiteral("Side B"), QStringLiteral("heading")),
         track(QStringLiteral("B1"), QStringLiteral("B one"), QStringLiteral("track")), index,
         bareIndex, track(QStringLiteral("A6"), QStringLiteral("Six"), QStringLiteral("Heading"))});

    ASSERT_EQ(sides.size(), 2);
    QStringList titlesOnA;
    for (const CaptureTrack& onA : sides[0].tracks) {
        titlesOnA.append(onA.title);
    }
    EXPECT_EQ(titlesOnA, (QStringList{QStringLiteral("Two"), QStringLiteral("Movement 1"),
                                      QStringLiteral("Movement 2"), QStringLiteral("Lone"),
                                      QStringLiteral("Six")}));
    EXPECT_EQ(sides[1].label, QStringLiteral("B"));
}

TEST(AddTrackToSides, TracksKeepTheirOwnTextsAndFreshIdentifiers)
{
    Track guest = track(QStringLiteral(" a1 "), QStringLiteral("Song"));
    guest.artists = QList<Artist>{{QStringLiteral("Guest (4)"), std::nullopt}};
    const QList<CaptureSide> sides = sidesFor({guest, track(QStringLiteral("A2"))});

    ASSERT_EQ(sides.size(), 1);
    const CaptureSide& side = sides[0];
    EXPECT_EQ(side.record, 1);
    EXPECT_EQ(side.label, QStringLiteral("A"));
    EXPECT_FALSE(side.id.isNull());
    EXPECT_FALSE(side.master.has_value());
    EXPECT_TRUE(side.markers.isEmpty());
    EXPECT_FALSE(side.trimStartFrame.has_value());
    EXPECT_FALSE(side.trimEndFrame.has_value());
    ASSERT_EQ(side.tracks.size(), 2);
    EXPECT_EQ(side.tracks[0].position, QStringLiteral(" a1 "));
    EXPECT_EQ(side.tracks[0].title, QStringLiteral("Song"));
    EXPECT_EQ(side.tracks[0].artist, QStringLiteral("Guest"));
    EXPECT_EQ(side.tracks[1].artist, QString()) << "no album artist fallback";
    EXPECT_FALSE(side.tracks[0].id.isNull());
    EXPECT_NE(side.tracks[0].id, side.tracks[1].id);
}

TEST(MakeProjectDraft, FillsEveryFieldFromTheRelease)
{
    DiscogsRelease release;
    release.id = 249504;
    release.title = QStringLiteral("Night Works");
    release.artists = QList<Artist>{{QStringLiteral("Ann Ray (2)"), QStringLiteral("&")},
                                    {QStringLiteral("Bob"), std::nullopt}};
    release.released = QStringLiteral("1973-00-00");
    release.year = 1973;
    release.genres = QStringList{QStringLiteral("Jazz"), QStringLiteral("Rock")};
    release.styles = QStringList{QStringLiteral("Fusion")};
    release.labels =
        QList<DiscogsRelease::Label>{{QStringLiteral("Northlight"), QStringLiteral("NL 804")},
                                     {QStringLiteral("Westway"), std::nullopt}};
    release.country = QStringLiteral("UK");
    release.formats =
        QList<DiscogsRelease::Format>{{QStringLiteral("Vinyl"), QStringLiteral("2"),
                                       QStringList{QStringLiteral("LP"), QStringLiteral("Album")}},
                                      {QStringLiteral("CD"), std::nullopt, std::nullopt}};
    release.tracklist = {track(QStringLiteral("A1")), track(QStringLiteral("B1"))};
    release.images = QList<DiscogsRelease::Image>{
        {QStringLiteral("primary"), QStringLiteral("https://i.example/c.jpg")}};
    const QDateTime now = QDateTime::fromSecsSinceEpoch(1'700'000'000, Qt::UTC);

    const CaptureProject draft = makeProjectDraft(release, now);
    EXPECT_EQ(draft.schemaVersion, 1);
    EXPECT_FALSE(draft.id.isNull());
    EXPECT_EQ(draft.createdAt, now);
    EXPECT_EQ(draft.discogsReleaseID, 249504);
    EXPECT_EQ(draft.artist, QStringLiteral("Ann Ray & Bob"));
    EXPECT_EQ(draft.albumArtist, QStringLiteral("Ann Ray & Bob"));
    EXPECT_EQ(draft.title, QStringLiteral("Night Works"));
    EXPECT_EQ(draft.source, CaptureSource::vinyl);
    EXPECT_EQ(draft.date, QStringLiteral("1973"));
    EXPECT_EQ(draft.genres, (QStringList{QStringLiteral("Jazz"), QStringLiteral("Rock")}));
    EXPECT_EQ(draft.labels, QStringLiteral("Northlight \u00B7 NL 804; Westway"));
    EXPECT_EQ(draft.edition, QStringLiteral("UK \u00B7 Vinyl, LP, Album / CD"));
    EXPECT_FALSE(draft.artworkPath.has_value());
    EXPECT_EQ(layout(draft.sides), (std::vector<std::tuple<std::int64_t, QString, qsizetype>>{
                                       {1, QStringLiteral("A"), 1}, {1, QStringLiteral("B"), 1}}));
    EXPECT_NO_THROW(draft.validate());
    EXPECT_NE(makeProjectDraft(release, now).id, draft.id);
}

TEST(MakeProjectDraft, AbsentListsGiveEmptyTexts)
{
    DiscogsRelease release;
    release.id = 7;
    release.title = QStringLiteral("Bare");
    const CaptureProject draft = makeProjectDraft(release);
    EXPECT_EQ(draft.artist, QString());
    EXPECT_EQ(draft.date, QString());
    EXPECT_TRUE(draft.genres.isEmpty());
    EXPECT_EQ(draft.labels, QString());
    EXPECT_EQ(draft.edition, QString());
    EXPECT_TRUE(draft.sides.isEmpty());
    EXPECT_TRUE(draft.createdAt.isValid());

    release.formats =
        QList<DiscogsRelease::Format>{{QStringLiteral("Vinyl"), std::nullopt, std::nullopt}};
    EXPECT_EQ(makeProjectDraft(release).edition, QStringLiteral("Vinyl"));
}

} // namespace
