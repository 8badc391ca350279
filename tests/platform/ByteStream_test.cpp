// One conformance table for every ByteStream: the TCP stream, the serial port,
// the modem call's stream, the serial component's received bytes and the
// scripted stream the dialogue tests use.
#include "platform/ByteStream.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>
#include <memory>

#include "platform/KORCom32.h"
#include "platform/ModemLine.h"
#include "platform/SerialPort.h"
#include "platform/TcpStream.h"
#include "tests/peers/ScriptedByteStream.h"
#include "tests/peers/TestSupport.h"

namespace nv::test {
namespace {

using namespace std::chrono_literals;

// A stream under test and its far end.
struct Rig {
    virtual ~Rig() = default;
    virtual ByteStream& stream() = 0;
    virtual void peerSend(const std::string& bytes) = 0;
    virtual std::string peerRecv(std::size_t n) = 0;
    // The far end goes away (hang-up, close, line drop).
    virtual void peerEnd() = 0;
};

class TcpRig final : public Rig {
public:
    TcpRig() {
        m_listen = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        ::bind(m_listen, reinterpret_cast<sockaddr*>(&a), len);
        ::listen(m_listen, 1);
        ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&a), &len);
        EXPECT_TRUE(m_tcp.connect("127.0.0.1", ntohs(a.sin_port))) << m_tcp.lastError();
        m_peer = ::accept(m_listen, nullptr, nullptr);
    }
    ~TcpRig() override {
        m_tcp.close();
        if (m_peer >= 0) ::close(m_peer);
        ::close(m_listen);
    }
    ByteStream& stream() override { return m_bytes; }
    void peerSend(const std::string& b) override { ASSERT_EQ(::send(m_peer, b.data(), b.size(), 0), ssize_t(b.size())); }
    std::string peerRecv(std::size_t n) override {
        std::string out(n, '\0');
        std::size_t got = 0;
        while (got < n) {
            ssize_t r = ::recv(m_peer, out.data() + got, n - got, 0);
            if (r <= 0) break;
            got += static_cast<std::size_t>(r);
        }
        out.resize(got);
        return out;
    }
    void peerEnd() override {
        ::close(m_peer);
        m_peer = -1;
    }

private:
    int m_listen = -1;
    int m_peer = -1;
    TcpStream m_tcp;
    TcpByteStream m_bytes{m_tcp};
};

class SerialRig final : public Rig {
public:
    SerialRig() { EXPECT_TRUE(m_port.open(m_pty.slavePath())); }
    ByteStream& stream() override { return m_bytes; }
    void peerSend(const std::string& b) override { m_pty.write(b); }
    std::string peerRecv(std::size_t n) override { return m_pty.read(n, 5s); }
    // A direct line has no carrier: it ends when the port is closed.
    void peerEnd() override { m_port.close(); }

private:
    PtyPair m_pty;
    SerialPort m_port;
    SerialByteStream m_bytes{m_port};
};

// A call connected without dialling: the modem line's stream over a pty.
class ModemRig final : public Rig {
public:
    ModemRig() : m_line(list(), m_clock) {
        ModemSettings raw;
        raw.dataBits = 8;
        raw.parity = 'N';
        m_line.setDevConfig(raw);
        EXPECT_EQ(m_line.open(1), 0);
        m_line.makeCall("", true);
        EXPECT_NE(m_line.stream(), nullptr);
    }
    ByteStream& stream() override { return *m_line.stream(); }
    void peerSend(const std::string& b) override { m_pty.write(b); }
    std::string peerRecv(std::size_t n) override { return m_pty.read(n, 5s); }
    void peerEnd() override { m_pty.write("\r\nNO CARRIER\r\n"); }

private:
    ModemList list() {
        ModemList l;
        l.add(ModemEntry{1, "Pty", m_pty.slavePath(), {}, false});
        return l;
    }
    PtyPair m_pty;
    ManualClock m_clock;
    ModemLine m_line;
};

