#pragma once
// INI ("profile") files read and written by the rules of the Windows profile
// functions that Config.Dat was made with, so a file written by either program,
// on Windows or here, or by hand, reads the same everywhere:
//  - no cache: every read goes to the file, so one program sees the other's save
//    at its next read; a missing or unreadable file reads as all defaults;
//  - Windows-1252 bytes, lines end in CR LF, CR or LF, leading blanks ignored;
//  - section and key names match without regard to case; the first matching
//    section wins and, inside it, the first matching key;
//  - ';' at line start is a comment; key = text before the first '=' trimmed,
//    value = text after it trimmed, a matching pair of quotes around it removed;
//  - integers by the Delphi rules (sign, decimal, "$" or "0x" hex), booleans are
//    integers != 0;
//  - writes keep every other line verbatim, replace a key where it stands with
//    its old spelling, append a missing key to its section and a missing
//    section to the file, and write "Key=Value" CR LF; a value the reader would
//    take for a quoted one is written inside one more pair of double quotes, so
//    it reads back unchanged.
// A batch of writes is one atomic replacement of the file (temporary file,
// fsync, rename), so a reader never meets a half-written file.
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace nv {

// A write that could not reach the file (missing folder, no permission).
class ProfileWriteError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Longest value a string read returns.
inline constexpr std::size_t kProfileMaxValue = 2047;

// Integer parse of a value by the profile rules; `fallback` for anything that is
// not a whole number in int32 range.
int profileToInt(std::string_view value, int fallback);

// One parsed read of a file. Reading a whole section through one snapshot gives
// values that all come from the same version of the file.
class ProfileSnapshot {
public:
    ProfileSnapshot() = default;
    static ProfileSnapshot parse(std::string_view text);
    // Reads the file now; missing or unreadable reads as empty.
    static ProfileSnapshot load(const std::filesystem::path& path);

    // The value as read (trimmed, quotes removed, cut to kProfileMaxValue), or
    // nothing when the section or key is missing.
    std::optional<std::string> value(std::string_view section, std::string_view key) const;
    bool hasSection(std::string_view section) const;
    // Section names in file order, the first of each name only.
    const std::vector<std::string>& sections() const { return m_sections; }

    std::string readString(std::string_view section, std::string_view key,
                           std::string_view fallback) const;
    int readInteger(std::string_view section, std::string_view key, int fallback) const;
    bool readBool(std::string_view section, std::string_view key, bool fallback) const;

private:
    // Only the first section of each name and the first key of each name in it,
    // by section and key name in small letters.
    std::unordered_map<std::string, std::string> m_values;
    std::unordered_set<std::string> m_sectionKeys;
    std::vector<std::string> m_sections;
};

// One key to write.
struct ProfileWrite {
    std::string section;
    std::string key;
    std::string value;
};

// `text` with the writes applied in order, by the write rules above. CR and LF
// are taken out of values; a value that begins and ends with the same quote
// (blanks around it aside) is stored as "value". Pure: no file access.
std::string applyProfileWrites(std::string_view text, const std::vector<ProfileWrite>& writes);

// Collects writes and applies them as one atomic replacement of the file.
class ProfileBatch {
public:
    void writeString(std::string section, std::string key, std::string value);
    void writeInteger(std::string section, std::string key, int value);
    void writeBool(std::string section, std::string key, bool value);
    const std::vector<ProfileWrite>& writes() const { return m_writes; }
    bool empty() const { return m_writes.empty(); }

private:
    std::vector<ProfileWrite> m_writes;
};

// A profile file by path. Holds no content: each read parses the file again.
class ProfileFile {
public:
    // Mode of a file the first write creates: it may hold passwords.
    static constexpr unsigned kNewFileMode = 0640;

    explicit ProfileFile(std::filesystem::path path) : m_path(std::move(path)) {}
    const std::filesystem::path& path() const { return m_path; }

    ProfileSnapshot snapshot() const { return ProfileSnapshot::load(m_path); }
    std::string readString(std::string_view section, std::string_view key,
                           std::string_view fallback) const;
    int readInteger(std::string_view section, std::string_view key, int fallback) const;
    bool readBool(std::string_view section, std::string_view key, bool fallback) const;

    // Read-modify-write of the whole file, one atomic replacement per call.
    // Throws ProfileWriteError "Unable to write to <path>" when it cannot.
    void write(const ProfileBatch& batch) const;
    void writeString(std::string_view section, std::string_view key, std::string_view value) const;
    void writeInteger(std::string_view section, std::string_view key, int value) const;
    void writeBool(std::string_view section, std::string_view key, bool value) const;

private:
    std::filesystem::path m_path;
};

}  // namespace nv
