#pragma once
// Qt Test's checks inside GoogleTest tests.
//
// QVERIFY, QCOMPARE, QFAIL and the QTRY_ waits built on them only return from the
// function when they fail: outside a Qt Test run nobody hears of it, and a wait that
// times out ends the test as passed. Included instead of <QTest>, this header makes
// each of them also record a GoogleTest failure at the line of the check. (The QTRY_
// macros pick up these definitions, since they expand QVERIFY and QCOMPARE where they
// are used.)

#include <QTest>

#include <gtest/gtest.h>

#undef QVERIFY
#define QVERIFY(statement)                                                                        \
    do {                                                                                          \
        if (!QTest::qVerify(static_cast<bool>(statement), #statement, "", __FILE__, __LINE__)) { \
            ADD_FAILURE_AT(__FILE__, __LINE__) << "QVERIFY(" #statement ") failed";              \
            return;                                                                               \
        }                                                                                         \
    } while (false)

#undef QVERIFY2
#define QVERIFY2(statement, description)                                                                   \
    do {                                                                                                   \
        if (!QTest::qVerify(static_cast<bool>(statement), #statement, (description), __FILE__, __LINE__)) { \
            ADD_FAILURE_AT(__FILE__, __LINE__) << "QVERIFY2(" #statement ") failed: " << (description);     \
            return;                                                                                        \
        }                                                                                                  \
    } while (false)

#undef QCOMPARE
#define QCOMPARE(actual, expected)                                                             \
    do {                                                                                       \
        if (!QTest::qCompare(actual, expected, #actual, #expected, __FILE__, __LINE__)) {      \
            ADD_FAILURE_AT(__FILE__, __LINE__) << "QCOMPARE(" #actual ", " #expected ") failed"; \
            return;                                                                            \
        }                                                                                      \
    } while (false)

#undef QFAIL
#define QFAIL(message)                                                              \
    do {                                                                            \
        QTest::qFail(static_cast<const char *>(message), __FILE__, __LINE__);       \
        ADD_FAILURE_AT(__FILE__, __LINE__) << static_cast<const char *>(message); \
        return;                                                                     \
    } while (false)
