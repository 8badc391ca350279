#include "foundation/ProfileFile.h"

#include <cstdint>
#include <system_error>

#include "foundation/FileUtil.h"
#include "foundation/TextUtil.h"

namespace nv {
namespace fs = std::filesystem;

namespace {

constexpr const char* kCrLf = "\r\n";

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view trimLeft(std::string_view s) {
    while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
    return s;
}

std::string_view trimRight(std::string_view s) {
    while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
    return s;
}

std::string_view trim(std::string_view s) { return trimRight(trimLeft(s)); }

// One line of the file as the reader sees it. `value` is the trimmed text after
// the '=' with any quotes still on.
struct LineInfo {
    enum class Kind { Blank, Comment, Section, Key, Other } kind = Kind::Blank;
    std::string_view name;  // section or key name
    std::string_view value;
};

// `line` without its terminator.
LineInfo classify(std::string_view line) {
    LineInfo info;
    std::string_view s = trimLeft(line);
    if (s.empty()) return info;
    if (s.front() == ';') {
        info.kind = LineInfo::Kind::Comment;
        return info;
    }
    if (s.front() == '[') {
        info.kind = LineInfo::Kind::Section;
        std::string_view rest = s.substr(1);
        std::size_t close = rest.rfind(']');
        info.name = trim(close == std::string_view::npos ? rest : rest.substr(0, close));
        return info;
    }
    std::size_t eq = s.find('=');
    if (eq == std::string_view::npos) {
        info.kind = LineInfo::Kind::Other;
        return info;
    }
    info.kind = LineInfo::Kind::Key;
    info.name = trimRight(s.substr(0, eq));
    info.value = trim(s.substr(eq + 1));
    return info;
}

// Splits into lines that keep their own terminator (CR LF, CR or LF).
std::vector<std::string> splitLines(std::string_view text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t i = start;
        while (i < text.size() && text[i] != '\r' && text[i] != '\n') ++i;
        std::size_t end = i;
        if (i < text.size()) {
            end = (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ? i + 2 : i + 1;
        }
        lines.emplace_back(text.substr(start, end - start));
        start = end;
    }
    return lines;
}

std::string_view withoutTerminator(std::string_view line) {
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);
    return line;
}

bool hasTerminator(const std::string& line) {
    return !line.empty() && (line.back() == '\r' || line.back() == '\n');
}

bool quotedPair(std::string_view v) {
    return v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front();
}

std::string unquote(std::string_view v) {
    if (quotedPair(v)) v = v.substr(1, v.size() - 2);
    if (v.size() > kProfileMaxValue) v = v.substr(0, kProfileMaxValue);
    return std::string(v);
}

// The text to store so that the reader gives `value` back. A value the reader
// would take for a quoted one ('abc', or "x" with blanks around) lost its quotes
// at the next read, so a password such as 'abc' changed with every save; it is
// wrapped in one more pair of double quotes, which the reader removes again.
std::string storedValue(const std::string& value) {
    return quotedPair(trim(value)) ? "\"" + value + "\"" : value;
}

// Snapshot look-up key: section and key names without regard to case.
std::string entryKey(std::string_view section, std::string_view key) {
    return lowerAscii(std::string(section)) + '\n' + lowerAscii(std::string(key));
}

// Index of the first section line named `section`, or npos.
std::size_t findSection(const std::vector<std::string>& lines, std::string_view section) {
    for (std::size_t i = 0; i < lines.size(); ++i) {
        LineInfo info = classify(withoutTerminator(lines[i]));
        if (info.kind == LineInfo::Kind::Section && equalsNoCase(info.name, section)) return i;
    }
    return std::string::npos;
}

void applyOne(std::vector<std::string>& lines, const ProfileWrite& w) {
    const std::string value = storedValue(withoutLineBreaks(std::string(w.value)));
    std::size_t head = findSection(lines, w.section);
    if (head == std::string::npos) {
        if (!lines.empty() && !hasTerminator(lines.back())) lines.back() += kCrLf;
        // One blank line between sections, for people who read the file.
        if (!lines.empty() && classify(withoutTerminator(lines.back())).kind != LineInfo::Kind::Blank) {
            lines.emplace_back(kCrLf);
        }
        lines.push_back("[" + w.section + "]" + kCrLf);
        lines.push_back(w.key + "=" + value + kCrLf);
        return;
    }
    std::size_t insertAfter = head;
    for (std::size_t i = head + 1; i < lines.size(); ++i) {
        LineInfo info = classify(withoutTerminator(lines[i]));
        if (info.kind == LineInfo::Kind::Section) break;
        if (info.kind == LineInfo::Kind::Key && equalsNoCase(info.name, w.key)) {
            // An unchanged value leaves the line as the operator wrote it.
            if (info.value == value) return;
            lines[i] = std::string(info.name) + "=" + value + kCrLf;
            return;
        }
        if (info.kind == LineInfo::Kind::Key || info.kind == LineInfo::Kind::Other) insertAfter = i;
    }
    if (!hasTerminator(lines[insertAfter])) lines[insertAfter] += kCrLf;
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(insertAfter + 1),
                 w.key + "=" + value + kCrLf);
}

}  // namespace

