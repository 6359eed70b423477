#pragma once

// Connects the coordinator's device status reports ("SCANNING", "MATCHING",
// "ACTIVE") to the service: each report becomes a "sendStatusProcess"
// exchange for the signed-in account. Call once at start-up.
void installServiceReporting();
