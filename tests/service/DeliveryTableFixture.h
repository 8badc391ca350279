#pragma once
// The engine and one scripted peer per provider for the delivery table: a row
// names the primary and secondary provider's method and whether its peer takes
// the page; the fixture writes the records, starts the peers (network servers
// on loopback, serial devices on ptys behind the data directory's COM links),
// sends one page and gathers what the engine did (log lines, counter updates
// on the pipe, the statistics fields of Provider.dat, what each peer saw).
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "protocols/ModemConfig.h"
#include "tests/peers/EncoderPeer.h"
#include "tests/peers/FakeManager.h"
#include "tests/peers/GsmModem.h"
#include "tests/peers/HayesModem.h"
#include "tests/peers/HttpPeer.h"
#include "tests/peers/LoopbackServer.h"
#include "tests/peers/PeerNet.h"
#include "tests/peers/SmppCentre.h"
#include "tests/peers/SmtpPeer.h"
#include "tests/peers/SnppPeer.h"
#include "tests/peers/TapTerminal.h"
#include "tests/peers/TnppPeer.h"
#include "tests/peers/WctpReplies.h"
#include "tests/service/InetEngine.h"

namespace nv::test {

enum class Method { None, EPage, EPageSubject, Snpp, Smpp, Wctp, TapIp, Encoder, Tnpp, Sms, TapModem, TapDirect };

// One provider of a row: its method, and whether its peer takes the page.
struct Carrier {
    Method method = Method::None;
    bool delivers = true;
};

// A provider's peer; only the one its method uses is started.
struct CarrierPeer {
    std::unique_ptr<SnppPeer> snpp;
    std::unique_ptr<SmppCentre> centre;  // before its server: the server's threads use it
    std::unique_ptr<LoopbackServer> smppServer;
    std::unique_ptr<HttpPeer> http;
    std::unique_ptr<TapTerminal> tap;
    std::unique_ptr<PtyPair> pty;  // the far end of a serial device; after what speaks on it
    std::unique_ptr<EncoderPeer> encoder;
    std::unique_ptr<HayesModem> hayes;
    std::unique_ptr<GsmModem> gsm;
    std::unique_ptr<TnppPeer> tnpp;
    std::thread tnppThread;  // takes packets, acknowledging each once the worker logged it
    std::atomic<bool> tnppStop{false};
    std::atomic<int> tnppPackets{0};
    std::uint16_t port = 0;
    // Whoever serves before what it serves.
    void reset() {
        tnppStop.store(true);
        if (tnppThread.joinable()) tnppThread.join();
        tnppStop.store(false);
        tnppPackets.store(0);
        tnpp.reset();
        smppServer.reset();
        centre.reset();
        snpp.reset();
        http.reset();
        tap.reset();
        encoder.reset();
        hayes.reset();
        gsm.reset();
        pty.reset();
        port = 0;
    }
    ~CarrierPeer() { reset(); }
};

// Provider.dat fields beyond the ones InetEngine.h names.
inline constexpr std::size_t kSNPPServer = 429, kSNPPPort = 685, kSNPPSecure = 2543, kTapIpAddr = 2511,
                             kTapIpPort = 2532, kTerminalAccessNum = 36, kLastAccess = 150, kProviderHeader = 57, kProviderSize = 2871;

inline bool isMail(Method m) { return m == Method::EPage || m == Method::EPageSubject; }

// COM<n> in the data directory names the device behind it.
inline void linkComPort(const std::filesystem::path& dataDir, int com, const std::string& device) {
    std::filesystem::remove(dataDir / ("COM" + std::to_string(com)));
    std::filesystem::create_symlink(device, dataDir / ("COM" + std::to_string(com)));
}

class DeliveryTableTest : public InetEngineTest {
protected:
    // What one page did.
    struct Outcome {
        std::vector<std::string> lines;     // Log.Dat without time stamps, peers' ports as "<port>"
        std::vector<std::string> counters;  // "<id>=<value>" as posted to the manager, 14 aside
        std::vector<std::string> intake;    // the intake's updates of counter 14
        std::vector<int> pageCounts;        // PageCount of each provider record
        std::vector<bool> lastAccessSet;    // LastAccess of each provider record no longer zero
        std::vector<int> attempts;          // connections (TAP: logins) each provider's peer saw
        bool otherBytesKept = true;         // Provider.dat unchanged outside those fields
    };

