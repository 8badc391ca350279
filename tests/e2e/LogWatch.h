#pragma once
// Reads the log of a ZQSvc run from outside: the day archives under logs/ and
// Log.Dat, each line without its time stamp. A line still being written (no
// CR LF yet) is left for the next read.
#include <algorithm>
#include <chrono>
#include <cstddef>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tests/peers/TestSupport.h"

namespace nv::test {

class LogWatch {
public:
    explicit LogWatch(std::filesystem::path dataDir) : m_dir(std::move(dataDir)) {}

    std::vector<std::string> lines() const {
        std::vector<std::string> out;
        std::string content;
        if (std::filesystem::is_directory(m_dir / "logs"))
            for (const auto& e : std::filesystem::directory_iterator(m_dir / "logs")) content += readFile(e.path());
        if (std::filesystem::exists(m_dir / "Log.Dat")) content += readFile(m_dir / "Log.Dat");
        std::size_t pos = 0;
        while (pos < content.size()) {
            std::size_t end = content.find("\r\n", pos);
            if (end == std::string::npos) break;
            std::string line = content.substr(pos, end - pos);
            auto sep = line.find(" - ");
            out.push_back(sep == std::string::npos ? line : line.substr(sep + 3));
            pos = end + 2;
        }
        return out;
    }

    std::size_t count(const std::string& prefix) const {
        auto all = lines();
        return static_cast<std::size_t>(
            std::count_if(all.begin(), all.end(), [&](const std::string& l) { return l.rfind(prefix, 0) == 0; }));
    }

    bool has(const std::string& text) const {
        auto all = lines();
        return std::find(all.begin(), all.end(), text) != all.end();
    }

    // Waits until `n` lines begin with `prefix`.
    bool waitFor(const std::string& prefix, std::size_t n = 1,
                 std::chrono::milliseconds bound = std::chrono::seconds(30)) const {
        auto until = std::chrono::steady_clock::now() + bound;
        while (std::chrono::steady_clock::now() < until) {
            if (count(prefix) >= n) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }

    // Position of the first line equal to `text`, or npos.
    std::size_t indexOf(const std::string& text) const {
        auto all = lines();
        auto it = std::find(all.begin(), all.end(), text);
        return it == all.end() ? std::string::npos : static_cast<std::size_t>(it - all.begin());
    }

private:
    std::filesystem::path m_dir;
};

}  // namespace nv::test