int profileToInt(std::string_view value, int fallback) {
    std::string s(value);
    // The INI reader turns a leading "0x" into Delphi's "$" before converting.
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) s = "$" + s.substr(2);
    std::size_t i = 0;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    bool hex = false;
    if (i < s.size() && s[i] == '$') {
        hex = true;
        ++i;
    } else if (i + 1 < s.size() && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
        hex = true;
        i += 2;
    }
    if (i == s.size()) return fallback;
    // Hex takes up to 32 bits and wraps into the negative range ($FFFFFFFF = -1);
    // decimal must fit int32.
    const std::uint64_t limit = hex ? 0xFFFFFFFFull : (negative ? 2147483648ull : 2147483647ull);
    std::uint64_t acc = 0;
    for (; i < s.size(); ++i) {
        int d = hex ? hexDigitValue(s[i]) : (s[i] >= '0' && s[i] <= '9' ? s[i] - '0' : -1);
        if (d < 0) return fallback;
        acc = acc * (hex ? 16u : 10u) + static_cast<unsigned>(d);
        if (acc > limit) return fallback;
    }
    std::uint32_t bits = static_cast<std::uint32_t>(acc);
    if (negative) bits = 0u - bits;
    return static_cast<int>(bits);
}

// One pass with hashed look-ups: each key used to be checked against every
// key before it, so a file of 30,000 keys took seconds, and it is read per page.
ProfileSnapshot ProfileSnapshot::parse(std::string_view text) {
    ProfileSnapshot snap;
    bool inFirstOfName = false;  // keys count only in the first section of a name
    std::string current;
    for (const std::string& raw : splitLines(text)) {
        LineInfo info = classify(withoutTerminator(raw));
        if (info.kind == LineInfo::Kind::Section) {
            inFirstOfName = snap.m_sectionKeys.insert(lowerAscii(std::string(info.name))).second;
            current = std::string(info.name);
            if (inFirstOfName) snap.m_sections.push_back(current);
            continue;
        }
        if (info.kind != LineInfo::Kind::Key || !inFirstOfName) continue;
        snap.m_values.try_emplace(entryKey(current, info.name), unquote(info.value));
    }
    return snap;
}

ProfileSnapshot ProfileSnapshot::load(const fs::path& path) {
    std::string text;
    if (!readWholeFile(path, text)) return {};
    return parse(text);
}

std::optional<std::string> ProfileSnapshot::value(std::string_view section,
                                                  std::string_view key) const {
    auto it = m_values.find(entryKey(section, key));
    if (it == m_values.end()) return std::nullopt;
    return it->second;
}

bool ProfileSnapshot::hasSection(std::string_view section) const {
    return m_sectionKeys.count(lowerAscii(std::string(section))) != 0;
}

std::string ProfileSnapshot::readString(std::string_view section, std::string_view key,
                                        std::string_view fallback) const {
    if (auto v = value(section, key)) return *v;
    return std::string(fallback);
}

int ProfileSnapshot::readInteger(std::string_view section, std::string_view key,
                                 int fallback) const {
    if (auto v = value(section, key)) return profileToInt(*v, fallback);
    return fallback;
}

bool ProfileSnapshot::readBool(std::string_view section, std::string_view key,
                               bool fallback) const {
    return readInteger(section, key, fallback ? 1 : 0) != 0;
}

std::string applyProfileWrites(std::string_view text, const std::vector<ProfileWrite>& writes) {
    std::vector<std::string> lines = splitLines(text);
    for (const ProfileWrite& w : writes) applyOne(lines, w);
    std::string out;
    out.reserve(text.size() + 64 * writes.size());
    for (const std::string& l : lines) out += l;
    return out;
}

void ProfileBatch::writeString(std::string section, std::string key, std::string value) {
    m_writes.push_back({std::move(section), std::move(key), std::move(value)});
}

void ProfileBatch::writeInteger(std::string section, std::string key, int value) {
    writeString(std::move(section), std::move(key), std::to_string(value));
}

void ProfileBatch::writeBool(std::string section, std::string key, bool value) {
    writeString(std::move(section), std::move(key), value ? "1" : "0");
}

std::string ProfileFile::readString(std::string_view section, std::string_view key,
                                    std::string_view fallback) const {
    return snapshot().readString(section, key, fallback);
}

int ProfileFile::readInteger(std::string_view section, std::string_view key, int fallback) const {
    return snapshot().readInteger(section, key, fallback);
}

bool ProfileFile::readBool(std::string_view section, std::string_view key, bool fallback) const {
    return snapshot().readBool(section, key, fallback);
}

void ProfileFile::write(const ProfileBatch& batch) const {
    const std::string failure = "Unable to write to " + m_path.string();
    std::error_code ec;
    std::string old;
    bool existed = fs::exists(m_path, ec);
    // An existing file that cannot be read must not be replaced by our keys alone.
    if (existed && !readWholeFile(m_path, old)) throw ProfileWriteError(failure);
    std::string updated = applyProfileWrites(old, batch.writes());
    if (existed && updated == old) return;
    if (!writeFileAtomic(m_path, updated, kNewFileMode)) throw ProfileWriteError(failure);
}

void ProfileFile::writeString(std::string_view section, std::string_view key,
                              std::string_view value) const {
    ProfileBatch b;
    b.writeString(std::string(section), std::string(key), std::string(value));
    write(b);
}

void ProfileFile::writeInteger(std::string_view section, std::string_view key, int value) const {
    writeString(section, key, std::to_string(value));
}

void ProfileFile::writeBool(std::string_view section, std::string_view key, bool value) const {
    writeString(section, key, value ? "1" : "0");
}

}  // namespace nv