    static TapScript tapScript(const Carrier& c) {
        TapScript script;
        if (!c.delivers) script.blockReplies = {std::string("\x1E\r")};  // RS: block abandoned
        return script;
    }

    // The provider record of `c` named `name`, its peer started.
    ProviderFields startCarrier(const std::string& name, const Carrier& c, CarrierPeer& peer) {
        ProviderFields fields{.name = name};
        switch (c.method) {
        case Method::Snpp: {
            SnppPeer::Script script;
            if (!c.delivers) script.replies["SEND"] = "554 Error, failed";
            peer.snpp = std::make_unique<SnppPeer>(script);
            peer.port = peer.snpp->port();
            fields.type = dtSnpp;
            fields.texts = {{kSNPPServer, "127.0.0.1"}, {kSNPPPort, std::to_string(peer.port)}};
            fields.ints = {{kSNPPSecure, -1}};
            fields.msgLength = 200;
            break;
        }
        case Method::Smpp: {
            peer.centre = std::make_unique<SmppCentre>();
            if (!c.delivers) peer.centre->bindStatus = 0x0E;  // ESME_RINVPASWD
            SmppCentre* centre = peer.centre.get();
            peer.smppServer = std::make_unique<LoopbackServer>([centre](PeerConnection& conn) { centre->serve(conn); });
            peer.port = peer.smppServer->port();
            fields.type = dtSmpp;
            fields.texts = {{kSMPPServer, "127.0.0.1"}, {kSMPPUserName, "u"}, {kSMPPPassword, "pw"}};
            fields.ints = {{kSMPPort, peer.port}, {kSMPPSecureMode, -1}};
            break;
        }
        case Method::Wctp: {
            peer.http = std::make_unique<HttpPeer>();
            peer.http->setReply({200, "OK", c.delivers ? kWctpClientSuccess : kWctpFailure});
            peer.port = peer.http->port();
            fields.type = dtWctp;
            fields.texts = {{kWCTPServer, "http://127.0.0.1:" + std::to_string(peer.port) + "/"}};
            break;
        }
        case Method::TapIp: {
            const TapScript script = tapScript(c);
            peer.tap.reset(new TapTerminal(TapTerminal::onTcp(script)));  // not movable
            peer.port = peer.tap->port();
            fields.type = dtTapOverIp;
            fields.texts = {{kTapIpAddr, "127.0.0.1"}, {kTapIpPort, std::to_string(peer.port)}};
            fields.msgLength = 80;
            break;
        }
        case Method::Sms: {
            GsmModemScript script;
            if (!c.delivers) script.submit = GsmModemScript::Submit::Error;
            peer.gsm = std::make_unique<GsmModem>(script);
            linkComPort(dir.path(), 3, peer.gsm->devicePath());
            fields.type = dtSmsModem;
            break;
        }
        case Method::TapModem: {
            peer.pty = std::make_unique<PtyPair>();
            peer.pty->holdSlave();
            writeFile(dir / "Modems.ini",
                      "[Line0]\r\nName=TestModem\r\nDevice=" + peer.pty->slavePath() + "\r\nInit=ATZ\r\n");
            ModemSettings ms;
            ms.dataBits = 8;
            ms.parity = 'N';
            writeModemConfigFile(dir / "system.mcf", ms);
            peer.hayes = std::make_unique<HayesModem>(peer.pty->master(), HayesScript{.errorOn = {}, .tap = tapScript(c)});
            fields.type = dtTapModem;
            fields.texts = {{kTerminalAccessNum, "5551000"}};
            break;
        }
        case Method::TapDirect:
            peer.pty = std::make_unique<PtyPair>();
            peer.pty->holdSlave();
            linkComPort(dir.path(), 3, peer.pty->slavePath());
            peer.tap.reset(new TapTerminal(TapTerminal::onFd(peer.pty->master(), tapScript(c))));
            fields.type = dtTapDirect;
            break;
        default: break;
        }
        if (peer.port) m_ports.push_back(std::to_string(peer.port));
        return fields;
    }

