#pragma once
// Modem configuration files (<name>.mcf, system.mcf). The 24-byte size header
// of the files written by the Windows version stays (little-endian u32: dwTotalSize = file size,
// dwNeededSize, dwUsedSize, dwStringFormat, dwStringSize, dwStringOffset = 24);
// the block after it is our own and device-independent:
//   "NVMCF 1" CR LF, then Key=Value CR LF lines:
//   Speed, DataBits, Parity (N O E M S), StopBits (1 2), Flow (None RtsCts
//   XonXoff Both), ExtraInit, Dial (Tone Pulse), BlindDial (0 1), DialTimeout.
// Anything else (a short file, sizes past the end, another block such as a
// Windows-made device configuration) is not loadable.
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "platform/ModemLine.h"

namespace nv {

inline constexpr std::string_view kMcfMagic = "NVMCF";
inline constexpr int kMcfVersion = 1;
inline constexpr std::size_t kMcfHeaderSize = 24;

// The whole file image for `settings`.
std::string encodeModemConfig(const ModemSettings& settings);

// The settings of a file image, or nothing when it is not loadable.
std::optional<ModemSettings> decodeModemConfig(std::string_view file);

std::optional<ModemSettings> readModemConfigFile(const std::filesystem::path& path);
bool writeModemConfigFile(const std::filesystem::path& path, const ModemSettings& settings);

inline constexpr const char* kSystemModemConfigName = "system.mcf";
// Puts the default system.mcf (the modem defaults) into the data directory
// when it has none; an operator's file is left as it is. False when it cannot
// be written.
bool ensureSystemModemConfig(const std::filesystem::path& dataDir);

}  // namespace nv
