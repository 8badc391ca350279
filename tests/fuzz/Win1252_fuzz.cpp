// The Windows-1252 codec: every byte string survives a round trip through
// UTF-8, and decoding UTF-8 never yields a CR or LF that the input did not hold
// as a plain byte (overlong forms used to).
#include <algorithm>

#include "foundation/Win1252.h"
#include "tests/fuzz/FuzzSupport.h"

using namespace nv;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view in = fuzz::bytes(data, size);
    NV_FUZZ_CHECK(utf8ToCp1252(cp1252ToUtf8(in)) == in);
    const std::string cp = utf8ToCp1252(in);
    NV_FUZZ_CHECK(cp.size() <= in.size());
    for (char c : {'\r', '\n', '\0'})
        NV_FUZZ_CHECK(std::count(cp.begin(), cp.end(), c) == std::count(in.begin(), in.end(), c));
    // What comes out is valid UTF-8 again, so it survives the way back unchanged.
    const std::string utf8 = cp1252ToUtf8(cp);
    NV_FUZZ_CHECK(utf8ToCp1252(utf8) == cp);
    return 0;
}
