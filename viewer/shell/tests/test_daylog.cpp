#include "viewer/shell/daylog.h"

#include "shelltesting.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <atomic>
#include <thread>

#include <gtest/gtest.h>

namespace {
QByteArray ReadAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
} // namespace

TEST(DayLog, NothingIsWrittenWhileTheSwitchIsMissingThenStartsAtOnce)
{
    ShellFixture fixture;
    TTemplateDM &dm = fixture.Create();
    dm.WriteLog("TTEMPLATEDM.REGISTEROCX Begin of loading library");
    EXPECT_FALSE(QDir(fixture.services.LogFolder).exists()) << "no file, not even a folder, while off";

    fixture.SetMachine("Debug", 1);
    dm.WriteLog(QStringLiteral("TCHARGEMENT.EXECUTE Level 1 (3 items) é"));
    const QString file = dm.Log().FileName(QDateTime::currentDateTime());
    EXPECT_EQ(QFileInfo(file).fileName(),
              "KorvaneCD" + QDate::currentDate().toString("yyyyMMdd") + ".log");
    const QByteArray content = ReadAll(file);
    EXPECT_TRUE(QRegularExpression(QString::fromLatin1("^\\d\\d:\\d\\d:\\d\\d: TCHARGEMENT\\.EXECUTE Level 1 \\(3 items\\) \xE9\r\n$"))
                    .match(QString::fromLatin1(content))
                    .hasMatch())
        << content.toStdString();

    fixture.SetMachine("Debug", 0);
    dm.WriteLog("after");
    EXPECT_EQ(ReadAll(file), content);
}

TEST(DayLog, ARunAcrossMidnightGoesOnInTheNextDaysFile)
{
    QTemporaryDir dir;
    QDateTime now(QDate(2026, 3, 15), QTime(23, 59, 59));
    TDayLog log(dir.path(), [] { return true; }, [&now] { return now; });
    log.Write("before");
    now = QDateTime(QDate(2026, 3, 16), QTime(0, 0, 1));
    log.Write("after");
    EXPECT_EQ(ReadAll(dir.filePath("KorvaneCD20260315.log")), "23:59:59: before\r\n");
    EXPECT_EQ(ReadAll(dir.filePath("KorvaneCD20260316.log")), "00:00:01: after\r\n");
    log.Write("again");
    EXPECT_EQ(ReadAll(dir.filePath("KorvaneCD20260316.log")), "00:00:01: after\r\n00:00:01: again\r\n");
}

TEST(DayLog, AnUnwritableFolderGivesNoLogAndNoFault)
{
    QTemporaryDir dir;
    QFile blocker(dir.filePath("blocker"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    TDayLog log(dir.filePath("blocker/state"), [] { return true; });
    log.Write("lost");
    EXPECT_EQ(QFileInfo(dir.filePath("blocker")).size(), 0);
}

TEST(DayLog, LinesFromTwoThreadsStayWholeAndApart)
{
    QTemporaryDir dir;
    const QDateTime fixed(QDate(2026, 3, 15), QTime(10, 0, 0));
    TDayLog log(dir.path(), [] { return true; }, [fixed] { return fixed; });
    const int perThread = 400;
    auto writer = [&log](char tag) {
        for (int i = 0; i < perThread; ++i)
            log.Write(QStringLiteral("TCHARGEMENT.EXECUTE %1 %2 %3").arg(QChar(tag)).arg(i).arg(QString(200, QChar(tag))));
    };
    std::thread loader(writer, 'L');
    writer('M');
    loader.join();
    const QList<QByteArray> lines = ReadAll(dir.filePath("KorvaneCD20260315.log")).split('\n');
    ASSERT_EQ(lines.size(), 2 * perThread + 1);
    EXPECT_TRUE(lines.last().isEmpty());
    const QRegularExpression whole("^10:00:00: TCHARGEMENT\\.EXECUTE ([LM]) \\d+ \\1{200}\r$");
    for (int i = 0; i < 2 * perThread; ++i)
        ASSERT_TRUE(whole.match(QString::fromLatin1(lines[i])).hasMatch()) << lines[i].toStdString();
}