    // Config.Dat: the SMTP server when a provider mails, the GSM modem on
    // COM3 for SMS, the TNPP link on COM1 when it is to take the page.
    std::string configFor(const Carrier& primary, const Carrier& secondary) {
        std::string cfg;
        const Carrier* mail = isMail(primary.method) ? &primary : isMail(secondary.method) ? &secondary : nullptr;
        m_mailSlot = isMail(primary.method) ? 0 : 1;
        if (mail) {
            SmtpPeerOptions o;
            if (!mail->delivers)
                o.rcptReplies = {{"5551234@example.com", "550 5.1.1 No such user"},
                                 {"ops@example.com", "550 5.1.1 No such user"}};
            m_smtp = std::make_unique<SmtpPeer>(o);
            m_ports.push_back(std::to_string(m_smtp->port()));
            cfg += "[SMTP]\r\nEnabled=1\r\nServer=127.0.0.1\r\nPort=" + std::to_string(m_smtp->port()) +
                   "\r\nSender=gateway@example.net\r\n";
        }
        if (primary.method == Method::Sms || secondary.method == Method::Sms)
            cfg += "[SMS]\r\nEnabled=1\r\nComPort=2\r\n";
        // A link that is not up takes no page: TNPP that is switched off.
        if (primary.method == Method::Tnpp)
            cfg += std::string("[TNPP]\r\nEnableTNPP=") + (primary.delivers ? "1" : "0") +
                   "\r\nUseCom=0\r\nDestAddr=1\r\nSourceAddr=2\r\nTransparentCRC=1\r\n";
        return cfg;
    }

    // Route, records and Config.Dat for `primary` and `secondary`, their peers
    // started; the engine with one port thread when `ports`.
    void setUpRow(const Carrier& primary, const Carrier& secondary, bool ports) {
        m_ports.clear();
        m_peers[0].reset();
        m_peers[1].reset();
        m_smtp.reset();
        config(configFor(primary, secondary));
        std::vector<ProviderFields> providerList;
        RouteFixture r{.name = "Default", .npanxx = "0000000000"};
        const Carrier* slots[2] = {&primary, &secondary};
        for (int i = 0; i < 2; ++i) {
            const Carrier& c = *slots[i];
            std::string& name = i == 0 ? r.provider : r.secProvider;
            std::string& eddr = i == 0 ? r.eddr : r.secEddr;
            if (c.method == Method::None) {
                name = "NONE";
            } else if (isMail(c.method)) {
                name = "E-Page";
                const bool subject = c.method == Method::EPageSubject;
                eddr = subject ? "ops@example.com" : "@example.com";
                if (subject) r.placePinInSubPri = true;
            } else if (c.method == Method::Encoder || c.method == Method::Tnpp) {
                name = c.method == Method::Encoder ? "Brevicor" : "TNPP";  // built in, no record
            } else {
                name = i == 0 ? "Carrier1" : "Carrier2";
                providerList.push_back(startCarrier(name, c, m_peers[i]));
            }
        }
        writeFile(dir / "NpaNxxRoute.dat", routeFile({r}));
        providers(providerList);
        m_providerFile = readFile(dir / "Provider.dat");
        startEngine(primary, secondary, ports);
    }

