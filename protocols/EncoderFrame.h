#pragma once
// The serial paging encoder's frame protocol, as plain functions over bytes:
// no I/O, no clock. The inbound host (TKORPelmora) plays the encoder with it;
// the engine's encoder sender and the port tester read the same replies, and
// the engine builds its test pages' blocks here.
//
// Frame, sender to encoder:
//   SOH, header (type, rate, recipient; commas anywhere, meaningless), STX,
//   text, ETX, EOT, optional CR LF.
// Reply, encoder to sender, right after the echo of the block:
//   accepted: SOH ACK "V8.01,00,1,1,1A" EOT (CR LF when the block ended in CR LF)
//   refused:  SOH 0x0F <two-digit code> EOT
//
// A block is what arrived from the end of the previous block up to its
// terminator: EOT, or CR LF. Inside a block begun by SOH a CR LF ends the block
// only after ETX, so a text of several lines arrives whole.
#include <cstddef>
#include <string>
#include <string_view>

namespace nv::encoder {

inline constexpr char SOH = 0x01;
inline constexpr char STX = 0x02;
inline constexpr char ETX = 0x03;
inline constexpr char EOT = 0x04;
inline constexpr char ACK = 0x06;
inline constexpr char kErrorByte = 0x0F;  // the inbound host's and the engine's
inline constexpr char NAK = 0x15;         // what the port tester looks for
inline constexpr const char* CRLF = "\r\n";

inline constexpr const char* kAckVersion = "V8.01,00,1,1,1A";
// The terminators of a block, as the reply-match list of the block wait.
inline constexpr std::string_view kBlockMatch{"\r\n|\x04"};

inline constexpr const char* kCodeInvalidMessageType = "01";
inline constexpr const char* kCodeInvalidCapcode = "03";
inline constexpr const char* kCodeInputBufferOverflow = "04";
inline constexpr const char* kCodeInvalidCommandFormat = "08";

// The text of an error code; the two lists differ only at "06". Empty for a
// code outside "01".."08".
enum class CodeTexts { Engine, Tester };
std::string errorCodeText(std::string_view code, CodeTexts list = CodeTexts::Engine);

// True when `collected` (bytes read since the previous block, ending with what
// the wait matched) is a whole block: it ends in EOT, or in CR LF outside an
// SOH block or after that block's ETX.
bool blockEnds(std::string_view collected);
// blockEnds one byte at a time, so that a long block is looked at once, not
// again for every CR LF inside it.
class BlockScanner {
public:
    // `c` is the block's next byte; true when the block ends with it.
    bool feed(char c);
    void reset() { *this = BlockScanner(); }

private:
    bool m_started = false;
    bool m_soh = false;  // the block began with SOH
    bool m_etx = false;  // ETX seen
    bool m_cr = false;   // the byte before was CR
};

// Only CR and LF bytes (and at least one): the optional line end of a frame
// whose EOT has already been answered.
bool isLineEndOnly(std::string_view block);

// A block taken apart. Only `verdict` Ok guarantees pin and message.
struct Frame {
    enum class Verdict {
        NotSoh,       // the block does not begin with SOH: "08"
        Malformed,    // no STX, empty header or no recipient: "08"
        InvalidType,  // type character '1'..'4': "01"
        Ok
    };
    Verdict verdict = Verdict::NotSoh;
    char type = 0;
    std::string pin;      // the header without commas, type and rate
    std::string message;  // the text up to its first ETX
    bool hasEtx = false;  // without ETX the text part carries no message
};
Frame parseFrame(std::string_view block);

// The length rule on a message of `maxLength` characters at most. With
// truncation a longer message is cut to the limit (a limit of 0 or below cuts
// everything); without it a longer message is refused (false), and a limit of
// 0 means no limit.
bool applyLengthRule(std::string& message, int maxLength, bool truncate);

// Every LF, then every CR, taken out.
std::string stripLineBreaks(std::string_view message);

// The bytes after the echo.
std::string ackReply();
std::string errorReply(std::string_view code);

// What the host writes for a block: the echo and the reply. An accepted block
// that ended in CR LF is echoed without it and the CR LF follows the reply;
// a refused block is echoed whole.
std::string acceptAnswer(std::string_view block);
std::string refuseAnswer(std::string_view block, std::string_view code);

// The port tester's frame: SOH "A1" recipient STX text ETX EOT, no line end.
std::string testerFrame(std::string_view recipient, std::string_view text);

// The engine's block for a page that did not come from the encoder line (a
// test page): SOH "A,1," PIN "," STX message ETX EOT CR LF.
std::string testPageBlock(std::string_view pin, std::string_view msg);

// The engine's encoder sender reads the answer to a page's block in two waits
// on the port. The first ends the echo and starts the reply: EOT SOH ACK
// (taken) or EOT SOH SI (refused). The third alternative is a refusal after an
// echo that kept the block's CR LF: the inbound side echoes a refused block
// whole, and without it such a refusal would pass as taken.
inline constexpr std::string_view kSenderReplyMatch{"\x04\x01\x06|\x04\x01\x0F|\x04\r\n\x01\x0F"};
// The second wait, after a refusal: its code runs up to EOT.
inline constexpr std::string_view kSenderCodeEnd{"\x04"};

// Whether the first wait's answer is a refusal: `matched` is the alternative
// of kSenderReplyMatch it ended on (-1 for none), `received` what came.
bool senderRefused(int matched, std::string_view received);
// A taken page's reply: what came during the first wait less its first two characters.
std::string senderTakenReply(std::string_view received);
// A refused page's reply from what the second wait read (the code and its EOT).
std::string senderRefusalReply(std::string_view codeRead, const std::string& cleaned);
// The text of an error code as the encoder sends it ("03"): its table text for
// 1 to 8; any other code, or one that is not a decimal number, gives `cleaned`.
std::string refusalText(const std::string& code, const std::string& cleaned);

// Reads the encoder's status reply out of everything that arrives after a
// frame was sent: the echo first, then SOH followed by ACK, NAK or the error
// byte, up to EOT. The echo's own SOH is followed by the frame's type
// character, so it is never taken for the reply; an encoder that does not echo
// is read the same way.
class AnswerReader {
public:
    enum class Outcome { Pending, Accepted, Refused };

    // Feeds the bytes that arrived; the outcome so far.
    Outcome feed(std::string_view bytes);
    Outcome outcome() const { return m_outcome; }
    // A refusal's code: what stands between NAK (or the error byte) and EOT,
    // without leading and trailing blanks and control characters.
    const std::string& code() const { return m_code; }

private:
    std::string m_bytes;
    std::size_t m_scanFrom = 0;
    std::size_t m_replyAt = std::string::npos;
    Outcome m_outcome = Outcome::Pending;
    std::string m_code;
};

}  // namespace nv::encoder
