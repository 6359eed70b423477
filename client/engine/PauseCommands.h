#pragma once

#include <QString>

#include <optional>

class EngineInstance;

// Pausing and resuming the running engine from outside, over its
// one-instance channel: `sonarbox-headless --pause` and `--resume` reach the
// desktop program or the headless engine, whichever holds the store.
namespace PauseCommands {

// Answers "pause" and "resume" with the engine's coordinator.
void install(EngineInstance &instance);

// Hands the command to the engine holding the store. Its reply ("ok …" with
// the text for a person), or nothing when no engine answered.
std::optional<QString> send(const QString &storeFolder, bool pause);

} // namespace PauseCommands
