#pragma once
// A scripted SMTP server on loopback for the e-mail tests: plain, STARTTLS or
// TLS from the first byte (self-signed), optional AUTH PLAIN/LOGIN, canned
// replies for chosen recipients or for the greeting, and a record of every
// command and every message taken.
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "tests/peers/PeerListener.h"

namespace nv::test {

struct SmtpPeerOptions {
    enum class Tls { None, StartTls, Implicit };
    SmtpPeerOptions(Tls tls_ = Tls::None, std::string user_ = {}, std::string password_ = {},
                    std::string greeting_ = "220 peer.test ESMTP", std::map<std::string, std::string> rcptReplies_ = {})
        : tls(tls_), user(std::move(user_)), password(std::move(password_)), greeting(std::move(greeting_)),
          rcptReplies(std::move(rcptReplies_)) {}
    Tls tls = Tls::None;
    std::string user;  // non-empty: login offered and required before MAIL
    std::string password;
    std::string greeting = "220 peer.test ESMTP";  // empty: the connection is dropped at once
    std::map<std::string, std::string> rcptReplies;  // address -> reply line (e.g. "550 5.1.1 No such user")
};

struct SmtpMessage {
    std::string mailFrom;
    std::vector<std::string> rcpts;
    std::string data;  // as received, dot-stuffing undone, without the final "."
    bool tls = false;
    std::string authUser;
};

class SmtpPeer {
public:
    explicit SmtpPeer(SmtpPeerOptions options = {});
    ~SmtpPeer();
    SmtpPeer(const SmtpPeer&) = delete;
    SmtpPeer& operator=(const SmtpPeer&) = delete;

    std::uint16_t port() const { return m_listener.port(); }
    std::vector<SmtpMessage> messages() const;
    // Every command line received, in order (AUTH payloads shown as sent).
    std::vector<std::string> commands() const;
    int connections() const { return m_listener.accepted(); }

private:
    struct Session;
    void serve(PeerStream& stream);
    bool command(Session& s, const std::string& line);
    bool authenticate(Session& s, const std::string& args);
    void record(const std::string& line);

    SmtpPeerOptions m_options;
    mutable std::mutex m_mutex;
    std::vector<SmtpMessage> m_messages;
    std::vector<std::string> m_commands;
    PeerListener m_listener;  // last: its threads end before the rest goes
};

}  // namespace nv::test
