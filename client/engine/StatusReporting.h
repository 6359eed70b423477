#pragma once

// Connects the coordinator's device status reports to the service: each
// report becomes a "sendStatusProcess" exchange for the account of the run
// (or of the sign-in) that made it. Call once at start-up.
void installServiceReporting();
