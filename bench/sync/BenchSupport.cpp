#include "BenchSupport.h"

#include "store/TrackFiles.h"

#include <sys/stat.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLoggingCategory>
#include <QProcess>

#include <algorithm>

namespace bench {

void quietClient() {
    QCoreApplication::setOrganizationName(QStringLiteral("Sonarbox"));
    QCoreApplication::setApplicationName(QStringLiteral("Sonarbox"));
    QLoggingCategory::setFilterRules(QStringLiteral("sonarbox.*.info=false"));
}

double timeMs(const std::function<void()> &work) {
    QElapsedTimer timer;
    timer.start();
    work();
    return double(timer.nsecsElapsed()) / 1e6;
}

double timeProgramMs(const QString &program, const QStringList &args) {
    QProcess p;
    p.setStandardOutputFile(QProcess::nullDevice());
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QElapsedTimer timer;
    timer.start();
    p.start(program, args);
    if (!p.waitForFinished(-1) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return -1;
    return double(timer.nsecsElapsed()) / 1e6;
}

double median(std::vector<double> values) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

double peakResidentMiB() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    }
    return 0;
}

double residentMiB() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    }
    return 0;
}

void resetPeak() {
    QFile refs(QStringLiteral("/proc/self/clear_refs"));
    if (refs.open(QIODevice::WriteOnly))
        refs.write("5");
}

const char *StageTimes::name(Stage stage) {
    switch (stage) {
    case Scan:
        return "scan";
    case Fingerprint:
        return "fingerprint and match";
    case Download:
        return "listing and download";
    case Upload:
        return "upload";
    case StageCount:
        break;
    }
    return "";
}

StageTimes::StageTimes(bool stagePeaks)
    : m_stagePeaks(stagePeaks) {
    m_clock.start();
}

StageTimes::PerStage StageTimes::last() const {
    const std::lock_guard lock(m_mutex);
    return m_last;
}

StageTimes::PerStage StageTimes::lastPeaks() const {
    const std::lock_guard lock(m_mutex);
    return m_lastPeaks;
}

void StageTimes::mark(int boundary) {
    const std::lock_guard lock(m_mutex);
    m_marks[size_t(boundary)] = double(m_clock.nsecsElapsed()) / 1e6;
    if (!m_stagePeaks)
        return;
    // The peak of the stage that ends here; the next one starts from now.
    m_peaks[size_t(boundary)] = peakResidentMiB();
    resetPeak();
}

void StageTimes::statusMenuSyncFinished() {
    mark(StageCount);
    const std::lock_guard lock(m_mutex);
    for (size_t i = 0; i < StageCount; ++i) {
        m_last[i] = m_marks[i + 1] - m_marks[i];
        m_lastPeaks[i] = m_peaks[i + 1];
    }
}

void stampFromDisk(Audio &track) {
    struct stat a {};
    if (::stat(QFile::encodeName(track.fileURL.value_or(QString())).constData(), &a) != 0)
        return;
    setStamp(track, {qint64(a.st_size), qint64(a.st_mtim.tv_sec) * 1000000000 + a.st_mtim.tv_nsec,
                     qint64(a.st_dev), qint64(a.st_ino)});
}

} // namespace bench