    // The engine; started (devices and port threads) when the row needs it.
    void startEngine(const Carrier& primary, const Carrier& secondary, bool ports) {
        m_manager.reset();
        m_manager = std::make_unique<FakeManager>(dir / "PelmoraConfig");
        std::filesystem::remove(dir / "Log.Dat");
        std::filesystem::remove(dir / "Ports.dat");
        EngineOptions o = inProcessOptions(dir.path(), clock, 10000ms);
        o.pagerClock = &m_pagerClock;
        o.smsPause = 0ms;
        o.smpp.connectWait = 2000ms;
        o.smpp.responseWait = 3000ms;
        o.smpp.partPause = o.smpp.inPartPause = 1ms;
        o.inetPaging.httpTimeout = 3000ms;
        o.inetPaging.partPause = 1ms;
        o.outbound = fastOutboundTiming();
        engine = std::make_unique<TNerivaleSvcMain>(loop, o);
        m_encoder = primary.method == Method::Encoder;
        if (m_encoder) {
            // The encoder port on COM7, opened here rather than from Config.Dat.
            CarrierPeer& peer = m_peers[0];
            peer.pty = std::make_unique<PtyPair>();
            peer.pty->holdSlave();
            linkComPort(dir.path(), 7, peer.pty->slavePath());
            peer.encoder = std::make_unique<EncoderPeer>(*peer.pty);
            peer.encoder->script({primary.delivers ? EncoderPeer::ack() : EncoderPeer::refused("03")});
            engine->SendBrevicor.SetDataDir(dir.path());
            engine->SendBrevicor.SetComPort(pnCOM7);
            EXPECT_TRUE(engine->SendBrevicor.Connect()) << engine->SendBrevicor.LastError();
        }
        const bool tnppLink = primary.method == Method::Tnpp && primary.delivers;
        if (tnppLink) {
            m_peers[0].pty = std::make_unique<PtyPair>();
            linkComPort(dir.path(), 1, m_peers[0].pty->slavePath());
        }
        const bool sms = primary.method == Method::Sms || secondary.method == Method::Sms;
        m_started = ports || sms || primary.method == Method::Tnpp;
        m_startLines.clear();
        if (!m_started) return;
        if (ports) {
            PortFixture port{.name = "Modem1"};
            if (primary.method == Method::TapModem) port.modem = "TestModem";
            if (primary.method == Method::TapDirect)
                port = {.name = "Direct3", .direct = true, .directGroup = "carrier1", .comPort = 2, .comData = 1};
            writeFile(dir / "Ports.dat", portFile({port}));
            m_startLines.push_back("[System] " + port.name + " Active, Ready To Send Pages");
        }
        engine->StartServer();
        m_startLines.push_back("[System] All Services Active!");
        m_startLines.push_back("[Nerivale Connection] No Port Information Specified For Nerivale Port");
        if (sms) m_startLines.push_back("[SMS Status] SMS Gateway On-Line");
        if (tnppLink) startTnppPeer(m_peers[0]);
    }

    // The far end of the TNPP link: brings it up, then takes each packet and
    // acknowledges it once the worker's line for it is in the log, so the
    // link's own lines come after it.
    void startTnppPeer(CarrierPeer& peer) {
        peer.tnpp = std::make_unique<TnppPeer>(*peer.pty, true, 200ms);
        EXPECT_FALSE(peer.tnpp->bringUp().empty());
        m_startLines.push_back("[System] TNPP Services Active!");
        peer.tnppThread = std::thread([&peer, watch = LogWatch(dir.path())] {
            while (!peer.tnppStop.load()) {
                if (peer.tnpp->readPacket().empty()) continue;
                peer.tnppPackets.fetch_add(1);
                while (!peer.tnppStop.load() && watch.starting("[TNPP Delivery").empty())
                    std::this_thread::sleep_for(5ms);
                peer.tnpp->send(TnppPeer::ACK);
            }
        });
    }

