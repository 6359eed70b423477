#include "TransferLimits.h"

#include "settings/Logging.h"
#include "settings/NSDefaultsUtility.h"
#include "settings/PreferenceKeys.h"

#include <algorithm>
#include <atomic>

namespace {

int clamped(int kiBps) {
    return std::clamp(kiBps, 0, TransferLimits::MaximumKiBps);
}

// Read on every chunk of every transfer: two plain atomics, first filled
// from what is saved.
struct InForce {
    std::atomic<int> upload;
    std::atomic<int> download;
    InForce() {
        const TransferLimits limits = TransferLimits::saved();
        upload = limits.uploadKiBps;
        download = limits.downloadKiBps;
    }
};

InForce &inForceValues() {
    static InForce values;
    return values;
}

// A saved limit that is not one counts as not saved.
std::optional<int> savedLimit(QLatin1StringView key) {
    const std::optional<QString> value = NSDefaultsUtility::standard().text(key);
    return value ? DeploymentConfig::parseTransferLimit(*value) : std::nullopt;
}

} // namespace

TransferLimits TransferLimits::inForce() {
    return {uploadInForce(), downloadInForce()};
}

int TransferLimits::uploadInForce() {
    return inForceValues().upload.load(std::memory_order_relaxed);
}

int TransferLimits::downloadInForce() {
    return inForceValues().download.load(std::memory_order_relaxed);
}

void TransferLimits::set(const TransferLimits &limits) {
    InForce &values = inForceValues();
    const int upload = clamped(limits.uploadKiBps);
    const int download = clamped(limits.downloadKiBps);
    const bool uploadChanged = values.upload.exchange(upload) != upload;
    const bool downloadChanged = values.download.exchange(download) != download;
    if (uploadChanged || downloadChanged)
        qCInfo(lcSync).noquote() << QStringLiteral("Transfer limits: upload %1 KiB/s, download "
                                                   "%2 KiB/s (0: no limit)")
                                        .arg(upload)
                                        .arg(download);
}

TransferLimits TransferLimits::saved() {
    const DeploymentConfig &config = DeploymentConfig::current();
    return {
        savedLimit(PreferenceKeys::UploadLimitKiBps).value_or(config.uploadLimitKiBps.value_or(0)),
        savedLimit(PreferenceKeys::DownloadLimitKiBps)
            .value_or(config.downloadLimitKiBps.value_or(0))};
}

void TransferLimits::save(const TransferLimits &limits) {
    NSDefaultsUtility::standard().setText(PreferenceKeys::UploadLimitKiBps,
                                          QString::number(clamped(limits.uploadKiBps)));
    NSDefaultsUtility::standard().setText(PreferenceKeys::DownloadLimitKiBps,
                                          QString::number(clamped(limits.downloadKiBps)));
    NSDefaultsUtility::standard().synchronize();
    set(limits);
}

std::optional<int> TransferLimits::parse(const QString &text, QString *error) {
    const std::optional<int> value = DeploymentConfig::parseTransferLimit(text);
    if (!value)
        *error = QStringLiteral("give a whole number of KiB/s from 0 (no limit) to %1, not '%2'")
                     .arg(MaximumKiBps)
                     .arg(text);
    return value;
}
