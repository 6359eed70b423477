#pragma once

#include <QLatin1StringView>

// Every per-user preference key in one place.
namespace PreferenceKeys {
inline constexpr QLatin1StringView UUID{"UUID"};
inline constexpr QLatin1StringView UserPickedMediaLibrary{"userPickedMediaLibrary"};
inline constexpr QLatin1StringView DidUserPickedMediaLibrary{"didUserPickedMediaLibrary"};
inline constexpr QLatin1StringView AmountOfSongsAppHasToProcess{"amountOfSongsAppHasToProcess"};
inline constexpr QLatin1StringView UserMediaFoldersToScan{"userMediaFoldersToScan"};
inline constexpr QLatin1StringView UserDownloadDirectory{"UserDownloadDirectory"};
inline constexpr QLatin1StringView LoadAppOnOSBoot{"loadAppOnOSBoot"};
inline constexpr QLatin1StringView FirstTimeAppRun{"firstTimeAppRun"};
inline constexpr QLatin1StringView SettingsNotifications{"settings_notifications"};
inline constexpr QLatin1StringView Version{"version"};
// When the last sync ended (ISO 8601, UTC) and how ("Sync Completed", "Sync stopped").
inline constexpr QLatin1StringView LastSyncTime{"lastSyncTime"};
inline constexpr QLatin1StringView LastSyncOutcome{"lastSyncOutcome"};
// "Share anonymous usage statistics" (boolean, default YES when absent). NO
// stops every usage event; YES sends them only where the deployment turns
// analytics on (TrackWithGoogleAnalytics).
inline constexpr QLatin1StringView ShareUsageStatistics{"shareUsageStatistics"};
// Syncing paused by the person (boolean): no transfer and no sync starts
// until it is resumed, also after a restart.
inline constexpr QLatin1StringView SyncPaused{"syncPaused"};
// Transfers may run on a metered connection (boolean; absent: the
// deployment's default).
inline constexpr QLatin1StringView SyncOnMeteredConnections{"syncOnMeteredConnections"};
// The sync's upload and download limits in KiB/s (0: no limit); absent: the
// deployment's default.
inline constexpr QLatin1StringView UploadLimitKiBps{"uploadLimitKiBps"};
inline constexpr QLatin1StringView DownloadLimitKiBps{"downloadLimitKiBps"};
// The rate of the last sync's uploads in bytes per second (a number; absent:
// none measured yet), from which a preview estimates the time of its uploads.
inline constexpr QLatin1StringView LastUploadBytesPerSecond{"lastUploadBytesPerSecond"};
inline constexpr QLatin1StringView FBAccessToken{"FBAStoreccessToken"};
inline constexpr QLatin1StringView FBTokenExpiry{"FBStoreTokenExpiry"};
inline constexpr QLatin1StringView FBAccessPermissions{"FBStoreAccessPermissions"};
} // namespace PreferenceKeys
