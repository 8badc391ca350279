#pragma once
// The engine and one scripted peer per provider for the delivery table: a row
// names the primary and secondary provider's method and whether its peer takes
// the page; the fixture writes the records, starts the peers, sends one page
// and gathers what the engine did (log lines, counter updates on the pipe,
// the statistics fields of Provider.dat).
#include <gtest/gtest.h>

#include <optional>

#include "tests/peers/FakeManager.h"
#include "tests/peers/HttpPeer.h"
#include "tests/peers/LoopbackServer.h"
#include "tests/peers/PeerNet.h"
#include "tests/peers/SmppCentre.h"
#include "tests/peers/SmtpPeer.h"
#include "tests/peers/SnppPeer.h"
#include "tests/peers/TapTerminal.h"
#include "tests/peers/WctpReplies.h"
#include "tests/service/InetEngine.h"

namespace nv::test {

enum class Method { None, EPage, EPageSubject, Snpp, Smpp, Wctp, TapIp };

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
    std::uint16_t port = 0;
    // The server before what it serves.
    void reset() {
        smppServer.reset();
        centre.reset();
        snpp.reset();
        http.reset();
        tap.reset();
        port = 0;
    }
};

// Provider.dat fields beyond the ones InetEngine.h names.
inline constexpr std::size_t kSNPPServer = 429, kSNPPPort = 685, kSNPPSecure = 2543, kTapIpAddr = 2511,
                             kTapIpPort = 2532, kLastAccess = 150, kProviderHeader = 57, kProviderSize = 2871;

inline bool isMail(Method m) { return m == Method::EPage || m == Method::EPageSubject; }

class DeliveryTableTest : public InetEngineTest {
protected:
    // What one page did.
    struct Outcome {
        std::vector<std::string> lines;     // Log.Dat without time stamps, peers' ports as "<port>"
        std::vector<std::string> counters;  // "<id>=<value>" as posted to the manager
        std::vector<int> pageCounts;        // PageCount of each provider record
        std::vector<bool> lastAccessSet;    // LastAccess of each provider record no longer zero
        std::vector<int> attempts;          // connections (TAP: logins) each provider's peer saw
        bool otherBytesKept = true;         // Provider.dat unchanged outside those fields
    };

    // The provider record of `c` named `name`, its peer started.
    ProviderSpec startCarrier(const std::string& name, const Carrier& c, CarrierPeer& peer) {
        ProviderSpec spec{.name = name};
        switch (c.method) {
        case Method::Snpp: {
            SnppPeer::Script script;
            if (!c.delivers) script.replies["SEND"] = "554 Error, failed";
            peer.snpp = std::make_unique<SnppPeer>(script);
            peer.port = peer.snpp->port();
            spec.type = dtSnpp;
            spec.texts = {{kSNPPServer, "127.0.0.1"}, {kSNPPPort, std::to_string(peer.port)}};
            spec.ints = {{kSNPPSecure, -1}};
            spec.msgLength = 200;
            break;
        }
        case Method::Smpp: {
            peer.centre = std::make_unique<SmppCentre>();
            if (!c.delivers) peer.centre->bindStatus = 0x0E;  // ESME_RINVPASWD
            SmppCentre* centre = peer.centre.get();
            peer.smppServer = std::make_unique<LoopbackServer>([centre](PeerConnection& conn) { centre->serve(conn); });
            peer.port = peer.smppServer->port();
            spec.type = dtSmpp;
            spec.texts = {{kSMPPServer, "127.0.0.1"}, {kSMPPUserName, "u"}, {kSMPPPassword, "pw"}};
            spec.ints = {{kSMPPort, peer.port}, {kSMPPSecureMode, -1}};
            break;
        }
        case Method::Wctp: {
            peer.http = std::make_unique<HttpPeer>();
            peer.http->setReply({200, "OK", c.delivers ? kWctpClientSuccess : kWctpFailure});
            peer.port = peer.http->port();
            spec.type = dtWctp;
            spec.texts = {{kWCTPServer, "http://127.0.0.1:" + std::to_string(peer.port) + "/"}};
            break;
        }
        case Method::TapIp: {
            TapScript script;
            if (!c.delivers) script.blockReplies = {std::string("\x1E\r")};  // RS: block abandoned
            peer.tap.reset(new TapTerminal(TapTerminal::onTcp(script)));  // not movable
            peer.port = peer.tap->port();
            spec.type = dtTapOverIp;
            spec.texts = {{kTapIpAddr, "127.0.0.1"}, {kTapIpPort, std::to_string(peer.port)}};
            spec.msgLength = 80;
            break;
        }
        default: break;
        }
        if (peer.port) m_ports.push_back(std::to_string(peer.port));
        return spec;
    }

