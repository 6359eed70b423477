#pragma once

// --dry-run: signs the stored account in again, works out what the next sync
// would do (nothing that changes the cloud library is sent, nothing stored
// or downloaded) and prints it. Answers the exit code: 0 when the preview ran
// to its end, 1 otherwise. Runs the application's event loop.
int dryRunCommand();
