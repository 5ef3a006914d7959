#include "capture/safe_file_name.h"

#include "capture/qt_printers.h"

#include <QStringList>
#include <QTextBoundaryFinder>

#include <gtest/gtest.h>

namespace brevalo {
namespace {

qsizetype graphemeCount(const QString& text)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype count = 0;
    while (finder.toNextBoundary() >= 0) {
        ++count;
    }
    return count;
}

TEST(SafeFileNameTest, ReplacesSeparatorsBeforeTrimmingAndNamesEmptyOnesUntitled)
{
    // clang-format off
    const std::pair<QString, const char*> rows[] = {
        {"AC/DC", "AC-DC"}, {"Live: 1979", "Live- 1979"}, {"/", "-"}, {" \\ ", "-"},
        {"a\r\nb", "a--b"}, {QString::fromUtf16(u"a\0b", 3), "a-b"}, {"\n", "-"},
        {"\t Side  A \u2028", "Side  A"}, {"...", "..."}, {"", "Untitled"}, {".", "Untitled"},
        {"..", "Untitled"}, {" . ", "Untitled"}, {"\t\u3000", "Untitled"}};
    // clang-format on
    for (const auto& [text, expected] : rows) {
        EXPECT_EQ(safeFileNameComponent(text), QString::fromUtf8(expected)) << text.toStdString();
    }
}

TEST(SafeFileNameTest, KeepsAtMost120UserPerceivedCharacters)
{
    EXPECT_EQ(safeFileNameComponent(QString(300, QLatin1Char('x'))),
              QString(120, QLatin1Char('x')));

    // "é" as e + combining acute: two code units, one character; never split in the middle.
    QString combining;
    for (int i = 0; i < 130; ++i) {
        combining += QStringLiteral("e\u0301");
    }
    const QString cut = safeFileNameComponent(combining);
    EXPECT_EQ(cut.size(), 240);
    EXPECT_EQ(graphemeCount(cut), 120);

    // A family emoji is five code points joined by zero-width joiners.
    const QString family = QStringLiteral("👨‍👩‍👧");
    QString families = QStringLiteral("x");
    for (int i = 0; i < 125; ++i) {
        families += family;
    }
    const QString cutFamilies = safeFileNameComponent(families);
    EXPECT_EQ(graphemeCount(cutFamilies), 120);
    EXPECT_TRUE(cutFamilies.endsWith(family));
    EXPECT_EQ(cutFamilies.size(), 1 + 119 * family.size());

    // Exactly 120 characters stay whole.
    QString flags;
    for (int i = 0; i < 120; ++i) {
        flags += QStringLiteral("🇫🇷");
    }
    EXPECT_EQ(safeFileNameComponent(flags), flags);
}

TEST(SafeFileNameTest, LongNamesFitTheFileSystemsByteLimitOnCharacterBoundaries)
{
    const QUuid id = QUuid::fromString(QStringLiteral("0a1b2c3d-4e5f-4a6b-8c7d-9e0f1a2b3c4d"));
    const QString kana(120, QChar(0x3042));           // 3 bytes each in UTF-8
    const QString emoji = QString("🎸").repeated(120); // 4 bytes each, two UTF-16 units
    const QString family =
        QStringLiteral("👨‍👩‍👧").repeated(40);   // 18 bytes per character
    const QString marks = "a" + QString(200, QChar(0x0301)); // one character of 401 bytes
    const std::pair<QString, QString> rows[] = {
        {kana, kana}, {"Tide", emoji}, {emoji, family}, {family, "Ocean"}, {marks, kana}};
    for (const auto& [artist, title] : rows) {
        const QString name = projectFolderName(artist, title, id);
        SCOPED_TRACE(name.toStdString());
        const QByteArray bytes = name.toUtf8();
        EXPECT_LE(bytes.size(), fileNameByteLimit);
        EXPECT_GT(bytes.size(), fileNameByteLimit - 18) << "the room is used";
        EXPECT_EQ(QString::fromUtf8(bytes), name) << "no half character";
        ASSERT_TRUE(name.endsWith(" - 0A1B2C3D.brcapture"));
        const QStringList parts = name.chopped(21).split(" - ");
        ASSERT_EQ(parts.size(), 2);
        EXPECT_TRUE(safeFileNameComponent(artist).startsWith(parts[0]));
        EXPECT_TRUE(safeFileNameComponent(title).startsWith(parts[1]));
        EXPECT_FALSE(parts[0].isEmpty() || parts[1].isEmpty());
        if (artist.size() < 10) {
            EXPECT_EQ(parts[0], artist) << "a short component stays whole";
        }
        if (title == family) {
            EXPECT_EQ(graphemeCount(parts[1]) * 18, parts[1].toUtf8().size());
        }
    }
    const QString master = masterFileName(1, emoji, id);
    EXPECT_LE(master.toUtf8().size(), fileNameByteLimit);
    EXPECT_TRUE(master.startsWith("Record 1 - Side 🎸") && master.endsWith(" - 0A1B2C3D.caf"));
}

TEST(SafeFileNameTest, BuildsProjectFolderAndMasterNames)
{
    const QUuid id = QUuid::fromString(QStringLiteral("0a1b2c3d-4e5f-4a6b-8c7d-9e0f1a2b3c4d"));
    EXPECT_EQ(projectFolderName(QStringLiteral("AC/DC"), QStringLiteral("Live: 1979"), id),
              QStringLiteral("AC-DC - Live- 1979 - 0A1B2C3D.brcapture"));
    EXPECT_EQ(projectFolderName(QStringLiteral("x"), QStringLiteral(".."), id),
              QStringLiteral("x - Untitled - 0A1B2C3D.brcapture"));
    EXPECT_EQ(masterFileName(2, QStringLiteral("C/D"), id),
              QStringLiteral("Record 2 - Side C-D - 0A1B2C3D.caf"));
}

} // namespace
} // namespace brevalo