// The serial component on COM1 of a temporary data directory, a pty.
class Com32Rig final : public Rig {
public:
    Com32Rig() {
        std::filesystem::create_symlink(m_pty.slavePath(), m_dir / "COM1");
        m_com.SetComPort(pnCOM1);
        EXPECT_TRUE(m_com.Connect()) << m_com.LastError();
    }
    ByteStream& stream() override { return m_bytes; }
    void peerSend(const std::string& b) override { m_pty.write(b); }
    std::string peerRecv(std::size_t n) override { return m_pty.read(n, 5s); }
    void peerEnd() override { m_com.Disconnect(); }

private:
    PtyPair m_pty;
    TempDir m_dir;
    TKORCom32 m_com{m_dir.path()};
    Com32ByteStream m_bytes{m_com};
};

class ScriptedRig final : public Rig {
public:
    ByteStream& stream() override { return m_stream; }
    void peerSend(const std::string& b) override { m_stream.deliver(b); }
    std::string peerRecv(std::size_t n) override {
        std::string w = m_stream.written();
        std::string out = w.substr(m_taken, n);
        m_taken += out.size();
        return out;
    }
    void peerEnd() override { m_stream.close(); }

private:
    ScriptedByteStream m_stream;
    std::size_t m_taken = 0;
};

struct Impl {
    const char* name;
    std::function<std::unique_ptr<Rig>()> make;
};

class ByteStreamConformance : public ::testing::TestWithParam<Impl> {
protected:
    void SetUp() override { m_rig = GetParam().make(); }
    // Reads until `n` bytes came or a wait found nothing for two seconds.
    std::string readUpTo(std::size_t n) {
        std::string got;
        while (got.size() < n && m_rig->stream().waitReadable(2s)) {
            std::string part = m_rig->stream().readAvailable(n - got.size());
            if (part.empty()) break;
            got += part;
        }
        return got;
    }
    std::unique_ptr<Rig> m_rig;
};

TEST_P(ByteStreamConformance, CarriesBytesBothWaysNulIncluded) {
    ByteStream& s = m_rig->stream();
    EXPECT_TRUE(s.up());
    const std::string in("ID=\0\x1b\xff", 6);
    m_rig->peerSend(in);
    EXPECT_EQ(readUpTo(in.size()), in);
    const std::string out("\x02PG1\0\x03\r", 7);
    ASSERT_TRUE(s.writeAll(out, 2s));
    EXPECT_EQ(m_rig->peerRecv(out.size()), out);
    EXPECT_TRUE(s.writeAll("", 1s));
}

TEST_P(ByteStreamConformance, ReadNeverBlocksAndHonoursTheLimit) {
    ByteStream& s = m_rig->stream();
    EXPECT_EQ(s.readAvailable(100), "");
    EXPECT_FALSE(s.waitReadable(20ms));
    m_rig->peerSend("0123456789");
    ASSERT_TRUE(s.waitReadable(2s));
    std::string first = s.readAvailable(4);
    EXPECT_LE(first.size(), 4u);
    EXPECT_EQ(first + readUpTo(10 - first.size()), "0123456789");
}

TEST_P(ByteStreamConformance, GoesDownWhenTheFarEndEnds) {
    ByteStream& s = m_rig->stream();
    m_rig->peerEnd();
    // The end is seen by the reads that follow it.
    for (int i = 0; i < 200 && s.up(); ++i) {
        s.waitReadable(10ms);
        s.readAvailable(100);
    }
    EXPECT_FALSE(s.up());
    EXPECT_FALSE(s.writeAll("late", 200ms));
}

INSTANTIATE_TEST_SUITE_P(
    Streams, ByteStreamConformance,
    ::testing::Values(Impl{"Tcp", [] { return std::unique_ptr<Rig>(new TcpRig); }},
                      Impl{"Serial", [] { return std::unique_ptr<Rig>(new SerialRig); }},
                      Impl{"ModemCall", [] { return std::unique_ptr<Rig>(new ModemRig); }},
                      Impl{"SerialComponent", [] { return std::unique_ptr<Rig>(new Com32Rig); }},
                      Impl{"Scripted", [] { return std::unique_ptr<Rig>(new ScriptedRig); }}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace nv::test
