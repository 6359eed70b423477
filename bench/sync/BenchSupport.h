#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

// Shared by the sync benchmarks.
namespace bench {

// The application names the client's settings use, and the client's
// per-event log lines off (they would be timed too).
void quietClient();

// Wall time of `work` in milliseconds.
double timeMs(const std::function<void()> &work);
// Wall time of a program run to its end with its output discarded; negative
// when it failed.
double timeProgramMs(const QString &program, const QStringList &args);
double median(std::vector<double> values);
// The process's peak resident memory since the start or the last
// resetPeak(), in MiB (VmHWM).
double peakResidentMiB();
void resetPeak();

} // namespace bench
