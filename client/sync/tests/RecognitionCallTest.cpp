// The recognition call as every stage queue of the process makes it.
#include "sync/RecognitionCall.h"

#include <QtConcurrent/QtConcurrentRun>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

namespace {

std::atomic<int> g_inside{0};
std::atomic<int> g_mostInside{0};

// A recognition engine that answers its first argument back, slowly, and
// counts how many calls are inside it at once.
int slowEcho(int argc, char *argv[], char *response, int size, char *, int) {
    const int now = ++g_inside;
    g_mostInside = std::max(g_mostInside.load(), now);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (argc > 0 && int(std::strlen(argv[0])) < size)
        std::strcpy(response, argv[0]);
    --g_inside;
    return 1;
}

// The engine keeps one manager and libtonemill one log callback and one
// collection for the process: calls from two engines' stage queues never
// overlap, and each gets its own answer.
TEST(RecognitionCall, CallsFromSeveralThreadsNeverOverlapAndEachGetsItsAnswer) {
    QList<QFuture<QByteArray>> calls;
    for (int i = 0; i < 6; ++i)
        calls << QtConcurrent::run([i] {
            return RecognitionCall::call(&slowEcho, {QStringLiteral("call-%1").arg(i)}, 64, 16)
                .response;
        });
    for (int i = 0; i < calls.size(); ++i)
        EXPECT_EQ(calls[i].result(), QByteArray("call-") + QByteArray::number(i));
    EXPECT_EQ(g_mostInside.load(), 1);
}

} // namespace
