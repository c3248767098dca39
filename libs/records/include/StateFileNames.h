#pragma once

// Relative names of the inventory and the state files below the
// installation root.
inline constexpr char kInventoryFile[] = "conf/lm-inventory";
inline constexpr char kLastUpdateFile[] = "conf/lm-lastupdate";
inline constexpr char kPartialFilesFile[] = "conf/lm-partial-files";
inline constexpr char kPartialConfigFile[] = "conf/lm-partial-config";
inline constexpr char kDelayPackagesFile[] = "conf/lm-delay-packages";
inline constexpr char kFailedPackagesFile[] = "conf/lm-failed-packages";
inline constexpr char kNewPackagesFile[] = "conf/lm-newpkgs";
inline constexpr char kFirmwarePackagesFile[] = "shared_conf/lm-firmware-packages";
