#pragma once
// Pages for the SMPP sender tests: one PIN, one login, a loopback centre.
#include <cstdint>
#include <string>

#include "service/SmppSender.h"

namespace nv::test {

inline SmppPage smppPageFor(std::uint16_t port, std::string message, std::string user = "user") {
    SmppPage p;
    p.server = "127.0.0.1";
    p.port = std::to_string(port);
    p.PIN = "5551234";
    p.user = std::move(user);
    p.password = "secret";
    p.message = std::move(message);
    return p;
}

// `chars` characters of words, to split.
inline std::string words(std::size_t chars) {
    std::string s;
    while (s.size() < chars) s += "word ";
    return s.substr(0, chars);
}

}  // namespace nv::test
