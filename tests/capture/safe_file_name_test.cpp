#include "capture/safe_file_name.h"

#include "capture/qt_printers.h"

#include <QStringList>

#include <gtest/gtest.h>

namespace brevalo {
namespace {

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
    const QString acute = QStringLiteral("e\u0301");             // two code points, one character
    const QString family = QStringLiteral("👨‍👩‍👧"); // five code points joined
    const QString flag = QStringLiteral("🇫🇷");
    const std::pair<QString, QString> rows[] = {
        {QString(300, QLatin1Char('x')), QString(120, QLatin1Char('x'))},
        {acute.repeated(130), acute.repeated(120)},
        {"x" + family.repeated(125), "x" + family.repeated(119)},
        {flag.repeated(120), flag.repeated(120)}, // exactly 120 stay whole
    };
    for (const auto& [text, expected] : rows) {
        EXPECT_EQ(safeFileNameComponent(text), expected);
    }
}

TEST(SafeFileNameTest, FolderAndMasterNamesFitTheByteLimitOnCharacterBoundaries)
{
    const QUuid id = QUuid::fromString(QStringLiteral("0a1b2c3d-4e5f-4a6b-8c7d-9e0f1a2b3c4d"));
    const QString kana(120, QChar(0x3042));           // 3 bytes each in UTF-8
    const QString emoji = QString("🎸").repeated(120); // 4 bytes each, two UTF-16 units
    const QString family =
        QStringLiteral("👨‍👩‍👧").repeated(40);   // 18 bytes per character
    const QString marks = "a" + QString(200, QChar(0x0301)); // one character of 401 bytes
    const std::pair<QString, QString> rows[] = {
        {kana, kana}, {"AC/DC", emoji}, {emoji, family}, {family, "Live: 1979"}, {marks, kana}};
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
        EXPECT_TRUE(!parts[0].isEmpty() && safeFileNameComponent(artist).startsWith(parts[0]));
        EXPECT_TRUE(!parts[1].isEmpty() && safeFileNameComponent(title).startsWith(parts[1]));
        if (artist.size() < 10) {
            EXPECT_EQ(parts[0], safeFileNameComponent(artist)) << "a short one stays whole";
        }
        if (title == family) {
            EXPECT_EQ(parts[1].toUtf8().size() % 18, 0) << "cut between whole families";
        }
    }
    const QString master = masterFileName(2, "C/" + emoji, id);
    EXPECT_LE(master.toUtf8().size(), fileNameByteLimit);
    EXPECT_TRUE(master.startsWith("Record 2 - Side C-🎸") && master.endsWith(" - 0A1B2C3D.caf"));
}

} // namespace
} // namespace brevalo
