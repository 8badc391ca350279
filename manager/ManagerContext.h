#pragma once
// What every window of the manager is handed when it is created: the install
// and data directories found at start and the operator interface.
#include <filesystem>

#include "manager/OperatorUi.h"

namespace nv {

struct ManagerContext {
    std::filesystem::path appDir;   // install directory
    std::filesystem::path workDir;  // data directory: Config.Dat, Log.Dat, the record files
    OperatorUi& ui;
};

}  // namespace nv
