#pragma once

#include "settings/DeploymentConfig.h"

#include <optional>

class GenericDAO;
class NSDefaultsUtility;
class NotificationCenter;

// What a sync engine works with besides its session: its preferences, its
// deployment configuration, its notification centre and its store. Each engine of a
// process may have its own; what is left out is the program's (the
// preferences in the program's file, the configuration the program loaded,
// the default centre, the default store), which is what the programs' one
// engine uses. The
// objects pointed to must outlive the engine.
struct EngineParts {
    NSDefaultsUtility *preferences = nullptr;
    std::optional<DeploymentConfig> deployment;
    NotificationCenter *notifications = nullptr;
    GenericDAO *store = nullptr;
};
