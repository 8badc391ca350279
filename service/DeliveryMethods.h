#pragma once
// One row per delivery method: the log tags, the counters and their order, the
// statistics and the secondary rule of a page's result, on both roads a page
// takes: the page worker (one attempt for a page that is not queued) and a
// port thread (a page from the queue). Both roads and the device pages take
// their texts and orders from here, and every place where the two roads
// differ on purpose stands here, with its reason:
//
// - Tags: the texts, trailing blank or not, are the ones the Windows version
//   logged on each road; the manager's log view and operators' filters match
//   them as they are. A worker's TAP page only goes over TCP, hence "TAPIP".
// - Counters: each road posts the pair in its own order, which the manager
//   sees in its counter updates.
// - Order of line and counters: a worker counts, then logs; a port thread
//   logs, then counts (finishWorkerPage, countDelivered).
// - Statistics: see WorkerStats and Port::stats.
// - Secondary: a worker hands a failed page to the queue, where a port thread
//   tries the primary once more and then the secondary; a port thread puts it
//   into the secondary list, which needs the secondary's record on the page
//   (handsOnToSecondary). A worker's e-mail page goes on without a line.
// - Texts: mailPage, snppParts and wctpLogReply.
#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/PageRecord.h"
#include "foundation/Records.h"
#include "platform/CounterIds.h"

namespace nv {

class TNerivaleSvcMain;

enum class DeliveryPath { Worker, PortThread };

// How the page worker writes a method's statistics.
enum class WorkerStats {
    AfterCounters,   // delivered: counters, statistics; failed: statistics, error counter
    BeforeCounters,  // delivered: statistics, counters; failed: error counter, statistics
    OnFailureOnly,   // as AfterCounters, but nothing on delivery
};

struct DeliveryMethod {
    const char* name;  // the tags' word; "No Sender For <name>"

    // The page worker. A tag "" means the method has no such line.
    struct Worker {
        const char* okTag;
        const char* errorTag;  // "": a failed page goes to the queue without a line, counter or statistics
        const char* failTag;
        std::array<int, 2> okCounters;  // posted in this order
        WorkerStats stats;
        bool failNamesProvider;  // " Provider: <name>" in the Error and Fail lines
    } worker;

