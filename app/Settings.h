// Names of the program's registry settings, under HKCU\Software\<vendor>\<title>\Settings.
#pragma once

constexpr char kVendorName[] = "Tapwright";
constexpr char kSettingsSection[] = "Settings";
// Non-zero once the first-run notice has been shown.
constexpr char kMessageDisplayedEntry[] = "MessageDisplayed";
// Full path of the latest capture file.
constexpr char kScreenShotFilePathEntry[] = "ScreenShotFilePath";
