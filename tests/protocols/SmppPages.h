#pragma once
// Pages for the SMPP session tests: one PIN, one login, a loopback centre; and
// the session driven as SendSMPPPage drives it.
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "protocols/SmppSession.h"

namespace nv::test {

// The session with a test's log, cancel test, timing and pause recorder: the
// id in and out, the reply out.
struct SmppSender {
    std::function<void(const std::string&)> log;
    std::function<bool()> cancelled;
    SmppTiming timing;
    SmppSession::PauseFn pause;

    bool send(SmppRequest page, std::string& id, std::string& reply) const {
        page.messageId = id;
        page.timing = timing;
        page.cancelled = cancelled;
        page.log = log;
        SmppSession session;
        session.setPause(pause);
        SmppResult r = session.send(page);
        id = r.messageId;
        reply = r.reply;
        return r.delivered;
    }
};

inline SmppRequest smppPageFor(std::uint16_t port, std::string message, std::string user = "user") {
    SmppRequest p;
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
