// Names of the registry settings, under HKCU\Software\<vendor>\<title>\Settings: the application writes
// them, the cover window reads the capture path back.
#pragma once

constexpr char kVendorName[] = "Tapwright";
constexpr char kSettingsSection[] = "Settings";
// Non-zero once the first-run notice has been shown.
constexpr char kMessageDisplayedEntry[] = "MessageDisplayed";
// Full path of the latest capture file.
constexpr char kScreenShotFilePathEntry[] = "ScreenShotFilePath";
