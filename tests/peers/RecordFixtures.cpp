#include "tests/peers/RecordFixtures.h"

namespace nv::test {

namespace {

void putText(std::string& rec, std::size_t off, std::size_t n, const std::string& s) {
    std::size_t len = s.size() < n ? s.size() : n;
    rec[off] = static_cast<char>(len);
    rec.replace(off + 1, len, s.substr(0, len));
}

void putInt32(std::string& rec, std::size_t off, std::int32_t v) {
    auto u = static_cast<std::uint32_t>(v);
    for (int i = 0; i < 4; ++i) rec[off + i] = static_cast<char>((u >> (8 * i)) & 0xFF);
}

}  // namespace

std::string recordFileHeader(std::int32_t recordSize, const std::string& version) {
    std::string h(57, '\0');
    putInt32(h, 0, recordSize);
    putText(h, 20, 8, version);
    return h;
}

std::string routeFile(const std::vector<RouteFixture>& routes) {
    std::string file = recordFileHeader(443, "QXDB 1.1");
    for (const auto& r : routes) {
        std::string rec(443, '\0');
        putText(rec, 0, 35, r.name);
        putText(rec, 36, 15, r.npanxx);
        putText(rec, 52, 35, r.provider);
        putText(rec, 88, 35, r.secProvider);
        putText(rec, 124, 150, r.eddr);
        putText(rec, 275, 150, r.secEddr);
        rec[426] = r.enabled ? 1 : 0;
        putInt32(rec, 427, static_cast<std::int32_t>(file.size()));
        rec[431] = r.deleted ? 1 : 0;
        rec[440] = r.removePrefix ? 1 : 0;
        rec[441] = r.placePinInSubPri ? 1 : 0;
        file += rec;
    }
    return file;
}

std::string providerFile(const std::vector<ProviderFixture>& providers) {
    std::string file = recordFileHeader(2871, "QXDB 7.6");
    for (const auto& p : providers) {
        std::string rec(2871, '\0');
        putText(rec, 0, 35, p.name);
        putText(rec, 36, 35, p.accessNum);
        putInt32(rec, 146, p.pageCount);
        putInt32(rec, 420, p.msgLength);
        putInt32(rec, 1827, p.maxMsgsPerCall);
        putInt32(rec, 702, static_cast<std::int32_t>(file.size()));
        putText(rec, 429, 255, p.snppServer);
        putText(rec, 685, 15, p.snppPort);
        putInt32(rec, 2543, p.snppSecure);
        rec[2506] = static_cast<char>(p.deliveryType);
        file += rec;
    }
    return file;
}

std::string portFile(const std::vector<PortFixture>& ports) {
    std::string file = recordFileHeader(776, "QXDB 7.1");
    for (const auto& p : ports) {
        std::string rec(776, '\0');
        putText(rec, 0, 65, p.name);
        rec[322] = static_cast<char>(p.tapiDevice & 0xFF);
        rec[323] = static_cast<char>((p.tapiDevice >> 8) & 0xFF);
        putText(rec, 324, 255, p.modem);
        rec[584] = p.enabled ? 1 : 0;
        rec[586] = static_cast<char>(p.direction);
        putInt32(rec, 588, static_cast<std::int32_t>(file.size()));
        putText(rec, 592, 35, p.directGroup);
        rec[628] = p.direct ? 1 : 0;
        rec[629] = static_cast<char>(p.comPort);
        rec[630] = static_cast<char>(p.comSpeed);
        rec[631] = static_cast<char>(p.comFlow);
        rec[632] = static_cast<char>(p.comData);
        putText(rec, 633, 15, p.dialPrefix);
        file += rec;
    }
    return file;
}

}  // namespace nv::test
