#pragma once
// The modem settings dialog: edits one .mcf file (speed, framing, flow control,
// extra init, tone/pulse, blind dial, dial time-out). Serves the port editor and
// the provider editor.
#include <filesystem>

#include "manager/ManagerContext.h"

class QWidget;

namespace nv {

// Opens on the values stored in `mcfFile` (defaults when it does not exist);
// OK writes the file atomically and returns true; Cancel leaves it untouched
// and returns false. A failed write is shown to the operator and returns false.
bool editModemSettings(QWidget* parent, ManagerContext& ctx, const std::filesystem::path& mcfFile);

}  // namespace nv
