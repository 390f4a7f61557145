// The property and update-info key names inside the library; the exported kAU… constants of
// CorvaneAutoUpdate.h point at these.
#pragma once

namespace AUKeys {
inline constexpr char ModuleName[] = "ModuleName";
inline constexpr char ModuleVersion[] = "ModuleVersion";
inline constexpr char ModuleXMLURL[] = "ModuleXMLURL";
inline constexpr char UpdateCheckInterval[] = "UpdateCheckInterval";
inline constexpr char LastCheckTimestamp[] = "LastCheckTimestamp";
inline constexpr char NextCheckTimestamp[] = "NextCheckTimestamp";
inline constexpr char LastErrorMessage[] = "LastErrorMessage";
inline constexpr char OldVersion[] = "old-Version";
inline constexpr char NewVersion[] = "new-Version";
inline constexpr char Product[] = "product";
inline constexpr char Platform[] = "OS";
inline constexpr char Date[] = "Date";
inline constexpr char DmgURL[] = "SWURL";
inline constexpr char UpdateType[] = "UpdateType";
inline constexpr char SHA256[] = "SHA256";
inline constexpr char TypeURL[] = "URL";
inline constexpr char TypeDownload[] = "Download";
} // namespace AUKeys