    // Sends one page, waits for the `n`-th `lastLine` and for `counterUpdates`
    // counter updates, and gathers the outcome. Only what follows the page's
    // intake counts: the engine's start-up lines and updates come before it.
    Outcome runPage(const std::string& lastLine, std::size_t n, std::size_t counterUpdates) {
        // The start's lines (the inbound port's and the devices' come from
        // threads of their own); the pipe keeps the engine's order, so once
        // they arrived there, so did the start's counter updates.
        for (const std::string& text : m_startLines) {
            log.waitFor(text, 1, 10s);
            settle();
            m_manager->waitFor([&text](const std::string& m) { return m.find(text) != std::string::npos; }, 5s);
        }
        const std::size_t countersBefore = counterMessages().size();
        const std::size_t linesBefore = logTexts().size();
        page("5551234", "hi");
        log.waitForLine(lastLine, n, 30s);
        log.waitUntil([&] { return counterMessages().size() >= countersBefore + counterUpdates + 1; }, 5000ms);
        settle();
        Outcome out;
        const auto counters = counterMessages();
        // The intake counts the page (14) once it handed it on, at a moment of
        // its own relative to the worker's updates: counted apart.
        for (auto it = counters.begin() + static_cast<std::ptrdiff_t>(countersBefore); it != counters.end(); ++it)
            (it->rfind("14=", 0) == 0 ? out.intake : out.counters).push_back(*it);
        for (int i = 0; i < 2; ++i) out.attempts.push_back(attemptsOf(i));
        const auto all = logTexts();
        for (std::size_t i = linesBefore; i < all.size(); ++i) {
            std::string line = all[i];
            // The TNPP link thread announces a packet as it takes it from the
            // link's queue, at a moment of its own relative to the worker's line.
            if (line.rfind("[TNPP] Sending Packet: ", 0) == 0) continue;
            for (const auto& port : m_ports) {
                const std::string hostPort = "127.0.0.1:" + port;
                for (auto at = line.find(hostPort); at != std::string::npos; at = line.find(hostPort, at))
                    line.replace(at, hostPort.size(), "127.0.0.1:<port>");
            }
            out.lines.push_back(line);
        }
        if (m_encoder) engine->SendBrevicor.Disconnect();
        if (m_started) engine->StopServer();
        readStatistics(out);
        engine.reset();
        m_manager.reset();
        return out;
    }

    // The statistics fields of each provider record, and whether every other
    // byte of Provider.dat is as written before the page.
    void readStatistics(Outcome& out) const {
        const std::string file = readFile(dir / "Provider.dat");
        std::string masked = file, original = m_providerFile;
        for (std::size_t rec = 0; kProviderHeader + (rec + 1) * kProviderSize <= file.size(); ++rec) {
            out.pageCounts.push_back(providerInt(file, rec, kPageCount));
            double last = 0;
            std::memcpy(&last, &file[kProviderHeader + rec * kProviderSize + kLastAccess], 8);
            out.lastAccessSet.push_back(last != 0.0);
            const std::size_t at = kProviderHeader + rec * kProviderSize + kPageCount;
            masked.replace(at, 12, 12, '\0');
            if (original.size() >= at + 12) original.replace(at, 12, 12, '\0');
        }
        out.otherBytesKept = masked == original;
    }

    int attemptsOf(int slot) const {
        const CarrierPeer& p = m_peers[slot];
        if (p.snpp) return p.snpp->connections();
        if (p.smppServer) return p.smppServer->acceptedCount();
        if (p.http) return static_cast<int>(p.http->requests().size());
        if (p.tap) return p.tap->loginsSeen();
        if (m_smtp && m_mailSlot == slot) return m_smtp->connections();
        if (p.encoder) return static_cast<int>(p.encoder->frames().size());
        if (p.gsm) return static_cast<int>(p.gsm->bodies().size());
        if (p.tnpp) return p.tnppPackets.load();
        if (p.hayes) {
            const auto cmds = p.hayes->commands();
            return static_cast<int>(std::count_if(cmds.begin(), cmds.end(),
                                                  [](const std::string& c) { return c.rfind("ATD", 0) == 0; }));
        }
        return 0;
    }

    // The manager's counter updates as "<id>=<value>", in order.
    std::vector<std::string> counterMessages() const {
        std::vector<std::string> out;
        const std::string head = "cmd=cntrupd\r\ncounter=";
        for (const auto& m : m_manager->messages()) {
            if (m.rfind(head, 0) != 0) continue;
            const auto sep = m.find("\r\nvalue=", head.size());
            out.push_back(m.substr(head.size(), sep - head.size()) + "=" + m.substr(sep + 8));
        }
        return out;
    }

    CarrierPeer m_peers[2];
    std::unique_ptr<SmtpPeer> m_smtp;
    std::unique_ptr<FakeManager> m_manager;
    std::vector<std::string> m_ports;
    std::string m_providerFile;
    bool m_started = false;  // devices and port threads
    bool m_encoder = false;
    std::vector<std::string> m_startLines;
    int m_mailSlot = -1;
    ScaledClock m_pagerClock{20};  // the TAP pager's waits
};

}  // namespace nv::test
