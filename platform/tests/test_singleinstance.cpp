#include "platform/singleinstance.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include "testsupport/qtestgtest.h"

#include <future>

#include <gtest/gtest.h>

using platform::SingleInstance;

TEST(SingleInstance, ASecondHolderIsRefusedAndCanCallTheFirstForward)
{
    QTemporaryDir dir;
    SingleInstance first("KorvaneTest", dir.path());
    ASSERT_TRUE(first.TryBecomeFirst());
    QSignalSpy forward(&first, &SingleInstance::comeForwardRequested);

    SingleInstance second("KorvaneTest", dir.path());
    EXPECT_FALSE(second.TryBecomeFirst());

    // The request blocks its caller; the first answers from this event loop.
    auto answered = std::async(std::launch::async, [&dir]() {
        SingleInstance later("KorvaneTest", dir.path());
        return later.AskFirstToComeForward(5000);
    });
    QTRY_COMPARE_WITH_TIMEOUT(forward.count(), 1, 5000);
    while (answered.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready)
        QTest::qWait(10);
    EXPECT_TRUE(answered.get());
}

TEST(SingleInstance, NobodyToCallGivesUpAfterTheTimeout)
{
    QTemporaryDir dir;
    SingleInstance alone("KorvaneTest", dir.path());
    EXPECT_FALSE(alone.AskFirstToComeForward(200));
}

TEST(SingleInstance, TheLockIsFreeAgainOnceTheHolderIsGone)
{
    QTemporaryDir dir;
    {
        SingleInstance first("KorvaneTest", dir.path());
        ASSERT_TRUE(first.TryBecomeFirst());
    }
    SingleInstance next("KorvaneTest", dir.path());
    EXPECT_TRUE(next.TryBecomeFirst());
}
