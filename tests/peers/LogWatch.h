#pragma once
// Reads the engine's log from outside: the day archives under logs/ and
// Log.Dat, each line without its time stamp. A line still being written (no
// CR LF yet) is left for the next read.
//
// A whole-program test waits by sleeping between reads; an in-process engine
// needs its event loop turned while the test waits, so such a fixture hands in
// the pump that does it.
#include <algorithm>
#include <chrono>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tests/peers/TestSupport.h"

namespace nv::test {

class LogWatch {
public:
    explicit LogWatch(std::filesystem::path dataDir, std::function<void()> pump = {})
        : m_dir(std::move(dataDir)), m_pump(std::move(pump)) {}

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

    // The lines that begin with `prefix`, in order.
    std::vector<std::string> starting(const std::string& prefix) const {
        std::vector<std::string> out;
        for (auto& l : lines())
            if (l.rfind(prefix, 0) == 0) out.push_back(std::move(l));
        return out;
    }

    std::size_t count(const std::string& prefix) const { return starting(prefix).size(); }

    // How many lines equal `text`.
    std::size_t occurrences(const std::string& text) const {
        auto all = lines();
        return static_cast<std::size_t>(std::count(all.begin(), all.end(), text));
    }

    bool has(const std::string& text) const { return occurrences(text) > 0; }

    // Position of the first line equal to `text`, or npos.
    std::size_t indexOf(const std::string& text) const {
        auto all = lines();
        auto it = std::find(all.begin(), all.end(), text);
        return it == all.end() ? std::string::npos : static_cast<std::size_t>(it - all.begin());
    }

    // Pumps (or sleeps) until `done` holds or `bound` ran out.
    bool waitUntil(const std::function<bool()>& done,
                   std::chrono::milliseconds bound = std::chrono::seconds(30)) const {
        auto until = std::chrono::steady_clock::now() + bound;
        for (;;) {
            if (m_pump) m_pump();
            if (done()) return true;
            if (std::chrono::steady_clock::now() >= until) return false;
            if (!m_pump) std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }

    // Waits until `n` lines begin with `prefix`.
    bool waitFor(const std::string& prefix, std::size_t n = 1,
                 std::chrono::milliseconds bound = std::chrono::seconds(30)) const {
        return waitUntil([&] { return count(prefix) >= n; }, bound);
    }

    // Waits until `n` lines equal `text`.
    bool waitForLine(const std::string& text, std::size_t n = 1,
                     std::chrono::milliseconds bound = std::chrono::seconds(30)) const {
        return waitUntil([&] { return occurrences(text) >= n; }, bound);
    }

    // Waits for a line that begins with `prefix`: the first such line, or a
    // text naming the prefix that no expected line equals.
    std::string waitLine(const std::string& prefix, std::chrono::milliseconds bound = std::chrono::seconds(30)) const {
        waitFor(prefix, 1, bound);
        auto found = starting(prefix);
        return found.empty() ? "(no line " + prefix + ")" : found.front();
    }

private:
    std::filesystem::path m_dir;
    std::function<void()> m_pump;
};

}  // namespace nv::test
