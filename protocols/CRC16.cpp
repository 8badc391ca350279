#include "protocols/CRC16.h"

#include <algorithm>
#include <array>

namespace nv {
namespace {

constexpr std::array<std::uint16_t, 256> makeTable() {
    std::array<std::uint16_t, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        std::uint16_t c = static_cast<std::uint16_t>(i);
        for (int bit = 0; bit < 8; ++bit)
            c = (c & 1) ? static_cast<std::uint16_t>((c >> 1) ^ 0xA001) : static_cast<std::uint16_t>(c >> 1);
        table[i] = c;
    }
    return table;
}

constexpr auto kTable = makeTable();

}  // namespace

void UpdateCRC16(const void* Data, std::uint16_t Len, std::uint16_t& CRC) {
    const auto* p = static_cast<const unsigned char*>(Data);
    for (std::uint16_t i = 0; i < Len; ++i)
        CRC = static_cast<std::uint16_t>((CRC >> 8) ^ kTable[(CRC ^ p[i]) & 0xFF]);
}

std::uint16_t crc16(std::string_view bytes, std::uint16_t init) {
    std::uint16_t crc = init;
    while (!bytes.empty()) {
        auto n = static_cast<std::uint16_t>(std::min<std::size_t>(bytes.size(), 0xFFFF));
        UpdateCRC16(bytes.data(), n, crc);
        bytes.remove_prefix(n);
    }
    return crc;
}

}  // namespace nv
