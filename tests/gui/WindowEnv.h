#pragma once
// A window test's surroundings: a temporary folder serving as install and data
// directory, and the scripted operator, handed to the windows as their context.
#include <filesystem>
#include <string>

#include "manager/ManagerContext.h"
#include "tests/gui/FakeOperatorUi.h"
#include "tests/peers/TestSupport.h"

namespace nv::test {

struct WindowEnv {
    TempDir dir;
    FakeOperatorUi ui;
    ManagerContext ctx{dir.path(), dir.path(), ui};
    std::filesystem::path file(const std::string& name) const { return dir / name; }
};

}  // namespace nv::test
