#include "LoadFigures.h"

#include <gtest/gtest.h>

namespace {

using bench::Answer;
using bench::Arrival;

TEST(Spread, RanksTheSortedValuesWhateverTheirOrder) {
    const std::vector<double> ms = {7, 3, 10, 1, 9, 2, 8, 5, 4, 6};
    const auto s = bench::spreadOf(ms);
    EXPECT_EQ(s.count, 10u);
    EXPECT_EQ(s.median, 6);
    EXPECT_EQ(s.p90, 10);
    EXPECT_EQ(s.p99, 10);
    EXPECT_EQ(s.worst, 10);

    // A hundred values: the 99th percentile is not the worst.
    std::vector<double> hundred;
    for (int i = 100; i >= 1; --i)
        hundred.push_back(i);
    hundred.push_back(5000);
    const auto h = bench::spreadOf(hundred);
    EXPECT_EQ(h.median, 51);
    EXPECT_EQ(h.p90, 91);
    EXPECT_EQ(h.p99, 100);
    EXPECT_EQ(h.worst, 5000);
    EXPECT_EQ(bench::percentile(hundred, 100), 5000);
}

TEST(Spread, NoValuesGiveZeros) {
    const auto s = bench::spreadOf({});
    EXPECT_EQ(s.count, 0u);
    EXPECT_EQ(s.median, 0);
    EXPECT_EQ(s.worst, 0);
    EXPECT_EQ(bench::median({}), 0);
    EXPECT_EQ(bench::median({4.5}), 4.5);
}

TEST(ProcFiles, PeakResidentIsTheHighWaterMarkLine) {
    const std::string status = "Name:\tsonarbox-cloud\n"
                               "State:\tS (sleeping)\n"
                               "VmPeak:\t  912340 kB\n"
                               "VmSize:\t  845112 kB\n"
                               "VmLck:\t       0 kB\n"
                               "VmHWM:\t  154320 kB\n"
                               "VmRSS:\t   98004 kB\n"
                               "Threads:\t7\n";
    EXPECT_EQ(bench::peakResidentKiB(status), 154320);
    EXPECT_EQ(bench::peakResidentKiB("Name:\tx\nVmRSS:\t 1000 kB\n"), -1);
    EXPECT_EQ(bench::peakResidentKiB(""), -1);
}

TEST(ProcFiles, ProcessorTicksAddUserAndSystemTimeAfterTheName) {
    // utime (field 14) 250 and stime (15) 50; cutime and cstime (16, 17)
    // are the children's and must not count. The name holds a space and ")".
    const std::string stat = "4242 (sonar box) x) S 1 4242 4242 0 -1 4194560 1200 0 3 0 "
                             "250 50 777 888 20 0 7 0 123456 845112320 24501";
    EXPECT_EQ(bench::processorTicks(stat), 300);
    EXPECT_EQ(bench::processorTicks("4242 (cut short) S 1 4242"), -1);
    EXPECT_EQ(bench::processorTicks("no name at all"), -1);
}

TEST(Answers, TellStreamsCoversAndRefusalsApart) {
    EXPECT_EQ(bench::classify(200, "audio/mpeg", ""), Answer::Audio);
    EXPECT_EQ(bench::classify(200, "audio/ogg", ""), Answer::Audio);
    EXPECT_EQ(bench::classify(200, "image/jpeg", ""), Answer::Image);
    EXPECT_EQ(bench::classify(206, "image/png", ""), Answer::Failed);
    EXPECT_EQ(bench::classify(500, "audio/mpeg", ""), Answer::Failed);
    EXPECT_EQ(bench::classify(0, "", ""), Answer::Failed);

    const auto failed = [](const std::string &message) {
        return R"({"subsonic-response":{"status":"failed","version":"1.16.1","type":"sonarbox",)"
               R"("error":{"code":0,"message":")" +
               message + R"("}}})";
    };
    EXPECT_EQ(bench::classify(200, "application/json", failed("too many streams")),
              Answer::TooManyStreams);
    EXPECT_EQ(
        bench::classify(200, "application/json", failed("the server is busy: try again shortly")),
        Answer::Busy);
    EXPECT_EQ(bench::classify(200, "application/json", failed("cover art not found")),
              Answer::Failed);
    // The words in an answer that is no error (a song's title, say) are not a refusal.
    EXPECT_EQ(bench::classify(200, "application/json",
                              R"({"subsonic-response":{"status":"ok","song":)"
                              R"({"title":"too many streams"}}})"),
              Answer::Failed);
}

