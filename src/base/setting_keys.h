#pragma once
// Every key the programs keep in the defaults store, with the value a missing
// entry stands for. Stored files written by earlier versions rely on these
// spellings: never rename one.

#include <cstdint>
#include <string>

namespace lumora::keys {

// ---- Connection -------------------------------------------------------------
inline constexpr const char* bridgeIP = "bridgeIP";
inline constexpr const char* bridgeUser = "bridgeUser";
// The id of the bridge at bridgeIP: 16 hex digits in small letters.
inline constexpr const char* bridgeID = "bridgeID";
// Per bridge id: true once that bridge answered over verified HTTPS; from
// then on it is never talked to over plain HTTP.
inline constexpr const char* bridgeSecurePrefix = "bridgeAnsweredSecurely_";
inline std::string bridgeSecure(const std::string& bridgeId) {
    return bridgeSecurePrefix + bridgeId;
}
// Per bridge id: the SHA-256 fingerprint of the certificate the user chose to
// trust (a software bridge's own), "AB:CD:…".
inline constexpr const char* bridgePinPrefix = "bridgeCertificatePin_";
inline std::string bridgePin(const std::string& bridgeId) {
    return bridgePinPrefix + bridgeId;
}

// Follow the bridge's event stream where it has one; missing means on.
inline constexpr const char* liveUpdates = "liveUpdates";
inline constexpr bool defaultLiveUpdates = true;

// ---- Display switches ---------------------------------------------------------
inline constexpr const char* appIcon = "appIcon";
inline constexpr const char* defaultAppIcon = "Icon_Lamp0";
inline constexpr const char* showZones = "showZones";
inline constexpr const char* showScenes = "showScenes";
// Missing means shown: the start-up load writes `true` for a missing entry.
inline constexpr const char* showColorBarsForRooms = "showColorBarsForRooms";
inline constexpr const char* showColorBarsForLights = "showColorBarsForLights";
inline constexpr bool defaultShowColorBars = true;

// ---- Hotkeys ------------------------------------------------------------------
// A recorded combination lives under this prefix + the shortcut's name.
inline constexpr const char* shortcutPrefix = "KeyboardShortcuts_";
// What a custom-group slot (0 to 4) does lives under this prefix + the slot.
inline constexpr const char* groupActionPrefix = "hotkeyCustomGroupAction";
inline constexpr const char* noGroupAction = "no_action";
// The step of the brighter and darker hotkeys; 0 or missing means the default.
inline constexpr const char* keyIncrement = "keyIncrement";
inline constexpr std::int64_t defaultKeyIncrement = 50;

// ---- Order and visibility of lights ---------------------------------------------
// Comma-separated light ids.
inline constexpr const char* lightOrder = "lightOrder";
// Boolean per light, under this prefix + the light's unique id; missing means shown.
inline constexpr const char* hideLightPrefix = "hide_light_";
inline std::string hideLight(const std::string& uniqueId) {
    return hideLightPrefix + uniqueId;
}

// ---- Window frames and the panel -------------------------------------------------
inline constexpr const char* activePanel = "activePanel";
inline constexpr const char* heightLights = "preferredWindowHeightLights";
inline constexpr const char* heightRooms = "preferredWindowHeightRooms";
inline constexpr const char* heightScenes = "preferredWindowHeightScenes";
inline constexpr const char* settingsWindowFrame = "settingsWindowFrame";

// ---- Start-up and the review request ---------------------------------------------
inline constexpr const char* appInvocations = "appInvocations";
inline constexpr const char* noMoreReviewRequests = "noMoreReviewRequests";
inline constexpr const char* reviewedVersion = "reviewedVersion";
inline constexpr const char* hasSeenWelcomeScreen = "hasSeenWelcomeScreen";

}  // namespace lumora::keys
