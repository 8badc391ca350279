#pragma once
// The manager's start before its main window: the install directory and the
// data directory found by the service's own rule (platform/DataDirectory), the
// question when no Config.Dat is there yet, and the data directory's levels
// created. A level that cannot be created is an error dialog naming the path
// and the reason, and the manager does not start; so is a data directory this
// account may not use (platform/ServiceAccount names the group to join).
#include <filesystem>
#include <optional>

#include "manager/OperatorUi.h"

namespace nv {

struct ManagerDirectories {
    std::filesystem::path appDir;   // install directory
    std::filesystem::path workDir;  // data directory
};

std::optional<ManagerDirectories> findManagerDirectories(OperatorUi& ui, const std::filesystem::path& programDir);

}  // namespace nv