// A paced stream of 64 kbit/s (8,000 bytes a second of audio): the lead in
// the first 40 ms, then a piece of 64,000 bytes (8 s of audio) every `gapMs`,
// each arriving as four reads 0.1 ms apart.
std::vector<Arrival> pacedStream(double gapMs, int pieces) {
    std::vector<Arrival> a;
    std::uint64_t total = 0;
    for (int i = 0; i < 16; ++i) {
        total += 16000;
        a.push_back({10.0 + 2 * i, total});
    }
    for (int k = 1; k <= pieces; ++k) {
        for (int part = 0; part < 4; ++part) {
            total += 16000;
            a.push_back({500 + gapMs * k + 0.1 * part, total});
        }
    }
    return a;
}

TEST(Pace, FourTimesRealTimeWhereverTheWindowCutsThePauses) {
    const auto stream = pacedStream(2000, 8);
    for (const double from : {3000.0, 3600.0, 4400.0}) {
        const auto pace = bench::paceWithin(stream, from, from + 8000, 64);
        ASSERT_TRUE(pace) << from;
        EXPECT_NEAR(*pace, 4.0, 0.01) << from;
    }
    const auto twice = bench::paceWithin(pacedStream(4000, 8), 3000, 20000, 64);
    ASSERT_TRUE(twice);
    EXPECT_NEAR(*twice, 2.0, 0.01);
    // The same bytes read as 128 kbit/s carry half the audio.
    EXPECT_NEAR(*bench::paceWithin(stream, 3000, 11000, 128), 2.0, 0.01);
}

TEST(Pace, NeedsTwoBurstsInTheWindow) {
    const auto stream = pacedStream(2000, 8);
    EXPECT_FALSE(bench::paceWithin(stream, 2400, 4400, 64)); // the piece at 2,500 ms alone
    EXPECT_FALSE(bench::paceWithin(stream, 100, 400, 64));   // nothing
    EXPECT_FALSE(bench::paceWithin({}, 0, 10000, 64));
}

TEST(Pace, TimeToReachABytesCount) {
    const auto stream = pacedStream(2000, 8);
    EXPECT_EQ(bench::msToReach(stream, 1), 10.0);
    EXPECT_EQ(bench::msToReach(stream, 16000), 10.0);
    EXPECT_EQ(bench::msToReach(stream, 16001), 12.0);
    // 30 s of audio at 64 kbit/s: 240,000 bytes, all in the lead.
    EXPECT_EQ(bench::msToReach(stream, std::uint64_t(30 * bench::bytesPerAudioSecond(64))), 38.0);
    EXPECT_FALSE(bench::msToReach(stream, 256000 + 8 * 64000 + 1));
    EXPECT_EQ(bench::bytesPerAudioSecond(96), 12000);
}

TEST(Options, CountsAreAListOfPositiveNumbers) {
    EXPECT_EQ(bench::parseCounts("32,128"), (std::vector<int>{32, 128}));
    EXPECT_EQ(bench::parseCounts("8"), (std::vector<int>{8}));
    EXPECT_TRUE(bench::parseCounts("").empty());
    EXPECT_TRUE(bench::parseCounts("32,,128").empty());
    EXPECT_TRUE(bench::parseCounts("32,x").empty());
    EXPECT_TRUE(bench::parseCounts("0,4").empty());
    EXPECT_TRUE(bench::parseCounts("-4").empty());
    // Where none is a choice of its own (no balancer at all).
    EXPECT_EQ(bench::parseCounts("0,1,2", 0), (std::vector<int>{0, 1, 2}));
    EXPECT_TRUE(bench::parseCounts("0,-1", 0).empty());
}

} // namespace

namespace {

TEST(InShare, ExactlyThePercentOfEveryHundredSpreadEvenly) {
    for (const int percent : {0, 1, 30, 50, 99, 100}) {
        int picked = 0;
        for (std::size_t i = 0; i < 1000; ++i)
            picked += bench::inShare(i, percent) ? 1 : 0;
        EXPECT_EQ(picked, 10 * percent) << percent;
    }
    // Half: every other one, never two in a row.
    for (std::size_t i = 0; i < 20; ++i)
        EXPECT_NE(bench::inShare(i, 50), bench::inShare(i + 1, 50)) << i;
    // Out of range counts as the nearest end.
    EXPECT_FALSE(bench::inShare(7, -5));
    EXPECT_TRUE(bench::inShare(7, 150));
}

TEST(GcReport, TheCountsOfItsLine) {
    const auto c = bench::parseGcReport(
        "removed 3 retired items and 2 of their files, 49998 unrecorded files and 1 unfinished "
        "uploads; kept 7 younger than 0 minutes\n");
    ASSERT_TRUE(c);
    EXPECT_EQ(c->retiredItems, 3);
    EXPECT_EQ(c->retiredFiles, 2);
    EXPECT_EQ(c->removed, 49998);
    EXPECT_EQ(c->abandoned, 1);
    EXPECT_EQ(c->young, 7);
    // An error instead of the report.
    EXPECT_FALSE(bench::parseGcReport("sonarbox-cloud: cannot connect to the database\n"));
}

} // namespace
