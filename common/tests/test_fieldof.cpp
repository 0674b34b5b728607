#include "common/fieldof.h"

#include <gtest/gtest.h>

namespace {

TEST(FieldOf, FieldsAroundSeparators)
{
    const QString text = QStringLiteral("a|bc||d");
    EXPECT_EQ(common::FieldOf(text, QLatin1Char('|'), 1), QStringLiteral("a"));
    EXPECT_EQ(common::FieldOf(text, QLatin1Char('|'), 2), QStringLiteral("bc"));
    EXPECT_EQ(common::FieldOf(text, QLatin1Char('|'), 3), QString()); // adjacent separators
    EXPECT_EQ(common::FieldOf(text, QLatin1Char('|'), 4), QStringLiteral("d"));
    EXPECT_EQ(common::FieldOf(text, QLatin1Char('|'), 5), QString()); // past the end
    EXPECT_EQ(common::FieldOf(text, QLatin1Char('|'), 0), QString());
    EXPECT_EQ(common::FieldOf(text, QLatin1Char('|'), -3), QString());
}

TEST(FieldOf, EdgesOfTheText)
{
    // A field after the last separator is empty, and so is one before a leading separator.
    EXPECT_EQ(common::FieldOf(QStringLiteral("x|"), QLatin1Char('|'), 2), QString());
    EXPECT_EQ(common::FieldOf(QStringLiteral("|y"), QLatin1Char('|'), 1), QString());
    EXPECT_EQ(common::FieldOf(QStringLiteral("|y"), QLatin1Char('|'), 2), QStringLiteral("y"));
    // Without a separator the whole text is field 1; line breaks belong to the field.
    EXPECT_EQ(common::FieldOf(QStringLiteral("ligne 1\r\nligne 2"), QLatin1Char('|'), 1),
              QStringLiteral("ligne 1\r\nligne 2"));
    EXPECT_EQ(common::FieldOf(QString(), QLatin1Char('|'), 1), QString());
}

TEST(FieldOf, FieldsAgreeWithFieldOf)
{
    const QString text = QStringLiteral("|é|OUI||fin|");
    const QStringList fields = common::Fields(text, QLatin1Char('|'));
    ASSERT_EQ(fields.size(), 6);
    for (int n = 1; n <= 8; ++n)
        EXPECT_EQ(common::FieldOf(text, QLatin1Char('|'), n), n <= fields.size() ? fields[n - 1] : QString())
            << n;
}

} // namespace
