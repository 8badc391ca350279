#pragma once
// The in-process engine for the WCTP, e-mail and SMPP sender tests: record
// files and Config.Dat written byte by byte into a temporary data directory,
// fast pauses, and the log read back from Log.Dat.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "foundation/Clock.h"
#include "protocols/KORInetPaging.h"
#include "service/SrvcMainFrm.h"
#include "tests/peers/LogWatch.h"
#include "tests/peers/RecordFixtures.h"
#include "tests/peers/TestSupport.h"
#include "tests/service/FastTiming.h"
#include "tests/service/IntakePages.h"

namespace nv::test {

using namespace std::chrono_literals;

// A provider of Provider.dat with the fields the fixture writer leaves zero.
struct ProviderFields {
    std::string name{};
    std::uint8_t type = 0;
    std::map<std::size_t, std::string> texts{};  // offset -> text field
    std::map<std::size_t, std::int32_t> ints{};  // offset -> int32 field
    std::int32_t msgLength = 0;
};

// Field offsets of ProviderRec.
inline constexpr std::size_t kWCTPServer = 713, kWCTPPort = 969, kWCTPUser = 1725, kWCTPPass = 1761,
                             kSMPPUserName = 2547, kSMPPPassword = 2573, kSMPPServer = 2607, kSMPPort = 2863,
                             kSMPPSecureMode = 2867, kPageCount = 146;

inline std::string providerFileOf(const std::vector<ProviderFields>& providerList) {
    constexpr std::size_t kHeader = 57, kSize = 2871;
    std::vector<ProviderFixture> fixtures;
    for (const auto& s : providerList) fixtures.push_back({.name = s.name, .deliveryType = s.type, .msgLength = s.msgLength});
    std::string file = providerFile(fixtures);
    for (std::size_t i = 0; i < providerList.size(); ++i) {
        for (const auto& [off, text] : providerList[i].texts) {
            const std::size_t at = kHeader + i * kSize + off;
            file[at] = static_cast<char>(text.size());
            file.replace(at + 1, text.size(), text);
        }
        for (const auto& [off, v] : providerList[i].ints) std::memcpy(&file[kHeader + i * kSize + off], &v, 4);
    }
    return file;
}

inline std::int32_t providerInt(const std::string& file, std::size_t rec, std::size_t off) {
    std::int32_t v = 0;
    std::memcpy(&v, &file[57 + rec * 2871 + off], 4);
    return v;
}

class InetEngineTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(initInternetPaging()); }
    void TearDown() override { engine.reset(); }

    // The engine, with port threads on `ports` when there are any.
    void makeEngine(const std::vector<PortFixture>& ports = {}) {
        engine.reset();
        std::filesystem::remove(dir / "Log.Dat");
        EngineOptions o = inProcessOptions(dir.path(), clock, 10000ms);
        o.smpp.connectWait = 2000ms;
        o.smpp.responseWait = 3000ms;
        o.smpp.partPause = o.smpp.inPartPause = 1ms;
        o.inetPaging.httpTimeout = 3000ms;
        o.inetPaging.partPause = 1ms;
        o.outbound = test::fastOutboundTiming();
        engine = std::make_unique<TNerivaleSvcMain>(loop, o);
        if (!ports.empty()) {
            writeFile(dir / "Ports.dat", portFile(ports));
            engine->StartServer();
        }
    }

    // One route "Default" for every PIN.
    void route(const std::string& primary, const std::string& secondary = "NONE", const std::string& eddr = {},
               bool pinAsSubject = false) {
        writeFile(dir / "NpaNxxRoute.dat",
                  routeFile({{.name = "Default", .npanxx = "0000000000", .provider = primary,
                              .secProvider = secondary, .eddr = eddr, .placePinInSubPri = pinAsSubject}}));
    }
    void providers(const std::vector<ProviderFields>& providerList) { writeFile(dir / "Provider.dat", providerFileOf(providerList)); }
    // Config.Dat: "[Section]\r\nKey=Value\r\n..." as the manager writes it.
    void config(const std::string& text) { writeFile(dir / "Config.Dat", text); }

    void page(const std::string& pin, const std::string& msg) {
        bool submitted = false;
        engine->KORTap1MsgReceived(nullptr, pin, msg, submitted);
        ASSERT_TRUE(submitted);
    }

    std::vector<std::string> logTexts() { return log.lines(); }
    std::vector<std::string> linesStarting(const std::string& prefix) { return log.starting(prefix); }
    // Pumps the engine until `n` lines begin with `prefix`; those lines.
    std::vector<std::string> waitLines(const std::string& prefix, std::size_t n = 1,
                                       std::chrono::milliseconds bound = 20s) {
        log.waitFor(prefix, n, bound);
        return linesStarting(prefix);
    }
    std::string waitLine(const std::string& prefix) { return log.waitLine(prefix, 20s); }
    // Lets posted counters and lines land.
    void settle() { loop.pumpFor(30ms); }

    TempDir dir;
    ManualClock clock;
    EventLoop loop;
    LogWatch log{dir.path(), [this] { loop.pumpFor(5ms); }};
    std::unique_ptr<TNerivaleSvcMain> engine;
};

}  // namespace nv::test
