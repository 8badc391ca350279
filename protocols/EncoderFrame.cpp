#include "protocols/EncoderFrame.h"

#include <algorithm>
#include <array>

#include "foundation/TextUtil.h"

namespace nv::encoder {

namespace {

struct CodeText {
    const char* code;
    const char* engine;
    const char* tester;
};

constexpr std::array<CodeText, 8> kCodeTexts{{
    {"01", "Invalid Message Type", "Invalid Message Type"},
    {"02", "Invalid Data Rate", "Invalid Data Rate"},
    {"03", "Invalid Capcode", "Invalid Capcode"},
    {"04", "Input Buffer Overflow", "Input Buffer Overflow"},
    {"05", "Paging Buffer Overflow", "Paging Buffer Overflow"},
    {"06", "Invalid Setup/Status Command", "Invalid Status/Setup Command"},
    {"07", "EEPROM Write Error", "EEPROM Write Error"},
    {"08", "Invalid Command Format", "Invalid Command Format"},
}};


}  // namespace

std::string errorCodeText(std::string_view code, CodeTexts list) {
    for (const auto& row : kCodeTexts)
        if (code == row.code) return list == CodeTexts::Engine ? row.engine : row.tester;
    return {};
}

bool blockEnds(std::string_view collected) {
    if (!collected.empty() && collected.back() == EOT) return true;
    if (!collected.ends_with(CRLF)) return false;
    // A CR LF in the text of a frame is part of the message, not its end.
    return collected.front() != SOH || collected.find(ETX) != std::string_view::npos;
}

bool BlockScanner::feed(char c) {
    if (!m_started) {
        m_started = true;
        m_soh = c == SOH;
    }
    const bool crlf = m_cr && c == '\n';
    m_cr = c == '\r';
    if (c == ETX) m_etx = true;
    if (c == EOT) return true;
    return crlf && (!m_soh || m_etx);
}

bool isLineEndOnly(std::string_view block) {
    return !block.empty() && block.find_first_not_of(CRLF) == std::string_view::npos;
}

Frame parseFrame(std::string_view block) {
    Frame f;
    if (block.empty() || block.front() != SOH) return f;
    block.remove_prefix(1);
    std::size_t stx = block.find(STX);
    f.verdict = Frame::Verdict::Malformed;
    if (stx == std::string_view::npos) return f;
    std::string header;
    for (char c : block.substr(0, stx))
        if (c != ',') header += c;
    if (header.empty()) return f;
    f.type = header[0];
    if (f.type >= '1' && f.type <= '4') {
        f.verdict = Frame::Verdict::InvalidType;
        return f;
    }
    // Type and rate, then at least one character of recipient.
    if (header.size() < 3) return f;
    f.pin = header.substr(2);
    std::string_view text = block.substr(stx + 1);
    std::size_t etx = text.find(ETX);
    f.hasEtx = etx != std::string_view::npos;
    if (f.hasEtx) f.message.assign(text.substr(0, etx));
    f.verdict = Frame::Verdict::Ok;
    return f;
}

bool applyLengthRule(std::string& message, int maxLength, bool truncate) {
    const long long length = static_cast<long long>(message.size());
    if (truncate) {
        if (length > maxLength) message.resize(maxLength > 0 ? static_cast<std::size_t>(maxLength) : 0);
        return true;
    }
    return maxLength == 0 || length <= maxLength;
}

std::string stripLineBreaks(std::string_view message) { return withoutLineBreaks(std::string(message)); }

std::string ackReply() { return std::string{SOH, ACK} + kAckVersion + EOT; }

std::string errorReply(std::string_view code) { return std::string{SOH, kErrorByte} + std::string(code) + EOT; }

std::string acceptAnswer(std::string_view block) {
    if (block.ends_with(CRLF)) return std::string(block.substr(0, block.size() - 2)) + ackReply() + CRLF;
    return std::string(block) + ackReply();
}

std::string refuseAnswer(std::string_view block, std::string_view code) {
    return std::string(block) + errorReply(code);
}

std::string testerFrame(std::string_view recipient, std::string_view text) {
    std::string frame{SOH};
    frame += "A1";
    frame += recipient;
    frame += STX;
    frame += text;
    frame += ETX;
    frame += EOT;
    return frame;
}

std::string testPageBlock(std::string_view pin, std::string_view msg) {
    std::string block{SOH};
    block += "A,1,";
    block += pin;
    block += ',';
    block += STX;
    block += msg;
    block += ETX;
    block += EOT;
    return block + CRLF;
}

bool senderRefused(int matched, std::string_view received) {
    // A wait that ended inside the third alternative (an echo with CR LF and
    // nothing after it) is silence, not a refusal.
    return matched == 1 || (matched == 2 && received.ends_with("\x01\x0F"));
}

std::string senderTakenReply(std::string_view received) {
    return received.size() > 2 ? std::string(received.substr(2)) : std::string();
}

std::string senderRefusalReply(std::string_view codeRead, const std::string& cleaned) {
    if (codeRead.ends_with(kSenderCodeEnd)) codeRead.remove_suffix(kSenderCodeEnd.size());
    return refusalText(std::string(codeRead), cleaned);
}

std::string refusalText(const std::string& code, const std::string& cleaned) {
    if (code.empty() || code.size() > 9 ||
        !std::all_of(code.begin(), code.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return cleaned;
    int n = std::stoi(code);
    if (n < 1 || n > 8) return cleaned;
    std::string text = errorCodeText("0" + std::to_string(n));
    return text.empty() ? cleaned : text;
}

namespace {

bool isReplyMarker(char c) { return c == ACK || c == NAK || c == kErrorByte; }

// Blanks and control characters off both ends.
std::string trimControls(std::string_view s) {
    auto keep = [](char c) { return static_cast<unsigned char>(c) > ' '; };
    std::size_t b = 0, e = s.size();
    while (b < e && !keep(s[b])) ++b;
    while (e > b && !keep(s[e - 1])) --e;
    return std::string(s.substr(b, e - b));
}

}  // namespace

AnswerReader::Outcome AnswerReader::feed(std::string_view bytes) {
    if (m_outcome != Outcome::Pending) return m_outcome;
    m_bytes += bytes;
    if (m_replyAt == std::string::npos) {
        for (std::size_t i = m_scanFrom; i + 1 < m_bytes.size(); ++i)
            if (m_bytes[i] == SOH && isReplyMarker(m_bytes[i + 1])) {
                m_replyAt = i;
                break;
            }
        // An SOH at the very end may be the start of the reply: look at it again.
        if (m_replyAt == std::string::npos) {
            m_scanFrom = m_bytes.empty() ? 0 : m_bytes.size() - 1;
            return m_outcome;
        }
    }
    std::size_t eot = m_bytes.find(EOT, m_replyAt + 2);
    if (eot == std::string::npos) return m_outcome;
    if (m_bytes[m_replyAt + 1] == ACK) {
        m_outcome = Outcome::Accepted;
    } else {
        m_outcome = Outcome::Refused;
        m_code = trimControls(std::string_view(m_bytes).substr(m_replyAt + 2, eot - m_replyAt - 2));
    }
    return m_outcome;
}

}  // namespace nv::encoder
