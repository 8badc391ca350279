#pragma once
// The operator's guide: one HTML file shipped with the programs, one section per
// window, each help context an anchor ("#ctx120").
#include <filesystem>

#include "manager/OperatorUi.h"

namespace nv {

inline constexpr const char* kGuideFileName = "Nerivale.html";

// The guide beside the program (<appDir>/guide/, then <program>/../share/nerivale/guide/),
// else the copy in the source tree the program was built from. Empty when none exists.
std::filesystem::path guideFile(const std::filesystem::path& appDir);

// Opens the guide at `context` (0: its table of contents). A missing guide is
// an error dialog naming where it was looked for.
void showHelp(OperatorUi& ui, const std::filesystem::path& appDir, int context);

}  // namespace nv
