#pragma once

#include <QTest>

// Handles events until the condition holds or `ms` have passed, then checks it with GoogleTest.
// QtTest's QTRY_ macros report to QtTest, which a GoogleTest run never hears from: a QTRY_ that
// times out only ends the test early, and the test passes.
#define UFD_WAIT_TRUE(cond, ms)                                                                    \
    ASSERT_TRUE(QTest::qWaitFor([&] { return static_cast<bool>(cond); }, ms)) << #cond

#define UFD_WAIT_EQ(actual, expected, ms)                                                          \
    do {                                                                                           \
        [[maybe_unused]] const bool settled =                                                      \
            QTest::qWaitFor([&] { return (actual) == (expected); }, ms);                           \
        ASSERT_EQ(actual, expected);                                                               \
    } while (0)
