#pragma once
// The text both programs exchange over the local pipes: `name=value` lines
// separated by CR LF, the first naming the command (`cmd=...`). The engine and
// the manager parse and build messages with these functions only, so the two
// sides cannot drift apart. Texts are Windows-1252 bytes; nothing here converts.
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace nv {

inline constexpr const char* kServerPipeName = "PelmoraServer";  // commands to the engine
inline constexpr const char* kConfigPipeName = "PelmoraConfig";  // everything the engine sends

class PipeMessage {
public:
    // A line ends at CR LF, CR or LF; a final line end is optional.
    static PipeMessage parse(std::string_view text);

    const std::vector<std::string>& lines() const { return m_lines; }
    // The text after the first "=" of the first line whose name (the text before
    // that "=") equals `name` without regard to case; empty when there is none.
    std::string value(std::string_view name) const;
    bool has(std::string_view name) const;
    // The command word, as sent (callers compare it exactly).
    std::string command() const { return value("cmd"); }

private:
    std::vector<std::string> m_lines;
};

using PipeFields = std::vector<std::pair<std::string, std::string>>;

// Joins `name=value` lines with CR LF; the last line gets one only when asked,
// because some messages carry a final CR LF and others do not.
std::string buildPipeMessage(const PipeFields& fields, bool finalCrLf);

}  // namespace nv
