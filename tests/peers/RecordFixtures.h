#pragma once
// Record files written byte by byte at the layout's offsets, independently of
// the record writers under test.
#include <cstdint>
#include <string>
#include <vector>

namespace nv::test {

struct RouteFixture {
    std::string name{};
    std::string npanxx{};
    std::string provider{};
    std::string secProvider = "NONE";
    std::string eddr{};
    std::string secEddr{};
    bool enabled = true;
    bool removePrefix = false;
    bool placePinInSubPri = false;
    bool deleted = false;
};

struct ProviderFixture {
    std::string name{};
    std::uint8_t deliveryType = 1;
    std::int32_t msgLength = 80;
    std::string accessNum{};          // TerminalAccessNum
    std::int32_t maxMsgsPerCall = 0;
    std::int32_t pageCount = 0;
    std::string snppServer{};
    std::string snppPort{};
    std::int32_t snppSecure = 0;      // -1: plain text
};

struct PortFixture {
    std::string name{};
    bool enabled = true;
    std::uint8_t direction = 1;       // 0 inbound
    bool direct = false;
    std::string directGroup{};
    std::uint8_t comPort = 0;         // 0 = COM1
    std::uint8_t comSpeed = 6;        // 9600
    std::uint8_t comData = 1;         // 8,N,1
    std::uint8_t comFlow = 0;
    std::int16_t tapiDevice = 0;
    std::string modem{};              // device name, names <modem>.mcf
    std::string dialPrefix{};
};

// 57-byte header: record size, a zero time, the version text.
std::string recordFileHeader(std::int32_t recordSize, const std::string& version);
// NpaNxxRoute.dat ("QXDB 1.1", 443-byte records) and Provider.dat ("QXDB 7.6", 2871).
std::string routeFile(const std::vector<RouteFixture>& routes);
std::string providerFile(const std::vector<ProviderFixture>& providers);
// Ports.dat ("QXDB 7.1", 776-byte records).
std::string portFile(const std::vector<PortFixture>& ports);

}  // namespace nv::test
