#pragma once
// Shared pieces of the libtonemill tests: a fixture that resets the engine
// stand-in and captures what the library prints, and a session helper.

#include "FakeSdk.h"
#include "Gnhandler.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

class FakeSdkTest : public ::testing::Test {
protected:
    void SetUp() override {
        fakesdk::reset();
        ::testing::internal::CaptureStdout();
        ::testing::internal::CaptureStderr();
        capturing = true;
    }
    void TearDown() override {
        finishCapture();
        if (HasFailure()) {
            // Failure details went to the captured output as well.
            std::fprintf(stderr, "--- captured stdout ---\n%s\n--- captured stderr ---\n%s\n",
                         out.c_str(), err.c_str());
        }
        const fakesdk::State &s = fakesdk::state();
        EXPECT_EQ(0, s.liveGdos) << "data objects not released";
        EXPECT_EQ(0, s.liveStrings) << "engine texts not freed";
        EXPECT_EQ(0, s.liveLocales) << "locales not released";
    }
    // Stops capturing; later calls return the same texts.
    void finishCapture() {
        if (capturing) {
            std::fflush(stdout);
            std::fflush(stderr);
            out = ::testing::internal::GetCapturedStdout();
            err = ::testing::internal::GetCapturedStderr();
            capturing = false;
        }
    }
    const std::string &stdoutText() {
        finishCapture();
        return out;
    }
    const std::string &stderrText() {
        finishCapture();
        return err;
    }
    // Init plus a loaded user, ready for a query.
    void startSession(Gnhandler &handler) {
        ASSERT_EQ(0, handler.Init("1234567", "ABCDEF", "init-data"));
        ASSERT_EQ(0, handler.LoadUser("fakeuser:1234567:ABCDEF:0"));
    }

private:
    bool capturing = false;
    std::string out;
    std::string err;
};
