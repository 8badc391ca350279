#pragma once
// Shared by the main window's tests: the stub systemctl of tests/peers first on
// PATH with a state file of the test's own, and waits that keep the event loop turning.
#include <QTest>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "tests/peers/SystemctlStub.h"
#include "tests/peers/TestSupport.h"

namespace nv::test {

// The shared stub with a state file: `show` answers from it.
class StubSystemctl : public SystemctlStub {
public:
    explicit StubSystemctl(const std::string& state = "loaded inactive") {
        ::setenv("NV_SYSTEMCTL_STATE_FILE", stateFile().c_str(), 1);
        ::unsetenv("NV_SYSTEMCTL_STATE");
        setState(state);
    }
    ~StubSystemctl() { ::unsetenv("NV_SYSTEMCTL_STATE_FILE"); }

    std::filesystem::path stateFile() const { return m_dir / "state"; }
    // One line per `show`, the last one kept: "loaded active", "not-found inactive", "fail".
    void setState(const std::string& lines) { writeFile(stateFile(), lines + "\n"); }
    // What the state becomes when `verb` (start, stop) is requested.
    void onRequest(const std::string& verb, const std::string& lines) {
        writeFile(stateFile().string() + "." + verb, lines + "\n");
    }
    bool saw(const std::string& line) const { return calls().find(line + "\n") != std::string::npos; }

private:
    TempDir m_dir;
};

// Generous: each systemctl call starts a shell script, which is slow on a loaded
// machine; a passing wait returns as soon as `pred` holds.
template <class Pred>
bool waitUntil(Pred pred, int timeoutMs = 30000) {
    return QTest::qWaitFor(pred, timeoutMs);
}

}  // namespace nv::test
