#pragma once
// TAP (IXO) wire format without I/O or clock: message preparation (escaping,
// the 8-bit filter, TAP's own splitting and labels, the extended-TAP suffix),
// block building with the three-character checksum, and the reply lists the
// dialogue waits on. The session that drives a connection is TKORAlpaPage.
#include <string>
#include <string_view>
#include <vector>

#include "foundation/PageRecord.h"

namespace nv::tap {

inline constexpr char kSTX = 0x02;
inline constexpr char kETX = 0x03;
inline constexpr char kEOT = 0x04;
inline constexpr char kACK = 0x06;
inline constexpr char kLF = 0x0A;
inline constexpr char kCR = 0x0D;
inline constexpr char kNAK = 0x15;
inline constexpr char kETB = 0x17;
inline constexpr char kSUB = 0x1A;
inline constexpr char kESC = 0x1B;
inline constexpr char kRS = 0x1E;
inline constexpr char kUS = 0x1F;

// Most message parts of one message.
inline constexpr int kMaxParts = 20;
// Text characters per block, and TAP's limit on a whole block (STX .. final CR).
inline constexpr std::size_t kBlockText = 240;
inline constexpr std::size_t kMaxBlock = 256;
// Window reserve per part while part labels are on.
inline constexpr int kLabelReserve = 16;

// The vendor marker that ends an extended-TAP message.
inline constexpr std::string_view kEtapMarker = kAldisconMarker;

// Alternatives of the login wait (indexes 0-10) and of the block wait (0-11),
// "|"-separated as the reply wait takes them.
std::string loginReplyList();
std::string blockReplyList();

enum class LoginReply { GoAhead, Accepted, Retry, Denied, None };
enum class BlockReply { Ack, Nak, InvalidPin, InvalidPinAfterLineEnd, Disconnect, None };
LoginReply classifyLoginReply(int index);
BlockReply classifyBlockReply(int index);

// The three checksum characters of a block: the byte sum from STX through the
// closing ETX or US, modulo 4096, as three nibbles each added to '0'.
std::string checksum(std::string_view block);

// ESC "PG1" <password> CR.
std::string loginRequest(std::string_view password);

// A NUL ends the text; STX ETX EOT ETB SUB ESC US become SUB + B C D W Z [ _;
// CR is dropped, LF kept; then every character of code 128 or above is deleted.
std::string escapeText(std::string_view message);

// Keeps only the digits.
std::string digitsOnly(std::string_view message);

struct SplitOptions {
    int msgLength = 140;       // 0 or less: one part with the whole text
    bool displayMsgBreaks = true;
    bool truncate = false;     // TurncateMsgs
};

// TAP's splitter: cut at the last blank at or before the window (length less
// the reserve of 16 while labels are on; at least 1), parts trimmed, " (CONT.)"
// and " (END)" marks, at most 20 parts (text beyond the 20th is dropped).
std::vector<std::string> splitMessage(std::string_view text, const SplitOptions& opt);

// "(i of n)  " with its two blanks.
std::string partLabel(int part, int parts);

enum class DeliveryCommand { dcTap, dcConfirm, dcReplace, dcUpdate, dcQuery, dcDelete, dcDefered };

struct EtapFields {
    DeliveryCommand command = DeliveryCommand::dcTap;
    std::string msgId;
    std::string expire;
    std::string schedule;
};

enum class EtapResult { Ok, NoSchedule, NoMessageId };

// Applies the extended-TAP suffix to the last part in place. Delete and query
// replace the part's text by the command alone.
EtapResult applyEtapSuffix(std::string& lastPart, const EtapFields& f);

// The blocks of one part, in sending order, each complete with checksum and CR.
// The first block carries STX PIN CR and the label; every block is kept within
// TAP's 256-character limit however long the PIN and label are.
std::vector<std::string> buildBlocks(std::string_view pin, std::string_view label,
                                     std::string_view text);

// The text with every character below 32 removed.
std::string stripControls(std::string_view text);

}  // namespace nv::tap
