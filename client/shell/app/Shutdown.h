#pragma once

#include <chrono>

// The end of the desktop program, once its event loop has returned.
namespace Shutdown {

// Stops the sync and lets what runs in the background (a sign-in, a stage)
// end, for at most `grace`. The main thread keeps answering the calls those
// threads queue for it meanwhile: a stage or a sign-in waiting for the main
// thread would otherwise never end, and the program with it. True when
// everything ended in time.
bool finishBackgroundWork(std::chrono::milliseconds grace);

} // namespace Shutdown
