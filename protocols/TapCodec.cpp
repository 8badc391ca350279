#include "protocols/TapCodec.h"

#include <algorithm>

#include "foundation/TextUtil.h"

namespace nv::tap {

namespace {

std::string ctl(std::initializer_list<char> cs) { return std::string(cs); }

std::string joinAlternatives(const std::vector<std::string>& alts) {
    std::string out;
    for (std::size_t i = 0; i < alts.size(); ++i) {
        if (i) out += '|';
        out += alts[i];
    }
    return out;
}


}  // namespace

std::string loginReplyList() {
    return joinAlternatives({
        ctl({kESC}) + "[p",                  // 0 go-ahead
        ctl({kACK, kCR}),                    // 1
        ctl({kNAK, kCR}),                    // 2
        ctl({kESC, kEOT, kCR}),              // 3
        ctl({kCR, kACK, kCR}),               // 4
        ctl({kCR, kNAK, kCR}),               // 5
        ctl({kCR, kESC, kEOT, kCR}),         // 6
        ctl({kLF, kACK, kCR}),               // 7
        ctl({kLF, kNAK, kCR}),               // 8
        ctl({kLF, kESC, kEOT, kCR}),         // 9
        "ID=",                               // 10
    });
}

std::string blockReplyList() {
    return joinAlternatives({
        ctl({kACK, kCR}), ctl({kNAK, kCR}), ctl({kRS, kCR}), ctl({kESC, kEOT, kCR}),
        ctl({kLF, kACK, kCR}), ctl({kLF, kNAK, kCR}), ctl({kLF, kRS, kCR}), ctl({kLF, kESC, kEOT, kCR}),
        ctl({kCR, kACK, kCR}), ctl({kCR, kNAK, kCR}), ctl({kCR, kRS, kCR}), ctl({kCR, kESC, kEOT, kCR}),
    });
}

LoginReply classifyLoginReply(int index) {
    switch (index) {
    case 0: return LoginReply::GoAhead;
    case 1: case 4: case 7: return LoginReply::Accepted;
    case 2: case 5: case 8: case 10: return LoginReply::Retry;
    case 3: case 6: case 9: return LoginReply::Denied;
    default: return LoginReply::None;
    }
}

BlockReply classifyBlockReply(int index) {
    switch (index) {
    case 0: case 4: case 8: return BlockReply::Ack;
    case 1: case 5: case 9: return BlockReply::Nak;
    case 2: return BlockReply::InvalidPin;
    case 6: case 10: return BlockReply::InvalidPinAfterLineEnd;
    case 3: case 7: case 11: return BlockReply::Disconnect;
    default: return BlockReply::None;
    }
}

std::string checksum(std::string_view block) {
    unsigned sum = 0;
    for (unsigned char c : block) sum += c;
    sum &= 0xFFF;
    std::string out(3, '0');
    out[0] = static_cast<char>('0' + ((sum >> 8) & 0xF));
    out[1] = static_cast<char>('0' + ((sum >> 4) & 0xF));
    out[2] = static_cast<char>('0' + (sum & 0xF));
    return out;
}

std::string loginRequest(std::string_view password) {
    std::string s(1, kESC);
    s += "PG1";
    s += password;
    s += kCR;
    return s;
}

std::string escapeText(std::string_view message) {
    std::string out;
    out.reserve(message.size());
    for (char c : message) {
        if (c == '\0') break;
        switch (c) {
        case kSTX: out += kSUB; out += 'B'; break;
        case kETX: out += kSUB; out += 'C'; break;
        case kEOT: out += kSUB; out += 'D'; break;
        case kETB: out += kSUB; out += 'W'; break;
        case kSUB: out += kSUB; out += 'Z'; break;
        case kESC: out += kSUB; out += '['; break;
        case kUS: out += kSUB; out += '_'; break;
        case kCR: break;
        default: out += c;
        }
    }
    std::erase_if(out, [](char c) { return static_cast<unsigned char>(c) >= 128; });
    return out;
}

std::string digitsOnly(std::string_view message) {
    std::string out;
    for (char c : message)
        if (c >= '0' && c <= '9') out += c;
    return out;
}

std::vector<std::string> splitMessage(std::string_view text, const SplitOptions& opt) {
    std::vector<std::string> parts;
    const long total = static_cast<long>(text.size());
    const long L = opt.msgLength > 0 ? opt.msgLength : total;
    long reserve = 0;
    std::string_view rest = text;
    while (!rest.empty() && static_cast<long>(rest.size()) + reserve > L && !opt.truncate) {
        if (static_cast<int>(parts.size()) == kMaxParts) return parts;  // the rest is dropped
        const long b = opt.displayMsgBreaks ? kLabelReserve : 0;
        // A window of 16 or less would leave no room; cut at least one character.
        const long window = std::min(std::max(L - b, 1L), static_cast<long>(rest.size()));
        long cut = window;
        for (long pos = window; pos >= 1; --pos) {
            if (rest[static_cast<std::size_t>(pos - 1)] == ' ') {
                cut = pos;
                break;
            }
        }
        std::string part = trimmed(rest.substr(0, static_cast<std::size_t>(cut)));
        if (opt.displayMsgBreaks) part += " (CONT.)";
        parts.push_back(std::move(part));
        rest.remove_prefix(static_cast<std::size_t>(cut));
        reserve = b;
    }
    if (static_cast<int>(parts.size()) == kMaxParts) return parts;
    if (parts.empty()) {
        std::string_view only = text;
        if (opt.truncate && static_cast<long>(only.size()) > L) only = only.substr(0, static_cast<std::size_t>(L));
        parts.emplace_back(only);
    } else {
        std::string last(rest);
        if (opt.displayMsgBreaks) last += " (END)";
        parts.push_back(std::move(last));
    }
    return parts;
}

std::string partLabel(int part, int parts) {
    return "(" + std::to_string(part) + " of " + std::to_string(parts) + ")  ";
}

EtapResult applyEtapSuffix(std::string& lastPart, const EtapFields& f) {
    using DC = DeliveryCommand;
    const std::string marker(kEtapMarker);
    switch (f.command) {
    case DC::dcTap:
        return EtapResult::Ok;
    case DC::dcConfirm:
        lastPart += marker + "C";
        if (!f.expire.empty()) lastPart += "V" + f.expire;
        return EtapResult::Ok;
    case DC::dcDefered:
        if (f.schedule.empty()) return EtapResult::NoSchedule;
        lastPart += marker + "S" + f.schedule;
        if (!f.expire.empty()) lastPart += "V" + f.expire;
        return EtapResult::Ok;
    case DC::dcReplace:
    case DC::dcUpdate:
        if (f.msgId.empty()) return EtapResult::NoMessageId;
        lastPart += marker + (f.command == DC::dcReplace ? "R" : "U") + f.msgId;
        if (!f.expire.empty()) lastPart += "V" + f.expire;
        if (!f.schedule.empty()) lastPart += "S" + f.schedule;
        return EtapResult::Ok;
    case DC::dcDelete:
    case DC::dcQuery:
        if (f.msgId.empty()) return EtapResult::NoMessageId;
        lastPart = marker + (f.command == DC::dcDelete ? "D" : "Q") + f.msgId;
        return EtapResult::Ok;
    }
    return EtapResult::Ok;
}

std::vector<std::string> buildBlocks(std::string_view pin, std::string_view label,
                                     std::string_view text) {
    // Worst-case tail: CR ETX, three checksum characters, CR.
    constexpr std::size_t kTail = 6;
    std::vector<std::string> blocks;
    std::string_view rest = text;
    bool first = true;
    do {
        std::string block(1, kSTX);
        if (first) {
            block += pin;
            block += kCR;
            block += label;
        }
        std::size_t room = kMaxBlock > block.size() + kTail ? kMaxBlock - block.size() - kTail : 1;
        std::size_t chunk = std::max<std::size_t>(1, std::min(kBlockText, room));
        if (rest.size() > chunk) {
            block += rest.substr(0, chunk);
            block += kUS;
            rest.remove_prefix(chunk);
        } else {
            block += rest;
            block += kCR;
            block += kETX;
            rest = {};
        }
        block += checksum(block);
        block += kCR;
        blocks.push_back(std::move(block));
        first = false;
    } while (!rest.empty());
    return blocks;
}

std::string stripControls(std::string_view text) {
    std::string out;
    for (char c : text)
        if (static_cast<unsigned char>(c) >= 32) out += c;
    return out;
}

}  // namespace nv::tap
