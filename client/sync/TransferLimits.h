#pragma once

#include "settings/DeploymentConfig.h"

#include <QString>

#include <optional>

// How fast the sync's uploads and downloads may go, in KiB/s; 0 is no limit.
// The person's choice is kept with the preferences; without one the
// deployment's default holds. The transfers read the limits in force as they
// run, so that a change reaches the upload or download in flight.
struct TransferLimits {
    static constexpr int MaximumKiBps = DeploymentConfig::MaximumTransferLimitKiBps;

    int uploadKiBps = 0;
    int downloadKiBps = 0;

    bool operator==(const TransferLimits &) const = default;

    // The limits in force: the saved ones (read at the first use) until set()
    // or save() changes them. Any thread.
    static TransferLimits inForce();
    static int uploadInForce();
    static int downloadInForce();
    // Puts limits in force without saving them: a command line's limits hold
    // for that run only. Values out of range are clamped.
    static void set(const TransferLimits &limits);

    // The person's choice, else the deployment's default.
    static TransferLimits saved();
    // Saves the person's choice and puts it in force.
    static void save(const TransferLimits &limits);

    // A limit as typed ("250"); nothing, with `error` set, unless it is a
    // whole number from 0 to MaximumKiBps.
    static std::optional<int> parse(const QString &text, QString *error);
};