    // Route, records and Config.Dat for `primary` and `secondary`, their peers
    // started; the engine with one port thread when `ports`.
    void setUpRow(const Carrier& primary, const Carrier& secondary, bool ports) {
        m_ports.clear();
        m_peers[0].reset();
        m_peers[1].reset();
        m_smtp.reset();
        const Carrier* mail = isMail(primary.method) ? &primary : isMail(secondary.method) ? &secondary : nullptr;
        m_mailSlot = isMail(primary.method) ? 0 : 1;
        std::string cfg;
        if (mail) {
            SmtpPeerOptions o;
            if (!mail->delivers) o.rcptReplies = {{"5551234@example.com", "550 5.1.1 No such user"},
                                                  {"ops@example.com", "550 5.1.1 No such user"}};
            m_smtp = std::make_unique<SmtpPeer>(o);
            m_ports.push_back(std::to_string(m_smtp->port()));
            cfg = "[SMTP]\r\nEnabled=1\r\nServer=127.0.0.1\r\nPort=" + std::to_string(m_smtp->port()) +
                  "\r\nSender=gateway@example.net\r\n";
        }
        config(cfg);
        std::vector<ProviderSpec> specs;
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
            } else {
                name = i == 0 ? "Carrier1" : "Carrier2";
                specs.push_back(startCarrier(name, c, m_peers[i]));
            }
        }
        writeFile(dir / "NpaNxxRoute.dat", routeFile({r}));
        providers(specs);
        m_providerFile = readFile(dir / "Provider.dat");
        engine.reset();
        manager.reset();
        manager = std::make_unique<FakeManager>(dir / "PelmoraConfig");
        m_portThreads = ports;
        std::filesystem::remove(dir / "Log.Dat");
        EngineOptions o = inProcessOptions(dir.path(), clock, 10000ms);
        o.pagerClock = &m_pagerClock;
        o.smpp.connectWait = 2000ms;
        o.smpp.responseWait = 3000ms;
        o.smpp.partPause = o.smpp.inPartPause = 1ms;
        o.inetPaging.httpTimeout = 3000ms;
        o.inetPaging.partPause = 1ms;
        o.outbound = fastOutboundTiming();
        engine = std::make_unique<TNerivaleSvcMain>(loop, o);
        if (ports) {
            writeFile(dir / "Ports.dat", portFile({{.name = "Modem1"}}));
            engine->StartServer();
        }
    }

    // Sends one page, waits for the `n`-th `lastLine` and for `counterUpdates`
    // counter updates, and gathers the outcome. Only what follows the page's
    // intake counts: the engine's start-up lines and updates come before it.
    Outcome runPage(const std::string& lastLine, std::size_t n, std::size_t counterUpdates) {
        if (m_portThreads) {
            // The start's last lines (the inbound port's comes from its own
            // thread); the pipe keeps the engine's order, so once both arrived
            // there, so did the start's counter updates.
            for (const char* text : {"[System] All Services Active!",
                                     "[Nerivale Connection] No Port Information Specified For Nerivale Port"}) {
                log.waitForLine(text, 1, 10s);
                settle();
                manager->waitFor([text](const std::string& m) { return m.find(text) != std::string::npos; }, 5s);
            }
        }
        const std::size_t countersBefore = counterMessages().size();
        const std::size_t linesBefore = logTexts().size();
        page("5551234", "hi");
        log.waitForLine(lastLine, n, 30s);
        log.waitUntil([&] { return counterMessages().size() >= countersBefore + counterUpdates; }, 5000ms);
        settle();
        Outcome out;
        const auto counters = counterMessages();
        out.counters.assign(counters.begin() + static_cast<std::ptrdiff_t>(countersBefore), counters.end());
        for (int i = 0; i < 2; ++i) out.attempts.push_back(attemptsOf(i));
        const auto all = logTexts();
        for (std::size_t i = linesBefore; i < all.size(); ++i) {
            std::string line = all[i];
            for (const auto& port : m_ports)
                for (auto at = line.find(port); at != std::string::npos; at = line.find(port, at))
                    line.replace(at, port.size(), "<port>");
            out.lines.push_back(line);
        }
        if (m_portThreads) engine->StopServer();
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
        engine.reset();
        manager.reset();
        return out;
    }

    int attemptsOf(int slot) const {
        const CarrierPeer& p = m_peers[slot];
        if (p.snpp) return p.snpp->connections();
        if (p.smppServer) return p.smppServer->acceptedCount();
        if (p.http) return static_cast<int>(p.http->requests().size());
        if (p.tap) return p.tap->loginsSeen();
        if (m_smtp && m_mailSlot == slot) return m_smtp->connections();
        return 0;
    }

    // The manager's counter updates as "<id>=<value>", in order.
    std::vector<std::string> counterMessages() const {
        std::vector<std::string> out;
        const std::string head = "cmd=cntrupd\r\ncounter=";
        for (const auto& m : manager->messages()) {
            if (m.rfind(head, 0) != 0) continue;
            const auto sep = m.find("\r\nvalue=", head.size());
            out.push_back(m.substr(head.size(), sep - head.size()) + "=" + m.substr(sep + 8));
        }
        return out;
    }

    CarrierPeer m_peers[2];
    std::unique_ptr<SmtpPeer> m_smtp;
    std::unique_ptr<FakeManager> manager;
    std::vector<std::string> m_ports;
    std::string m_providerFile;
    bool m_portThreads = false;
    int m_mailSlot = -1;
    ScaledClock m_pagerClock{20};  // the TAP pager's waits
};

}  // namespace nv::test
