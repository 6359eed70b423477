#pragma once

#include "store/Audio.h"
#include "sync/StatusMenu.h"

#include <QElapsedTimer>
#include <QString>
#include <QStringList>

#include <array>
#include <functional>
#include <mutex>
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
// The process's resident memory now, in MiB (VmRSS).
double residentMiB();

// The wall time of each stage of the coordinator's last sync, from the status
// menu reports it makes as a sync and each of its stages begin, and with
// `stagePeaks` the peak resident memory of each stage (the process's peak is
// reset as each stage begins, so resetPeak() and peakResidentMiB() then
// describe the last stage only). The listing of the cloud library belongs to
// the download stage, which reports no progress stage of its own when it has
// nothing to download.
class StageTimes : public StatusMenu {
public:
    enum Stage { Scan, Fingerprint, Download, Upload, StageCount };
    static const char *name(Stage stage);
    using PerStage = std::array<double, StageCount>;

    explicit StageTimes(bool stagePeaks = false);
    // Of the last sync that finished: milliseconds, and peak MiB (VmHWM).
    PerStage last() const;
    PerStage lastPeaks() const;

    void statusMenuSyncStarted() override { mark(0); }
    void statusMenuFingerPrintStarted() override { mark(1); }
    void statusMenuDownloadStarted() override { mark(2); }
    void statusMenuUploadStarted() override { mark(3); }
    void statusMenuSyncFinished() override;

private:
    void mark(int boundary);

    const bool m_stagePeaks;
    // The stages report from the stage queue's thread.
    mutable std::mutex m_mutex;
    QElapsedTimer m_clock;
    std::array<double, StageCount + 1> m_marks{};
    std::array<double, StageCount + 1> m_peaks{};
    PerStage m_last{};
    PerStage m_lastPeaks{};
};

// Records the file's size, time, device and inode on the track, as a sync
// does when it reads the file.
void stampFromDisk(Audio &track);

} // namespace bench
