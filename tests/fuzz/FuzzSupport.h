#pragma once
// Shared by the fuzz targets: the libFuzzer entry point, an invariant check that
// stops the run, and a reader that cuts one input into several fields.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

// An invariant that does not hold is a finding: abort, so libFuzzer keeps the
// input and the replay's test fails.
#define NV_FUZZ_CHECK(cond)                                                                  \
    do {                                                                                     \
        if (!(cond)) {                                                                       \
            std::fprintf(stderr, "%s:%d: invariant failed: %s\n", __FILE__, __LINE__, #cond); \
            std::abort();                                                                    \
        }                                                                                    \
    } while (0)

namespace nv::fuzz {

inline std::string_view bytes(const std::uint8_t* data, std::size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

// Takes an input apart: a byte from the front, or the text up to the next
// separator byte (0xFF, which the seed files use between fields).
class Fields {
public:
    explicit Fields(std::string_view in) : m_in(in) {}
    std::uint8_t byte() {
        if (m_in.empty()) return 0;
        auto b = static_cast<std::uint8_t>(m_in.front());
        m_in.remove_prefix(1);
        return b;
    }
    std::string field() {
        std::size_t end = m_in.find('\xFF');
        std::string out(m_in.substr(0, end));
        m_in.remove_prefix(end == std::string_view::npos ? m_in.size() : end + 1);
        return out;
    }
    std::string_view rest() const { return m_in; }

private:
    std::string_view m_in;
};

}  // namespace nv::fuzz
