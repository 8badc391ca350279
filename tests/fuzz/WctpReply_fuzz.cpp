// WCTP replies from a carrier's server, read as a submit, an enterprise request
// and a status query: every value is one line of the reply text, so nothing a
// server sends can add a line of its own.
#include <algorithm>

#include "protocols/KORInetPagingXml.h"
#include "tests/fuzz/FuzzSupport.h"

using namespace nv;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string body(fuzz::bytes(data, size));
    for (auto kind : {wctp::ReplyKind::Submit, wctp::ReplyKind::Request, wctp::ReplyKind::Query}) {
        wctp::ReplyList list;
        bool isXml = false;
        wctp::readReply(body, kind, "M7", list, isXml);
        const std::string text = list.text();
        std::size_t lineEnds = 0;
        for (std::size_t i = 0; i < text.size(); ++i) {
            if (text[i] == '\r') {
                NV_FUZZ_CHECK(i + 1 < text.size() && text[i + 1] == '\n');
                ++lineEnds;
                ++i;
            } else {
                NV_FUZZ_CHECK(text[i] != '\n');
            }
        }
        NV_FUZZ_CHECK(lineEnds == list.lines().size());
        NV_FUZZ_CHECK(std::is_sorted(list.lines().begin(), list.lines().end(), [](const auto& a, const auto& b) {
            return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
                auto low = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
                return static_cast<unsigned char>(low(x)) < static_cast<unsigned char>(low(y));
            });
        }));
        wctp::wctpReplyValue(text, "errorText");
    }
    return 0;
}
