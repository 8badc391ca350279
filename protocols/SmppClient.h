#pragma once
// A short-message-centre client for one connection: connect and bind (SMPP 3.4
// bind_transmitter, or CIMD2 login), submit, query a message's status, unbind
// or log out. SmppSession opens one per part. It reads and writes only through
// a ByteStream: its own TCP (or TLS) stream, or one already open (attach: a
// scripted centre in tests and fuzz targets).
//
// Threads: one thread drives a client; the cancel flag it is given may be set
// by any thread and ends every wait at its next slice.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "foundation/Clock.h"
#include "platform/ByteStream.h"
#include "platform/TcpStream.h"
#include "protocols/Cimd2Packet.h"
#include "protocols/SmppPdu.h"

namespace nv {

class SmppClient {
public:
    enum Protocol { kSmpp = 0, kCimd2 = 1 };

    struct Settings {
        std::string server;
        std::uint16_t port = 2775;
        std::string userId;
        std::string password;
        int protocol = kSmpp;
        std::string systemType = "PRI";
        TlsOptions tls;
    };

    // The state of a message as a status query reports it (SMPP message states;
    // CIMD2 statuses are mapped onto them).
    struct MessageStatus {
        std::string messageId;
        std::string finalDate;
        int messageState = 0;
        int messageError = 0;
    };

    explicit SmppClient(Settings settings, Clock& clock = steadyClock());
    ~SmppClient();
    SmppClient(const SmppClient&) = delete;
    SmppClient& operator=(const SmppClient&) = delete;

    void setCancelFlag(const std::atomic<bool>* cancel) {
        m_cancel = [cancel] { return cancel && cancel->load(); };
    }
    void setCancelTest(std::function<bool()> cancelled) { m_cancel = std::move(cancelled); }
    void setResponseTimeout(std::chrono::milliseconds t) { m_responseTimeout = t; }

    // TCP (and TLS) connect plus the bind or login, all within `timeout`.
    bool connect(std::chrono::milliseconds timeout);
    // The bind or login on a stream that is already open, within `timeout`. The
    // stream stays the caller's and must outlive the client's use of it.
    bool attach(ByteStream& stream, std::chrono::milliseconds timeout);
    bool connected() const;
    // Submits `text` to `destination`; the centre's id for it in `messageId`.
    bool sendMessage(const std::string& destination, const std::string& text, std::string& messageId);
    // CIMD2 identifies a message by destination and time stamp; SMPP by id alone.
    bool checkMessageStatus(const std::string& messageId, const std::string& destination,
                            MessageStatus& out);
    // Unbind or log out with a brief wait for the answer, then close. Safe to repeat.
    void disconnect();

    const std::string& lastError() const { return m_error; }

private:
    bool cancelled() const { return m_cancel && m_cancel(); }
    bool fail(std::string text);
    bool bind(Clock::TimePoint deadline);
    bool streamUp() const { return m_stream && m_stream->up(); }
    // Ends the use of the stream (and closes the TCP stream when it is ours).
    void closeStream();
    bool awaitSmpp(std::uint32_t respId, std::uint32_t sequence, Clock::TimePoint deadline, smpp::Pdu& out);
    bool awaitCimd(int respOp, int number, Clock::TimePoint deadline, cimd2::Packet& out);
    bool readSome(Clock::TimePoint deadline);
    bool send(const std::string& bytes);
    std::uint32_t nextSequence();
    int nextPacketNumber();

    Settings m_settings;
    Clock& m_clock;
    TcpStream m_tcp;
    TcpByteStream m_tcpBytes{m_tcp};
    ByteStream* m_stream = nullptr;  // m_tcpBytes or an attached stream; null when closed
    bool m_attached = false;
    std::string m_in;
    std::string m_error;
    std::function<bool()> m_cancel;
    std::chrono::milliseconds m_responseTimeout{25000};
    std::uint32_t m_sequence = 0;
    int m_packetNumber = -1;
    bool m_bound = false;
};

}  // namespace nv
