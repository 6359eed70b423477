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
inline constexpr QLatin1StringView FBAccessToken{"FBAStoreccessToken"};
inline constexpr QLatin1StringView FBTokenExpiry{"FBStoreTokenExpiry"};
inline constexpr QLatin1StringView FBAccessPermissions{"FBStoreAccessPermissions"};
} // namespace PreferenceKeys
