#include "tests/peers/SmtpPeer.h"

#include "foundation/FileUtil.h"
#include "tests/peers/PeerNet.h"

namespace nv::test {

struct SmtpPeer::Session {
    explicit Session(PeerStream& s) : stream(s) {}
    PeerStream& stream;
    bool authed = false;
    std::string authUser;
    SmtpMessage message;
    bool inMail = false;
};

namespace {

std::string pathOf(const std::string& args) {
    std::size_t open = args.find('<');
    std::size_t close = args.find('>', open);
    if (open == std::string::npos || close == std::string::npos) return {};
    return args.substr(open + 1, close - open - 1);
}

bool startsNoCase(const std::string& line, const char* prefix) {
    std::string p(prefix);
    return line.size() >= p.size() && equalsNoCase(line.substr(0, p.size()), p);
}

}  // namespace

SmtpPeer::SmtpPeer(SmtpPeerOptions options)
    : m_options(std::move(options)), m_listener("SmtpPeer", [this](PeerStream& s) { serve(s); }) {}

SmtpPeer::~SmtpPeer() = default;

std::vector<SmtpMessage> SmtpPeer::messages() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_messages;
}

std::vector<std::string> SmtpPeer::commands() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_commands;
}

void SmtpPeer::record(const std::string& line) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_commands.push_back(line);
}

void SmtpPeer::serve(PeerStream& stream) {
    if (m_options.tls == SmtpPeerOptions::Tls::Implicit && !stream.startTls(selfSignedServerContext())) return;
    Session s(stream);
    if (m_options.greeting.empty()) return;  // drops the connection at once
    if (!stream.write(m_options.greeting + "\r\n") || m_options.greeting.rfind("220", 0) != 0) return;
    std::string line;
    while (stream.readUntil("\r\n", line)) {
        line.resize(line.size() - 2);
        record(line);
        if (!command(s, line)) return;
    }
}

bool SmtpPeer::command(Session& s, const std::string& line) {
    PeerStream& io = s.stream;
    const bool loginNeeded = !m_options.user.empty();
    if (startsNoCase(line, "EHLO") || startsNoCase(line, "HELO")) {
        std::string reply = "250-peer.test\r\n";
        if (m_options.tls == SmtpPeerOptions::Tls::StartTls && !io.tls()) reply += "250-STARTTLS\r\n";
        if (loginNeeded) reply += "250-AUTH PLAIN LOGIN\r\n";
        return io.write(reply + "250 8BITMIME\r\n");
    }
    if (startsNoCase(line, "STARTTLS")) {
        if (m_options.tls != SmtpPeerOptions::Tls::StartTls || io.tls()) return io.write("502 no\r\n");
        return io.write("220 go ahead\r\n") && io.startTls(selfSignedServerContext());
    }
    if (startsNoCase(line, "AUTH ")) return authenticate(s, line.substr(5));
    if (startsNoCase(line, "MAIL FROM:")) {
        if (loginNeeded && !s.authed) return io.write("530 5.7.0 Authentication required\r\n");
        s.message = SmtpMessage{};
        s.message.mailFrom = pathOf(line);
        s.message.tls = io.tls();
        s.message.authUser = s.authUser;
        s.inMail = true;
        return io.write("250 OK\r\n");
    }
    if (startsNoCase(line, "RCPT TO:")) {
        if (!s.inMail) return io.write("503 MAIL first\r\n");
        const std::string to = pathOf(line);
        auto it = m_options.rcptReplies.find(to);
        if (it != m_options.rcptReplies.end()) return io.write(it->second + "\r\n");
        s.message.rcpts.push_back(to);
        return io.write("250 OK\r\n");
    }
    if (startsNoCase(line, "DATA")) {
        if (s.message.rcpts.empty()) return io.write("554 no valid recipients\r\n");
        if (!io.write("354 go on\r\n")) return false;
        std::string data, dataLine;
        while (io.readUntil("\r\n", dataLine)) {
            if (dataLine == ".\r\n") {
                s.message.data = data;
                s.inMail = false;
                {
                    std::lock_guard<std::mutex> lock(m_mutex);
                    m_messages.push_back(s.message);
                }
                return io.write("250 queued\r\n");
            }
            data += dataLine[0] == '.' ? dataLine.substr(1) : dataLine;
        }
        return false;
    }
    if (startsNoCase(line, "RSET")) {
        s.inMail = false;
        return io.write("250 OK\r\n");
    }
    if (startsNoCase(line, "NOOP")) return io.write("250 OK\r\n");
    if (startsNoCase(line, "QUIT")) {
        io.write("221 bye\r\n");
        return false;
    }
    return io.write("502 unknown\r\n");
}

bool SmtpPeer::authenticate(Session& s, const std::string& args) {
    PeerStream& io = s.stream;
    std::string user, pass, line;
    auto ask = [&](const std::string& prompt, std::string& answer) {
        if (!io.write("334 " + prompt + "\r\n") || !io.readUntil("\r\n", line)) return false;
        record(line.substr(0, line.size() - 2));
        answer = base64Decode(line.substr(0, line.size() - 2));
        return true;
    };
    if (startsNoCase(args, "PLAIN")) {
        std::string blob = args.size() > 6 ? base64Decode(args.substr(6)) : std::string();
        if (blob.empty() && !ask("", blob)) return false;
        std::size_t first = blob.find('\0');
        std::size_t second = blob.find('\0', first + 1);
        if (first == std::string::npos || second == std::string::npos) return io.write("501 bad\r\n");
        user = blob.substr(first + 1, second - first - 1);
        pass = blob.substr(second + 1);
    } else if (startsNoCase(args, "LOGIN")) {
        if (args.size() > 6) user = base64Decode(args.substr(6));
        else if (!ask("VXNlcm5hbWU6", user)) return false;
        if (!ask("UGFzc3dvcmQ6", pass)) return false;
    } else {
        return io.write("504 unsupported\r\n");
    }
    if (user != m_options.user || pass != m_options.password) return io.write("535 5.7.8 Bad credentials\r\n");
    s.authed = true;
    s.authUser = user;
    return io.write("235 OK\r\n");
}

}  // namespace nv::test
