#pragma once
// Small helpers shared by the tests: a temporary data directory and a raw
// pseudo-terminal pair standing in for a serial line.
#include <chrono>
#include <filesystem>
#include <string>

namespace nv::test {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return m_path; }
    std::filesystem::path operator/(const std::string& name) const { return m_path / name; }

private:
    std::filesystem::path m_path;
};

// The far end (`master`) is what a peer drives; `slavePath` is the device the
// code under test opens. Both ends are raw.
class PtyPair {
public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    int master() const { return m_master; }
    const std::string& slavePath() const { return m_slavePath; }
    // Keeps a descriptor on the slave so the master does not see hang-ups
    // between the opens and closes of the code under test.
    void holdSlave();
    void releaseSlave();

    void write(const std::string& bytes);
    // Reads until `n` bytes arrived or the time ran out; returns what arrived.
    std::string read(std::size_t n, std::chrono::milliseconds timeout);
    // Reads until `needle` was seen (returns everything read) or the time ran out.
    std::string readUntil(const std::string& needle, std::chrono::milliseconds timeout);
    // Whatever arrives within `quiet` of silence.
    std::string drain(std::chrono::milliseconds quiet);

private:
    int m_master = -1;
    int m_slaveHold = -1;
    std::string m_slavePath;
};

void writeFile(const std::filesystem::path& path, const std::string& bytes);
std::string readFile(const std::filesystem::path& path);
// Bytes from a hex text ("01 0A ff"); blanks ignored.
std::string fromHex(const std::string& hex);
std::string toHex(const std::string& bytes);

}  // namespace nv::test
