#include "viewer/shell/commandline.h"

#include <gtest/gtest.h>

TEST(CommandLine, WholeOptionsIgnoreCaseAndSurroundingBlanks)
{
    for (const QString &typed : {QStringLiteral("/nologo"), QStringLiteral("/NOLOGO"), QStringLiteral("  /NoLogo "),
                                 QStringLiteral("\t/nologo")}) {
        const TCommandLine line({QStringLiteral("x.dcm"), typed});
        EXPECT_TRUE(line.HasOption("/nologo")) << typed.toStdString();
    }
    const TCommandLine other({"/nologos", "nologo", "/no logo"});
    EXPECT_FALSE(other.HasOption("/nologo"));
    EXPECT_TRUE(TCommandLine({"directdraw"}).HasOption("DirectDraw"));
    EXPECT_FALSE(TCommandLine({"directdraw"}).HasOption("/DirectDraw"));
}

TEST(CommandLine, PrefixValueKeepsItsCaseAndTheLastOneWins)
{
    const TCommandLine line({" /uid=1.2.840.10008.Ab ", "/nologo"});
    EXPECT_TRUE(line.HasOptionPrefix("/UID="));
    EXPECT_EQ(line.OptionValue("/UID="), "1.2.840.10008.Ab");

    const TCommandLine two({"/UID=1.2.3", "/Uid=4.5.6a"});
    EXPECT_EQ(two.OptionValue("/UID="), "4.5.6a");

    const TCommandLine none({"UID=1.2.3", "/UI=1"});
    EXPECT_FALSE(none.HasOptionPrefix("/UID="));
    EXPECT_EQ(none.OptionValue("/UID="), "");

    // A screenshot path keeps its case and inner blanks.
    const TCommandLine shot({"/screenshot=/Tmp/My Shot.png"});
    EXPECT_EQ(shot.OptionValue("/SCREENSHOT="), "/Tmp/My Shot.png");
}
