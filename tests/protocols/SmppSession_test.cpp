#include "protocols/SmppSession.h"

#include "protocols/SmppPdu.h"

#include <gtest/gtest.h>

#include <mutex>

#include "tests/peers/LoopbackServer.h"
#include "tests/peers/ScriptedByteStream.h"
#include "tests/peers/SmppCentre.h"
#include "tests/peers/TestSupport.h"
#include "tests/protocols/SmppPages.h"

namespace nv {
namespace {

using namespace std::chrono_literals;
using test::SmppSender;

struct Harness {
    std::mutex mutex;
    std::vector<std::string> lines;
    std::atomic<bool> cancel{false};
    std::vector<std::chrono::milliseconds> pauses;

    SmppSender sender(SmppTiming timing = fastTiming()) {
        return SmppSender([this](const std::string& l) {
                              std::lock_guard lock(mutex);
                              lines.push_back(l);
                          },
                          [this] { return cancel.load(); }, timing,
                          [this](std::chrono::milliseconds d) { pauses.push_back(d); });
    }
    static SmppTiming fastTiming() {
        SmppTiming t;
        t.connectWait = 300ms;
        t.responseWait = 1s;
        return t;
    }
};

using test::smppPageFor;
using test::words;

TEST(SmppSplit, WindowOf153WithMarks) {
    std::string cut;
    // "word " eighty times: character 153 falls inside a word, so each cut goes
    // back to the blank after the thirtieth word, which ends the part.
    auto parts = splitSmppMessage(words(400), cut);
    EXPECT_EQ(parts, (std::vector<std::string>{words(150) + "  (CONT.)", words(150) + "  (CONT.)",
                                               words(100) + " (END)"}));
    EXPECT_EQ(cut, words(150));
    EXPECT_EQ(splitSmppMessage("short", cut), std::vector<std::string>{"short"});
    EXPECT_EQ(cut, "");
    // No blank: a hard cut at the window.
    auto hard = splitSmppMessage(std::string(200, 'x'), cut);
    EXPECT_EQ(hard[0], std::string(153, 'x') + "  (CONT.)");
    EXPECT_EQ(splitSmppMessage(std::string(153 * 25, 'x'), cut).size(), 20u);
}

TEST(SmppSplit, StateTexts) {
    struct Case { int state; const char* text; };
    for (auto c : {Case{0, "Message Queued; Awaiting Delivery"}, Case{1, "Message Queued; Awaiting Delivery"},
                   Case{2, "Message Delivered (No Reply Pending)"}, Case{5, "Message Expired Before Delivery"},
                   Case{9, "Message Expired Before Delivery"}, Case{6, "Message Delivered and Read by Recipient"},
                   Case{10, ""}})
        EXPECT_EQ(smppStateText(c.state), c.text) << c.state;
}

TEST(SmppSender, FourHundredCharactersGoInThreeSessions) {
    test::SmppCentre centre;
    test::LoopbackServer server([&](test::PeerConnection& c) { centre.serve(c); });
    Harness h;
    auto sender = h.sender();
    std::string id, reply;
    ASSERT_TRUE(sender.send(smppPageFor(server.port(), words(400)), id, reply)) << reply;
    EXPECT_EQ(reply, "Message Sent Successfully");
    EXPECT_EQ(id, "MSG3");
    EXPECT_EQ(server.acceptedCount(), 3);

    auto got = centre.received();
    std::vector<std::string> texts;
    int binds = 0, unbinds = 0;
    for (const auto& r : got) {
        if (r.commandId == smpp::kBindTransmitter) ++binds;
        if (r.commandId == smpp::kUnbind) ++unbinds;
        if (r.commandId == smpp::kSubmitSm) texts.push_back(test::SmppCentre::submitText(r.body));
    }
    EXPECT_EQ(binds, 3);
    EXPECT_EQ(unbinds, 3);
    ASSERT_EQ(texts.size(), 3u);
    EXPECT_EQ(texts[0].substr(0, 10), "(1 of 3)  ");
    EXPECT_EQ(texts[2].substr(0, 10), "(3 of 3)  ");
    EXPECT_EQ(texts[2].substr(texts[2].size() - 6), " (END)");
    EXPECT_EQ(h.lines.front(), "[SMPP Connection] Searching For SMPP Host...");
    EXPECT_EQ(h.lines[1], "[SMPP Connection] Connected To SMPP Server 127.0.0.1");
    EXPECT_EQ(h.lines[2], "[SMPP Connection] Sending Block 1 of 3");
    // 2 s inside each part, 1.5 s between parts.
    EXPECT_EQ(h.pauses, (std::vector<std::chrono::milliseconds>{2000ms, 1500ms, 2000ms, 1500ms, 2000ms}));
}

TEST(SmppSender, FailuresGiveOneConnectionLine) {
    struct Case { std::uint32_t bindStatus; std::uint32_t submitStatus; bool answerBind; std::string reply; };
    const Case cases[] = {
        {0x0E, 0, true, "Error, Conecting To Host: ESME_RINVPASWD (0x0000000E)"},
        {0, 0x45, true, "ESME_RSUBMITFAIL (0x00000045)"},
        {0, 0, false, "Error, No Responce From Host"},
    };
    for (const auto& c : cases) {
        test::SmppCentre centre;
        centre.bindStatus = c.bindStatus;
        centre.submitStatus = c.submitStatus;
        centre.answerBind = c.answerBind;
        test::LoopbackServer server([&](test::PeerConnection& conn) { centre.serve(conn); });
        Harness h;
        auto sender = h.sender();
        std::string id, reply;
        EXPECT_FALSE(sender.send(smppPageFor(server.port(), "hello"), id, reply));
        EXPECT_EQ(reply, c.reply);
        int connectionLines = 0;
        for (const auto& l : h.lines)
            if (l.rfind("[SMPP Connection] " + c.reply, 0) == 0) {
                ++connectionLines;
                EXPECT_EQ(l, "[SMPP Connection] " + c.reply + " \"5551234\" at 127.0.0.1 - ");
            }
        EXPECT_EQ(connectionLines, 1) << c.reply;
    }
}

TEST(SmppSender, NothingToSend) {
    Harness h;
    auto sender = h.sender();
    std::string id, reply;
    SmppRequest p = smppPageFor(1, "no digits here");
    p.numericOnly = true;
    EXPECT_FALSE(sender.send(p, id, reply));
    EXPECT_EQ(reply, "No Message To Send, Numeric Only Pager!");
    p.numericOnly = false;
    p.message.clear();
    EXPECT_FALSE(sender.send(p, id, reply));
    EXPECT_EQ(reply, "No Message To Send!");
    EXPECT_TRUE(h.lines.empty());
}

TEST(SmppSender, StatusQueryAsksAboutTheGivenIdAndSetsTheStateText) {
    test::SmppCentre centre;
    test::LoopbackServer server([&](test::PeerConnection& c) { centre.serve(c); });
    Harness h;
    auto sender = h.sender();
    std::string id, reply;
    ASSERT_TRUE(sender.send(smppPageFor(server.port(), "MSTA XY77"), id, reply));
    EXPECT_EQ(reply, "Message Delivered and Read by Recipient");
    auto got = centre.received();
    ASSERT_GE(got.size(), 2u);
    EXPECT_EQ(got[1].commandId, smpp::kQuerySm);
    EXPECT_EQ(got[1].body.substr(0, 5), std::string("XY77\0", 5));
}

TEST(SmppSender, CancelledPageSubmitsNothing) {
    test::SmppCentre centre;
    test::LoopbackServer server([&](test::PeerConnection& c) { centre.serve(c); });
    Harness h;
    h.cancel = true;
    auto sender = h.sender();
    std::string id, reply;
    EXPECT_FALSE(sender.send(smppPageFor(server.port(), "hello"), id, reply));
    for (const auto& r : centre.received()) EXPECT_NE(r.commandId, smpp::kSubmitSm);
}

TEST(SmppSender, TlsAndCimd2) {
    test::TempDir dir;
    auto cert = test::makeSelfSignedCertificate(dir.path());
    test::SmppCentre smppCentre;
    test::LoopbackServer tls([&](test::PeerConnection& c) { smppCentre.serve(c); }, &cert);
    test::Cimd2Centre cimdCentre;
    test::LoopbackServer cimd([&](test::PeerConnection& c) { cimdCentre.serve(c); });

    Harness h;
    auto sender = h.sender();
    std::string id, reply;
    SmppRequest p = smppPageFor(tls.port(), "over tls");
    p.secureMode = 0;
    EXPECT_TRUE(sender.send(p, id, reply)) << reply;

    SmppRequest c = smppPageFor(cimd.port(), "over cimd");
    c.protocol = 1;
    EXPECT_TRUE(sender.send(c, id, reply)) << reply;
    EXPECT_EQ(id, "261210120001");
    auto seen = cimdCentre.received();
    ASSERT_EQ(seen.size(), 3u);  // login, submit, logout
    EXPECT_EQ(seen[1].params[33], "over cimd");
}

// A PDU as a centre sends it: length, command, status 0, sequence, body.
std::string pduBytes(std::uint32_t command, std::uint32_t sequence, const std::string& body = {}) {
    std::string out;
    for (std::uint32_t v : {static_cast<std::uint32_t>(16 + body.size()), command, 0u, sequence})
        for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((v >> shift) & 0xFF);
    return out + body;
}

// Over scripted streams, with the pauses slept on a clock of the test's: a stop
// during the pause inside an accepted part ends it at the next slice, and no
// later part is bound or submitted.
TEST(SmppSession, StopEndsThePauseInsideAPartAtTheNextSlice) {
    ManualClock io, pauses;
    std::vector<std::unique_ptr<test::ScriptedByteStream>> streams;
    SmppSession session(io, pauses);
    session.setOpen([&](SmppClient& client, std::chrono::milliseconds timeout) {
        auto& s = *streams.emplace_back(std::make_unique<test::ScriptedByteStream>(&io));
        s.deliverAfterWrite("", pduBytes(0x80000002, 1, std::string("SMSC\0", 5)));
        s.deliverAfterWrite("", pduBytes(0x80000004, 2, std::string("ab12\0", 5)));
        s.deliverAfterWrite("", pduBytes(0x80000006, 3));
        return client.attach(s, timeout);
    });
    const auto start = pauses.now();
    SmppRequest page = test::smppPageFor(2775, test::words(400));
    page.cancelled = [&] { return pauses.now() - start >= 120ms; };
    SmppResult r = session.send(page);
    EXPECT_FALSE(r.delivered);
    EXPECT_EQ(r.messageId, "ab12");
    ASSERT_EQ(streams.size(), 1u);
    // Bind, submit and unbind went out; the 2000 ms and 1500 ms pauses stop one slice past the stop.
    const std::string written = streams[0]->written();
    EXPECT_TRUE(written.ends_with(pduBytes(0x00000006, 3))) << written.size();
    EXPECT_LE(pauses.now() - start, 120ms + 50ms);
}

}  // namespace
}  // namespace nv
