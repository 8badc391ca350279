#pragma once
// CRC-16 of the TNPP packets: reflected polynomial A001, no final step
// (CRC-16/ARC when started from 0).
#include <cstdint>
#include <string_view>

namespace nv {

// Folds `Len` bytes of `Data` into `CRC`; chained calls equal one call over
// the joined bytes.
void UpdateCRC16(const void* Data, std::uint16_t Len, std::uint16_t& CRC);

// The CRC of a whole byte string from `init`; strings longer than 65535
// bytes are folded in pieces.
std::uint16_t crc16(std::string_view bytes, std::uint16_t init = 0);

}  // namespace nv
