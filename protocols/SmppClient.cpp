#include "protocols/SmppClient.h"

#include <algorithm>

namespace nv {
namespace {

constexpr auto kSlice = std::chrono::milliseconds(20);
constexpr auto kGoodbyeWait = std::chrono::milliseconds(1000);

std::string cimdErrorText(const cimd2::Packet& p) {
    std::string code = p.param(cimd2::kErrorCode).value_or("");
    std::string text = p.param(cimd2::kErrorText).value_or("");
    std::string out = "CIMD2 error " + code;
    if (!text.empty()) out += " " + text;
    return out;
}

}  // namespace

SmppClient::SmppClient(Settings settings, Clock& clock)
    : m_settings(std::move(settings)), m_clock(clock) {}

SmppClient::~SmppClient() { m_tcp.close(); }

bool SmppClient::connected() const { return m_bound && streamUp(); }

void SmppClient::closeStream() {
    // An attached stream stays open: it is its owner's.
    m_tcp.close();
    m_stream = nullptr;
}

bool SmppClient::fail(std::string text) {
    m_error = std::move(text);
    return false;
}

std::uint32_t SmppClient::nextSequence() {
    if (++m_sequence > 0x7FFFFFFFu) m_sequence = 1;
    return m_sequence;
}

int SmppClient::nextPacketNumber() {
    m_packetNumber += 2;
    if (m_packetNumber > 255) m_packetNumber = 1;
    return m_packetNumber;
}

bool SmppClient::send(const std::string& bytes) {
    if (m_stream && m_stream->writeAll(bytes, TcpStream::kDefaultWriteTimeout)) return true;
    return fail("Error sending to host: " + (m_attached ? std::string("Connection closed") : m_tcp.lastError()));
}

// Waits for bytes until the deadline in short slices, so a cancel is seen at once.
bool SmppClient::readSome(Clock::TimePoint deadline) {
    while (true) {
        if (cancelled()) return fail("Call Aborted By User!");
        std::string got = m_stream ? m_stream->readAvailable(6000) : std::string();
        if (!got.empty()) {
            m_in += got;
            return true;
        }
        if (!streamUp()) return fail("Connection closed by host");
        if (m_clock.now() >= deadline) return fail("Error, No Responce From Host");
        m_stream->waitReadable(kSlice);
    }
}

bool SmppClient::awaitSmpp(std::uint32_t respId, std::uint32_t sequence, Clock::TimePoint deadline,
                           smpp::Pdu& out) {
    while (true) {
        smpp::Pdu pdu;
        switch (smpp::takePdu(m_in, pdu)) {
            case smpp::Parse::Invalid:
                closeStream();
                return fail("Invalid PDU from host");
            case smpp::Parse::NeedMore:
                if (!readSome(deadline)) return false;
                continue;
            case smpp::Parse::Complete:
                break;
        }
        if (pdu.header.commandId == smpp::kEnquireLink) {
            if (!send(smpp::enquireLinkResp(pdu.header.sequence))) return false;
            continue;
        }
        if (pdu.header.commandId == smpp::kGenericNack &&
            (pdu.header.sequence == sequence || pdu.header.sequence == 0))
            return fail("generic_nack: " + smpp::statusText(pdu.header.status));
        if (pdu.header.commandId == respId && pdu.header.sequence == sequence) {
            out = std::move(pdu);
            return true;
        }
        // Anything else (a late answer, an unbind from the centre) is not ours to wait for.
        if (pdu.header.commandId == smpp::kUnbind) {
            closeStream();
            return fail("Unbound by host");
        }
    }
}

bool SmppClient::awaitCimd(int respOp, int number, Clock::TimePoint deadline, cimd2::Packet& out) {
    while (true) {
        cimd2::Packet p;
        switch (cimd2::takePacket(m_in, p)) {
            case cimd2::Parse::Invalid:
                continue;  // a damaged packet; the answer may still follow
            case cimd2::Parse::NeedMore:
                if (!readSome(deadline)) return false;
                continue;
            case cimd2::Parse::Complete:
                break;
        }
        if (p.number != number) continue;
        if (p.operation == respOp) {
            if (p.param(cimd2::kErrorCode)) return fail(cimdErrorText(p));
            out = std::move(p);
            return true;
        }
        if (p.operation == cimd2::kNack || p.operation == cimd2::kGeneralErrorResp)
            return fail(cimdErrorText(p));
    }
}

bool SmppClient::connect(std::chrono::milliseconds timeout) {
    auto deadline = m_clock.now() + timeout;
    m_bound = false;
    m_in.clear();
    m_error.clear();
    closeStream();
    m_attached = false;
    if (!m_tcp.connect(m_settings.server, m_settings.port, timeout, m_settings.tls)) return fail(m_tcp.lastError());
    m_stream = &m_tcpBytes;
    return bind(deadline);
}

bool SmppClient::attach(ByteStream& stream, std::chrono::milliseconds timeout) {
    auto deadline = m_clock.now() + timeout;
    closeStream();
    m_bound = false;
    m_in.clear();
    m_error.clear();
    m_stream = &stream;
    m_attached = true;
    return bind(deadline);
}

bool SmppClient::bind(Clock::TimePoint deadline) {
    if (m_settings.protocol == kCimd2) {
        int n = nextPacketNumber();
        cimd2::Packet login{cimd2::kLogin, n,
                            {{cimd2::kUserIdentity, m_settings.userId}, {cimd2::kPassword, m_settings.password}}};
        cimd2::Packet resp;
        if (!send(cimd2::encode(login)) || !awaitCimd(cimd2::kLoginResp, n, deadline, resp)) {
            closeStream();
            return false;
        }
    } else {
        std::uint32_t seq = nextSequence();
        smpp::Pdu resp;
        if (!send(smpp::bindTransmitter(seq, m_settings.userId, m_settings.password, m_settings.systemType)) ||
            !awaitSmpp(smpp::kBindTransmitterResp, seq, deadline, resp)) {
            closeStream();
            return false;
        }
        if (resp.header.status != 0) {
            closeStream();
            return fail(smpp::statusText(resp.header.status));
        }
    }
    m_bound = true;
    return true;
}

bool SmppClient::sendMessage(const std::string& destination, const std::string& text, std::string& messageId) {
    if (!connected()) return fail("Not connected");
    auto deadline = m_clock.now() + m_responseTimeout;
    if (m_settings.protocol == kCimd2) {
        int n = nextPacketNumber();
        cimd2::Packet submit{cimd2::kSubmit, n,
                             {{cimd2::kDestinationAddress, destination},
                              {cimd2::kUserData, cimd2::encodeUserData(text)}}};
        cimd2::Packet resp;
        if (!send(cimd2::encode(submit)) || !awaitCimd(cimd2::kSubmitResp, n, deadline, resp)) return false;
        messageId = resp.param(cimd2::kServiceCentreTimeStamp).value_or("");
        return true;
    }
    std::uint32_t seq = nextSequence();
    smpp::Pdu resp;
    if (!send(smpp::submitSm(seq, destination, text)) || !awaitSmpp(smpp::kSubmitSmResp, seq, deadline, resp))
        return false;
    if (resp.header.status != 0) return fail(smpp::statusText(resp.header.status));
    auto id = smpp::messageIdOf(resp);
    if (!id) return fail("Invalid submit_sm_resp from host");
    messageId = *id;
    return true;
}

bool SmppClient::checkMessageStatus(const std::string& messageId, const std::string& destination,
                                    MessageStatus& out) {
    if (!connected()) return fail("Not connected");
    auto deadline = m_clock.now() + m_responseTimeout;
    if (m_settings.protocol == kCimd2) {
        int n = nextPacketNumber();
        cimd2::Packet enquire{cimd2::kEnquireStatus, n,
                              {{cimd2::kDestinationAddress, destination},
                               {cimd2::kServiceCentreTimeStamp, messageId}}};
        cimd2::Packet resp;
        if (!send(cimd2::encode(enquire)) || !awaitCimd(cimd2::kEnquireStatusResp, n, deadline, resp))
            return false;
        int status = 0;
        std::string code = resp.param(cimd2::kStatusCode).value_or("");
        for (char c : code) status = (c >= '0' && c <= '9') ? status * 10 + (c - '0') : -1000;
        out.messageId = messageId;
        out.finalDate = resp.param(cimd2::kServiceCentreTimeStamp).value_or("");
        out.messageState = cimd2::statusToSmppState(status);
        out.messageError = 0;
        return true;
    }
    std::uint32_t seq = nextSequence();
    smpp::Pdu resp;
    if (!send(smpp::querySm(seq, messageId)) || !awaitSmpp(smpp::kQuerySmResp, seq, deadline, resp)) return false;
    if (resp.header.status != 0) return fail(smpp::statusText(resp.header.status));
    auto r = smpp::parseQuerySmResp(resp);
    if (!r) return fail("Invalid query_sm_resp from host");
    out.messageId = r->messageId;
    out.finalDate = r->finalDate;
    out.messageState = r->messageState;
    out.messageError = r->errorCode;
    return true;
}

void SmppClient::disconnect() {
    if (m_bound && streamUp() && !cancelled()) {
        auto deadline = m_clock.now() + kGoodbyeWait;
        std::string keepError = m_error;
        if (m_settings.protocol == kCimd2) {
            int n = nextPacketNumber();
            cimd2::Packet resp;
            if (send(cimd2::encode(cimd2::Packet{cimd2::kLogout, n, {}})))
                awaitCimd(cimd2::kLogoutResp, n, deadline, resp);
        } else {
            std::uint32_t seq = nextSequence();
            smpp::Pdu resp;
            if (send(smpp::unbind(seq))) awaitSmpp(smpp::kUnbindResp, seq, deadline, resp);
        }
        m_error = keepError;  // a silent goodbye does not change how the part went
    }
    m_bound = false;
    closeStream();
    m_in.clear();
}

}  // namespace nv
