#include "protocols/SnppSession.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "tests/peers/LoopbackServer.h"
#include "tests/peers/NetSnppServer.h"
#include "tests/peers/ScriptedByteStream.h"
#include "tests/peers/SnppPeer.h"
#include "tests/peers/TestSupport.h"

namespace nv {
namespace {

using namespace std::chrono_literals;
using Lines = std::vector<std::string>;

// The sender against a scripted server, its log and its pauses recorded.
struct SnppRun {
    std::mutex mutex;
    Lines log;
    std::vector<long> pauses;
    std::atomic<bool> cancel{false};
    std::function<void(const std::string&)> onLog;

    // The session as SendSNPPPage drives it: the id in and out, the reply out.
    struct Sender {
        SnppRun& run;
        bool send(SnppRequest page, std::string& id, std::string& reply) {
            page.messageId = id;
            page.timing.connectWait = 400ms;
            page.timing.replyWait = 3000ms;
            page.timing.quitWait = 1000ms;
            page.log = [this](const std::string& line) {
                {
                    std::lock_guard lock(run.mutex);
                    run.log.push_back(line);
                }
                if (run.onLog) run.onLog(line);
            };
            page.cancelled = [this] { return run.cancel.load(); };
            SnppSession session;
            session.setPause([this](std::chrono::milliseconds d) {
                std::lock_guard lock(run.mutex);
                run.pauses.push_back(static_cast<long>(d.count()));
            });
            SnppResult r = session.send(page);
            id = r.messageId;
            reply = r.reply;
            return r.delivered;
        }
    };
    Sender sender() { return Sender{*this}; }
    Lines connectionLines() {
        Lines out;
        for (const auto& l : log)
            if (l.rfind("[SNPP Connection] ", 0) == 0 && l != "[SNPP Connection] Searching For SNPP Host..." &&
                l.rfind("[SNPP Connection] Connected To", 0) != 0 && l.rfind("[SNPP Connection] Sending Block", 0) != 0)
                out.push_back(l);
        return out;
    }
};

SnppRequest pageFor(std::uint16_t port, std::string message) {
    SnppRequest p;
    p.server = "127.0.0.1";
    p.port = std::to_string(port);
    p.PIN = "5551234";
    p.message = std::move(message);
    p.partLength = static_cast<int>(p.message.size()) + 1;  // as the page worker passes it
    return p;
}

TEST(SnppSplit, PartsMarksAndWindows) {
    std::string words;  // "w000 w001 ..." : 5 characters a word
    for (int i = 0; i < 60; ++i) words += "w" + std::string(i < 10 ? "00" : "0") + std::to_string(i) + " ";
    words.pop_back();  // 299 characters
    struct Case {
        const char* name;
        std::string message;
        int partLength;
        Lines parts;
        std::string lastCut;
    } cases[] = {
        {"fits: no mark", "hello", 6, {"hello"}, ""},
        {"fits exactly", "hello", 5, {"hello"}, ""},
        {"0 means no cutting", "hello world", 0, {"hello world"}, ""},
        {"negative means no cutting", "hello world", -5, {"hello world"}, ""},
        {"cut at the last blank in the window, the blank kept", "aaa bbb ccc dd eeee ffff gg", 24,
         {"aaa   (CONT.)", "bbb ccc dd eeee ffff gg (END)"}, "aaa "},
        {"no blank: hard cut at the window", "abcdefghijklmnopqrstuvwxyz", 23,
         {"abc  (CONT.)", "defghijklmnopqrstuvwxyz (END)"}, "abc"},
        {"part length 20 or less: a window of one", "abc", 2, {"a  (CONT.)", "bc (END)"}, "a"},
        {"at most 20 parts, the rest dropped", std::string(30, 'x'), 1,
         Lines(20, "x  (CONT.)"), "x"},
    };
    for (const auto& c : cases) {
        std::string lastCut = "stale";
        EXPECT_EQ(splitSnppMessage(c.message, c.partLength, lastCut), c.parts) << c.name;
        EXPECT_EQ(lastCut, c.lastCut) << c.name;
    }
    std::string lastCut;
    Lines parts = splitSnppMessage(words, 140, lastCut);
    ASSERT_EQ(parts.size(), 3u);
    // Window 120: the last blank at or before 120 is at 120 ("w019 " ends there).
    EXPECT_EQ(parts[0], words.substr(0, 120) + "  (CONT.)");
    EXPECT_EQ(parts[1], words.substr(120, 120) + "  (CONT.)");
    EXPECT_EQ(parts[2], words.substr(240) + " (END)");
}

TEST(SnppSender, OneWayPageExactDialogueAndLog) {
    test::SnppPeer peer({});
    SnppRun run;
    SnppRequest page = pageFor(peer.port(), "Hello there");
    page.login = "user secret";
    page.callerId = "5550000";  // set on the Windows version's client only; never on the wire
    std::string id = "keep", reply;
    ASSERT_TRUE(run.sender().send(page, id, reply));
    EXPECT_EQ(reply, "Message Sent Successfully");
    EXPECT_EQ(id, "keep");
    ASSERT_EQ(peer.connections(), 1);
    ASSERT_TRUE(peer.waitClosed(1, 2s));
    EXPECT_EQ(peer.raw(1), "LOGI user secret\r\nPage 5551234\r\nMess Hello there\r\nSend\r\nQUIT\r\n");
    EXPECT_EQ(run.log, (Lines{"[SNPP Connection] Searching For SNPP Host...",
                              "[SNPP Connection] Connected To SNPP Server 127.0.0.1",
                              "[SNPP Connection] Sending Block 1 of 1"}));
    EXPECT_EQ(run.pauses, (std::vector<long>{250}));  // a single part has no 2 s pause
}

TEST(SnppSender, RepliesAndTheirOutcomes) {
    struct Case {
        const char* name;
        std::map<std::string, std::string> replies;
        bool twoWay;
        std::string coverage;
        bool ok;
        std::string reply;
        std::string id;
        Lines sent;
        Lines extraLog;  // lines besides searching, connected and the block line
    } cases[] = {
        {"LOGI answered 500: a server without LOGI, the dialogue goes on",
         {{"LOGI", "500 Command Not Implemented"}}, false, "", true, "Message Sent Successfully", "",
         {"LOGI u p", "Page 5551234", "Mess hi", "Send", "QUIT"}, {}},
        {"LOGI refused", {{"LOGI", "550 Access Denied"}}, false, "", false, "Error, Access Denied", "",
         {"LOGI u p", "QUIT"},
         {"[SNPP Connection] Error, Access Denied \"5551234\" at 127.0.0.1 - 550 Access Denied"}},
        {"a refused PIN stops before MESS", {{"PAGE", "550 Error, Invalid Pager ID"}}, false, "", false,
         "Error, Pager ID Rejected", "", {"LOGI u p", "Page 5551234", "QUIT"},
         {"[SNPP Connection] Error, Pager ID Rejected \"5551234\" at 127.0.0.1 - 550 Error, Invalid Pager ID"}},
        {"MESS refused", {{"MESS", "554 Message Too Long"}}, false, "", false, "Error, Sending MESS Request", "",
         {"LOGI u p", "Page 5551234", "Mess hi", "QUIT"},
         {"[SNPP Connection] Error, Sending MESS Request \"5551234\" at 127.0.0.1 - 554 Message Too Long"}},
        {"SEND refused: the reply is the error", {{"SEND", "554 Error, failed"}}, false, "", false,
         "554 Error, failed", "", {"LOGI u p", "Page 5551234", "Mess hi", "Send", "QUIT"},
         {"[SNPP Connection] 554 Error, failed \"5551234\" at 127.0.0.1 - 554 Error, failed"}},
        {"two-way: the id is the two words after the code", {{"2WAY", "250 OK"}}, true, "", true,
         "OK, Message QUEUED for Delivery", "ABC123 XYZ",
         {"LOGI u p", "2WAY", "Page 5551234", "Mess hi", "Send", "QUIT"}, {"[SNPP Connection] 2 Way Enabled"}},
        {"two-way refused by the server: one-way rules", {{"2WAY", "502 Not Supported"}}, true, "", true,
         "Message Sent Successfully", "", {"LOGI u p", "2WAY", "Page 5551234", "Mess hi", "Send", "QUIT"}, {}},
        {"two-way SEND answered 250: no id from it", {{"2WAY", "250 OK"}, {"SEND", "250 OK"}}, true, "", true,
         "OK", "", {"LOGI u p", "2WAY", "Page 5551234", "Mess hi", "Send", "QUIT"},
         {"[SNPP Connection] 2 Way Enabled"}},
        {"coverage selected", {}, false, "East Area", true, "Message Sent Successfully", "",
         {"LOGI u p", "COVE East Area", "Page 5551234", "Mess hi", "Send", "QUIT"},
         {"[SNPP Delivery Status] Alt. Coverage Selected East Area"}},
        {"coverage refused is ignored", {{"COVE", "550 No Such Area"}}, false, "Mars", true,
         "Message Sent Successfully", "", {"LOGI u p", "COVE Mars", "Page 5551234", "Mess hi", "Send", "QUIT"}, {}},
    };
    for (const auto& c : cases) {
        test::SnppPeer::Script script;
        for (const auto& [verb, text] : c.replies) script.replies[verb] = text;
        if (c.replies.count("SEND")) script.twoWaySend = c.replies.at("SEND");
        test::SnppPeer peer(script);
        SnppRun run;
        SnppRequest page = pageFor(peer.port(), "hi");
        page.login = "u p";
        page.twoWay = c.twoWay;
        page.coverage = c.coverage;
        std::string id, reply;
        EXPECT_EQ(run.sender().send(page, id, reply), c.ok) << c.name;
        EXPECT_EQ(reply, c.reply) << c.name;
        EXPECT_EQ(id, c.id) << c.name;
        ASSERT_TRUE(peer.waitClosed(1, 2s)) << c.name;
        EXPECT_EQ(peer.lines(1), c.sent) << c.name;
        Lines extra;
        for (const auto& l : run.log)
            if (l != "[SNPP Connection] Searching For SNPP Host..." &&
                l != "[SNPP Connection] Connected To SNPP Server 127.0.0.1" &&
                l != "[SNPP Connection] Sending Block 1 of 1")
                extra.push_back(l);
        EXPECT_EQ(extra, c.extraLog) << c.name;
    }
}

TEST(SnppSender, TwoWayIdAndReplyFrom860) {
    test::SnppPeer::Script script;
    script.twoWaySend = "860 ABC123 XYZ Queued";
    test::SnppPeer peer(script);
    SnppRun run;
    SnppRequest page = pageFor(peer.port(), "hi");
    page.twoWay = true;
    std::string id, reply;
    ASSERT_TRUE(run.sender().send(page, id, reply));
    EXPECT_EQ(id, "ABC123 XYZ");
    EXPECT_EQ(reply, "Queued");
}

TEST(SnppSender, StatusQueryAsksAboutTheGivenId) {
    test::SnppPeer peer({});
    SnppRun run;
    SnppRequest page = pageFor(peer.port(), "MSTA ABC123 XYZ");
    page.twoWay = true;
    std::string id = "ABC123 XYZ", reply;
    ASSERT_TRUE(run.sender().send(page, id, reply));
    ASSERT_TRUE(peer.waitClosed(1, 2s));
    EXPECT_EQ(peer.lines(1), (Lines{"2WAY", "MSTA ABC123 XYZ", "QUIT"}));
    EXPECT_EQ(id, "ABC123 XYZ");
    EXPECT_EQ(reply, "Delivered");
}

TEST(SnppSender, LineBreaksNeverMakeASecondCommand) {
    test::SnppPeer peer({});
    SnppRun run;
    SnppRequest page = pageFor(peer.port(), "one\r\nSEND\r\ntwo");
    page.PIN = "555\r\nQUIT";
    page.login = "u\r\nx p";
    std::string id, reply;
    ASSERT_TRUE(run.sender().send(page, id, reply));
    ASSERT_TRUE(peer.waitClosed(1, 2s));
    EXPECT_EQ(peer.lines(1), (Lines{"LOGI ux p", "Page 555QUIT", "Mess oneSENDtwo", "Send", "QUIT"}));
}

TEST(SnppSender, NumericOnly) {
    test::SnppPeer peer({});
    SnppRun run;
    SnppRequest page = pageFor(peer.port(), "call 555-1234");
    page.numericOnly = true;
    std::string id, reply;
    ASSERT_TRUE(run.sender().send(page, id, reply));
    ASSERT_TRUE(peer.waitClosed(1, 2s));
    EXPECT_EQ(peer.lines(1), (Lines{"Page 5551234", "Mess 5551234", "Send", "QUIT"}));

    SnppRun none;
    page.message = "no digits here";
    EXPECT_FALSE(none.sender().send(page, id, reply));
    EXPECT_EQ(reply, "No Message To Send, Numeric Only Pager!");
    EXPECT_EQ(none.log, (Lines{"[SNPP Delivery Fail] Error Sending Message No Message To Send, Numeric Only Pager! ID: "
                               "127.0.0.1 PIN: 5551234 Msg: "}));
    EXPECT_EQ(peer.connections(), 1);
}

std::string threeHundred() {
    std::string s;
    for (int i = 0; i < 60; ++i) s += "w" + std::string(i < 10 ? "00" : "0") + std::to_string(i) + " ";
    s.pop_back();
    return s + "!";  // 300 characters
}

TEST(SnppSender, ThreePartsThreeConnectionsInOrderAndReversed) {
    const std::string text = threeHundred();
    for (bool reverse : {false, true}) {
        test::SnppPeer peer({});
        SnppRun run;
        SnppRequest page = pageFor(peer.port(), text);
        page.partLength = 140;
        page.reverse = reverse;
        std::string id, reply;
        ASSERT_TRUE(run.sender().send(page, id, reply));
        ASSERT_EQ(peer.connections(), 3);
        const std::string mess[3] = {"Mess (1 of 3)  " + text.substr(0, 120) + "  (CONT.)",
                                     "Mess (2 of 3)  " + text.substr(120, 120) + "  (CONT.)",
                                     "Mess (3 of 3)  " + text.substr(240) + " (END)"};
        for (int n = 1; n <= 3; ++n) {
            ASSERT_TRUE(peer.waitClosed(n, 2s));
            int part = reverse ? 4 - n : n;
            EXPECT_EQ(peer.lines(n), (Lines{"Page 5551234", mess[part - 1], "Send", "QUIT"})) << reverse << n;
        }
        Lines blocks;
        for (const auto& l : run.log)
            if (l.rfind("[SNPP Connection] Sending Block", 0) == 0) blocks.push_back(l);
        EXPECT_EQ(blocks, reverse ? (Lines{"[SNPP Connection] Sending Block 3 of 3", "[SNPP Connection] Sending Block 2 of 3",
                                           "[SNPP Connection] Sending Block 1 of 3"})
                                  : (Lines{"[SNPP Connection] Sending Block 1 of 3", "[SNPP Connection] Sending Block 2 of 3",
                                           "[SNPP Connection] Sending Block 3 of 3"}));
        EXPECT_EQ(run.pauses, (std::vector<long>{2000, 250, 2000, 250, 2000, 250}));
    }
}

TEST(SnppSender, FailingPartStopsTheRest) {
    test::SnppPeer::Script script;
    script.perConnection[2]["SEND"] = "554 Error, failed";
    test::SnppPeer peer(script);
    SnppRun run;
    SnppRequest page = pageFor(peer.port(), threeHundred());
    page.partLength = 140;
    std::string id, reply;
    EXPECT_FALSE(run.sender().send(page, id, reply));
    EXPECT_EQ(reply, "554 Error, failed");
    EXPECT_EQ(peer.connections(), 2);
}

TEST(SnppSender, ConnectionFailures) {
    test::SnppPeer::Script silent;
    silent.greet = false;
    test::SnppPeer quiet(silent);
    std::uint16_t closedPort = 0;
    {
        test::LoopbackServer gone([](test::PeerConnection&) {});
        closedPort = gone.port();
    }
    struct Case {
        const char* name;
        std::string port;
        std::string reply;
    } cases[] = {
        {"accepts and never greets", std::to_string(quiet.port()), "Error, No Responce From Host"},
        {"nothing listening: the reason", std::to_string(closedPort),
         "Cannot connect to 127.0.0.1:" + std::to_string(closedPort) + ": Connection refused"},
    };
    for (const auto& c : cases) {
        SnppRun run;
        SnppRequest page = pageFor(0, "hi");
        page.port = c.port;
        std::string id, reply;
        EXPECT_FALSE(run.sender().send(page, id, reply)) << c.name;
        EXPECT_EQ(reply, c.reply) << c.name;
        EXPECT_EQ(run.connectionLines(), (Lines{"[SNPP Connection] " + c.reply + " \"5551234\" at 127.0.0.1 - "}))
            << c.name;
    }
    SnppRun run;
    SnppRequest page = pageFor(0, "hi");
    page.port = "snpp";
    std::string id, reply;
    EXPECT_FALSE(run.sender().send(page, id, reply));
    EXPECT_EQ(run.log, (Lines{"[SNPP Connection] 'snpp' is not a valid port number \"5551234\" at 127.0.0.1 - "}));
}

TEST(SnppSender, CancelStopsOnlyThePartsNotYetSent) {
    test::SnppPeer peer({});
    SnppRun run;
    // The cancel comes while the first part's QUIT is on its way: that part was accepted.
    run.onLog = [&](const std::string& line) {
        if (line == "[SNPP Connection] Sending Block 1 of 3") run.cancel.store(true);
    };
    SnppRequest page = pageFor(peer.port(), threeHundred());
    page.partLength = 140;
    std::string id, reply;
    EXPECT_FALSE(run.sender().send(page, id, reply));
    EXPECT_TRUE(run.cancel.load());  // read, never cleared
    EXPECT_EQ(peer.connections(), 1);
    // Cancelled before anything went out: no connection at all.
    SnppRun early;
    early.cancel.store(true);
    EXPECT_FALSE(early.sender().send(pageFor(peer.port(), "hi"), id, reply));
    EXPECT_EQ(peer.connections(), 1);
    EXPECT_TRUE(early.log.empty());
}

TEST(SnppSender, TlsBySecureModeAndPlainForOffAndThree) {
    test::TempDir dir;
    auto cert = test::makeSelfSignedCertificate(dir.path());
    test::SnppPeer tlsPeer({}, &cert);
    test::SnppPeer plainPeer({});
    for (std::int32_t mode : {0, 1, 2}) {
        SnppRun run;
        SnppRequest page = pageFor(tlsPeer.port(), "hi");
        page.server = "localhost";
        page.secureMode = mode;
        std::string id, reply;
        EXPECT_TRUE(run.sender().send(page, id, reply)) << mode << reply;
    }
    EXPECT_EQ(tlsPeer.serverName(1), "localhost");  // SNI: the server name
    for (std::int32_t mode : {-1, 3}) {
        SnppRun run;
        SnppRequest page = pageFor(plainPeer.port(), "hi");
        page.secureMode = mode;
        std::string id, reply;
        EXPECT_TRUE(run.sender().send(page, id, reply)) << mode << reply;
    }
}

// Against a real SNPP server: Debian's Net::SNPP::Server. It answers LOGI
// and COVE with 500, refuses pager ids that are not 7 digits or more, and
// collapses runs of blanks in MESS (the exact bytes are checked above).
TEST(SnppSender, AgainstNetSnppServer) {
    if (!test::NetSnppServer::available()) GTEST_SKIP() << "libnet-snpp-perl is not installed";
    struct Case {
        const char* name;
        std::vector<std::string> options;
        std::string pin;
        std::string message;
        int partLength;
        bool twoWay, numericOnly;
        int clients;
        bool ok;
        std::string reply, id;
        Lines pages;
    } cases[] = {
        {"one-way, LOGI and COVE answered 500", {}, "5551234", "Hello there", 0, false, false, 1, true,
         "Message Sent Successfully", "", {"5551234;Hello there"}},
        {"two-way", {"tags=ABC123,XYZ"}, "5551234", "Hello", 0, true, false, 1, true,
         "OK, Message QUEUED for Delivery", "ABC123 XYZ", {"5551234;Hello"}},
        {"refused pager id", {}, "123", "Hello", 0, false, false, 1, false, "Error, Pager ID Rejected", "", {}},
        {"page not taken", {"fail"}, "5551234", "Hello", 0, false, false, 1, false, "554 Error, failed", "",
         {"5551234;Hello"}},
        {"numeric only", {}, "5551234", "call 555-1234", 0, false, true, 1, true, "Message Sent Successfully", "",
         {"5551234;5551234"}},
        {"300 characters at part length 140", {}, "5551234", threeHundred(), 140, false, false, 3, true,
         "Message Sent Successfully", "", {}},
    };
    for (const auto& c : cases) {
        test::NetSnppServer server(c.clients, c.options);
        ASSERT_NE(server.port(), 0) << c.name;
        SnppRun run;
        SnppRequest page = pageFor(server.port(), c.message);
        page.PIN = c.pin;
        page.login = "user pass";
        page.coverage = "East";
        if (c.partLength) page.partLength = c.partLength;
        page.twoWay = c.twoWay;
        page.numericOnly = c.numericOnly;
        std::string id, reply;
        EXPECT_EQ(run.sender().send(page, id, reply), c.ok) << c.name;
        EXPECT_EQ(reply, c.reply) << c.name;
        EXPECT_EQ(id, c.id) << c.name;
        Lines pages = server.pagesUntilDone(5s);
        if (c.clients == 1) {
            EXPECT_EQ(pages, c.pages) << c.name;
        } else {
            ASSERT_EQ(pages.size(), 3u) << c.name;
            EXPECT_EQ(pages[0].substr(0, 17), "5551234;(1 of 3) ") << c.name;
            EXPECT_EQ(pages[2].substr(pages[2].size() - 6), " (END)") << c.name;
        }
    }
}

// Over scripted streams, with the pauses slept on a clock of the test's: a stop
// during the pause after an accepted part ends it at the next slice, and no
// later part goes out.
TEST(SnppSession, StopEndsThePauseAfterAPartAtTheNextSlice) {
    ManualClock io, pauses;
    std::vector<std::unique_ptr<test::ScriptedByteStream>> streams;
    SnppSession session(io, pauses);
    session.setOpen([&](SnppClient& client, const std::string&, std::uint16_t, const TlsOptions&,
                        std::chrono::milliseconds t) {
        auto& s = *streams.emplace_back(std::make_unique<test::ScriptedByteStream>(&io));
        s.deliver("220 ready\r\n");
        s.deliverAfterWrite("Page", "250 Pager ID Accepted\r\n");
        s.deliverAfterWrite("Mess", "250 Message OK\r\n");
        s.deliverAfterWrite("Send", "250 Message Sent Successfully\r\n");
        s.deliverAfterWrite("QUIT", "221 Bye\r\n");
        return client.attach(s, t);
    });
    const auto start = pauses.now();
    SnppRequest page = pageFor(444, threeHundred());
    page.partLength = 140;
    page.cancelled = [&] { return pauses.now() - start >= 120ms; };
    SnppResult r = session.send(page);
    EXPECT_FALSE(r.delivered);
    ASSERT_EQ(streams.size(), 1u);
    EXPECT_EQ(streams[0]->written(), "Page 5551234\r\nMess (1 of 3)  " + threeHundred().substr(0, 120) +
                                         "  (CONT.)\r\nSend\r\nQUIT\r\n");
    // The 2000 ms pause after the part, then the 250 ms one, cut to one slice past the stop.
    EXPECT_LE(pauses.now() - start, 120ms + 50ms);
}

}  // namespace
}  // namespace nv
