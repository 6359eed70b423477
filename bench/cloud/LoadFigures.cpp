#include "LoadFigures.h"

#include <algorithm>
#include <regex>
#include <sstream>

namespace bench {

double percentile(std::vector<double> values, double p) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const auto rank = static_cast<std::size_t>(p / 100.0 * static_cast<double>(values.size()));
    return values[std::min(values.size() - 1, rank)];
}

double median(std::vector<double> values) {
    return percentile(std::move(values), 50);
}

Spread spreadOf(const std::vector<double> &ms) {
    Spread s;
    s.count = ms.size();
    if (ms.empty())
        return s;
    s.median = percentile(ms, 50);
    s.p90 = percentile(ms, 90);
    s.p99 = percentile(ms, 99);
    s.worst = *std::max_element(ms.begin(), ms.end());
    return s;
}

long peakResidentKiB(const std::string &statusText) {
    std::istringstream in(statusText);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("VmHWM:", 0) != 0)
            continue;
        try {
            return std::stol(line.substr(6));
        } catch (...) {
            return -1;
        }
    }
    return -1;
}

long long processorTicks(const std::string &statText) {
    // After the name: state, then fields 4 to 13; utime and stime are 14 and 15.
    const auto close = statText.rfind(')');
    if (close == std::string::npos)
        return -1;
    std::istringstream in(statText.substr(close + 1));
    std::string field;
    long long utime = -1;
    long long stime = -1;
    for (int number = 3; in >> field; ++number) {
        try {
            if (number == 14)
                utime = std::stoll(field);
            else if (number == 15) {
                stime = std::stoll(field);
                break;
            }
        } catch (...) {
            return -1;
        }
    }
    return utime < 0 || stime < 0 ? -1 : utime + stime;
}

Answer classify(int status, const std::string &contentType, const std::string &body) {
    if (status == 200 && contentType.rfind("audio/", 0) == 0)
        return Answer::Audio;
    if (status == 200 && contentType.rfind("image/", 0) == 0)
        return Answer::Image;
    if (body.find("\"status\":\"failed\"") != std::string::npos) {
        if (body.find("too many streams") != std::string::npos)
            return Answer::TooManyStreams;
        if (body.find("the server is busy") != std::string::npos)
            return Answer::Busy;
    }
    return Answer::Failed;
}

std::optional<double> msToReach(const std::vector<Arrival> &arrivals, std::uint64_t bytes) {
    for (const auto &a : arrivals) {
        if (a.total >= bytes)
            return a.ms;
    }
    return std::nullopt;
}

std::optional<double> paceWithin(const std::vector<Arrival> &arrivals, double fromMs, double toMs,
                                 int kbps, double burstGapMs) {
    struct Burst {
        double startMs;
        std::uint64_t endTotal;
    };
    std::vector<Burst> bursts;
    double lastMs = 0;
    for (const auto &a : arrivals) {
        if (a.ms < fromMs || a.ms > toMs)
            continue;
        if (bursts.empty() || a.ms - lastMs >= burstGapMs)
            bursts.push_back({a.ms, a.total});
        bursts.back().endTotal = a.total;
        lastMs = a.ms;
    }
    if (bursts.size() < 2 || kbps <= 0)
        return std::nullopt;
    const double seconds = (bursts.back().startMs - bursts.front().startMs) / 1000.0;
    const double audio = static_cast<double>(bursts.back().endTotal - bursts.front().endTotal) /
                         bytesPerAudioSecond(kbps);
    return audio / seconds;
}

std::vector<int> parseCounts(const std::string &text, int least) {
    std::vector<int> counts;
    std::istringstream in(text);
    std::string part;
    while (std::getline(in, part, ',')) {
        if (part.find_first_not_of("0123456789") != std::string::npos)
            return {};
        try {
            const int n = std::stoi(part);
            if (n < least)
                return {};
            counts.push_back(n);
        } catch (...) {
            return {};
        }
    }
    return counts;
}

bool inShare(std::size_t index, int percent) {
    const auto p = static_cast<std::size_t>(std::clamp(percent, 0, 100));
    return (index + 1) * p / 100 > index * p / 100;
}

std::optional<GcCounts> parseGcReport(const std::string &output) {
    static const std::regex line("removed ([0-9]+) retired items and ([0-9]+) of their files, "
                                 "([0-9]+) unrecorded files and ([0-9]+) unfinished uploads; "
                                 "kept ([0-9]+) younger than");
    std::smatch m;
    if (!std::regex_search(output, m, line))
        return std::nullopt;
    GcCounts c;
    c.retiredItems = std::stol(m[1]);
    c.retiredFiles = std::stol(m[2]);
    c.removed = std::stol(m[3]);
    c.abandoned = std::stol(m[4]);
    c.young = std::stol(m[5]);
    return c;
}

} // namespace bench