    // A port thread. No tags: no sender on a port thread, a failed attempt at once.
    struct Port {
        const char* okTag;
        const char* failTag;         // every failure, before the secondary rule (TAP only)
        const char* transactionTag;  // every failure, before the secondary rule
        const char* errorTag;        // "": to the secondary list without a line
        std::array<int, 2> okCounters;
        bool stats;  // on delivery, and when the page is given up
    } port;
};

// clang-format off
// Statistics: a worker writes them for every method but the encoder's on
// delivery, WCTP's before the counters; a port thread for every method but
// e-mail, whose pages carry the built-in provider there.
inline constexpr DeliveryMethod kMethodSmtp{"SMTP",
    {"[SMTP Delivery OK] ", "", "[SMTP Delivery Fail]", {kCtEPages, kCtTransaction}, WorkerStats::AfterCounters, false},
    {"[SMTP Delivery OK] ", "", "[SMTP Transaction]", "[SMTP Delivery Error]", {kCtEPages, kCtTransaction}, false}};
inline constexpr DeliveryMethod kMethodBrevicor{"Brevicor",
    {"[Brevicor Delivery OK] ", "[Brevicor Delivery Error] ", "[Brevicor Delivery Fail] ", {kCtBrevicor, kCtTransaction}, WorkerStats::OnFailureOnly, true},
    {"", "", "", "", {}, true}};
inline constexpr DeliveryMethod kMethodSnpp{"SNPP",
    {"[SNPP Delivery OK] ", "[SNPP Delivery Error] ", "[SNPP Delivery Fail] ", {kCtSNPP, kCtTransaction}, WorkerStats::AfterCounters, true},
    {"[SNPP Delivery OK] ", "", "[SNPP Transaction]", "[SNPP Delivery Error] ", {kCtTransaction, kCtSNPP}, true}};
inline constexpr DeliveryMethod kMethodSmpp{"SMPP",
    {"[SMPP Delivery OK] ", "[SMPP Delivery Error] ", "[SMPP Delivery Fail] ", {kCtSMPP, kCtTransaction}, WorkerStats::AfterCounters, true},
    {"[SMPP Delivery OK] ", "", "[SMPP Transaction]", "[SMPP Delivery Error] ", {kCtTransaction, kCtSMPP}, true}};
inline constexpr DeliveryMethod kMethodWctp{"WCTP",
    {"[WCTP Delivery OK] ", "[WCTP Delivery Error] ", "[WCTP Delivery Fail] ", {kCtWCTP, kCtTransaction}, WorkerStats::BeforeCounters, false},
    {"[WCTP Delivery OK] ", "", "", "[WCTP Delivery Error] ", {kCtTransaction, kCtWCTP}, true}};
inline constexpr DeliveryMethod kMethodTnpp{"TNPP",
    {"[TNPP Delivery OK] ", "[TNPP Delivery Error]", "[TNPP Delivery Fail]", {kCtTransaction, kCtTNPP}, WorkerStats::AfterCounters, false},
    {"", "", "", "", {}, true}};
inline constexpr DeliveryMethod kMethodSms{"SMS",
    {"[SMS Delivery OK] ", "[SMS Delivery Error] ", "[SMS Delivery Fail] ", {kCtTransaction, kCtSMS}, WorkerStats::AfterCounters, false},
    {"[SMS Delivery OK]", "", "[SMS Transaction] ", "[SMS Delivery Error]", {kCtTransaction, kCtSMS}, true}};
// A port thread's row serves every TAP line: direct, modem and TCP.
inline constexpr DeliveryMethod kMethodTap{"TAPIP",
    {"[TAPIP Delivery OK] ", "[TAPIP Delivery Error] ", "[TAPIP Delivery Fail] ", {kCtTap, kCtTransaction}, WorkerStats::AfterCounters, true},
    {"[TAP Delivery OK] ", "[TAP Delivery Fail] ", "", "", {kCtTransaction, kCtTap}, true}};
// clang-format on

// The row of a delivery type with a sender of its own (e-mail 8 and 10,
// encoder, SNPP, SMPP, WCTP, TNPP, SMS, TAP over TCP); none for the others.
const DeliveryMethod* deliveryMethodOf(std::uint8_t deliveryType);

// ---- lines

// What one attempt leaves for its lines.
struct AttemptTexts {
    std::string reply;    // the sender's reply or status text
    std::string id;       // message ID or tracking number
    std::string who;      // after " - ": the recipient id (the worker's own methods: the PIN)
    std::string PIN;      // of the current mode; for e-mail the address used
    std::string message;  // as the line shows it
};

// tag + reply + " ID: " + id + " - " + who + " PIN:" + PIN
// [+ " Provider: " + *provider] + " Msg: " + message
std::string resultLine(std::string_view tag, const AttemptTexts& t, const std::string* provider = nullptr);
// A port thread's delivery-error line: as resultLine, with a blank after "PIN:".
std::string deliveryErrorLine(std::string_view tag, const AttemptTexts& t);
// tag + " Error Sending Message To \"" + who + " " + PIN + "\""
std::string addresseeLine(std::string_view tag, const AttemptTexts& t);

// ---- counting

using CounterFn = std::function<void(int)>;
using StatsFn = std::function<void()>;

// A delivered page's counters and statistics, in the road's order.
void countDelivered(const DeliveryMethod& m, DeliveryPath path, const CounterFn& counter, const StatsFn& stats);

// The page worker's three lines of a result.
struct WorkerLines {
    std::string ok, error, fail;
};
// The worker's lines in the general shape (resultLine).
WorkerLines workerLines(const DeliveryMethod& m, const AttemptTexts& t, const std::string& providerName);

// What the page worker does once its sender answered: count, log and free the
// page, or hand it to the queue on its way to the secondary provider. A failed
// page counts one error and one statistics update, whichever way it goes on.
void finishWorkerPage(TNerivaleSvcMain& engine, PageRecordPtr& page, const DeliveryMethod& m, bool delivered,
                      const WorkerLines& lines);

// ---- small rules

// True when a failed page goes on towards its secondary provider.
bool handsOnToSecondary(const TQueueRec& page, DeliveryPath path);

// An e-mail page's address, subject and body. Type 10: to the route's address
// (the provider's server field) with the PIN as the subject; otherwise the PIN
// at the route's mail domain, unless the PIN is an address already.
struct MailPage {
    std::string to, subject, body;
};
MailPage mailPage(const ProviderRec& provider, const std::string& PIN, const std::string& message,
                  DeliveryPath path);

// How an SNPP page is cut into parts.
struct SnppParts {
    int partLength;
    bool reverse;
};
SnppParts snppParts(const ProviderRec& provider, const UserRec& user, const std::string& message,
                    DeliveryPath path);

// The reply a WCTP page's lines show. `senderReply` stands when the list is
// empty and nothing was delivered (an exception's text).
std::string wctpLogReply(DeliveryPath path, const std::vector<std::string>& list, bool delivered,
                         const std::string& message, const std::string& senderReply);

}  // namespace nv
