#include "capture/safe_file_name.h"

#include "capture/qt_printers.h"

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
