// TKORAlpaPage: message preparation, the block dialogue and the delivery check.
#include <algorithm>
#include <cctype>

#include "protocols/KORAlphaPage.h"

namespace nv {

namespace {

constexpr const char* kDeliveryStatus = "Delivery Status";
constexpr const char* kDeliveryError = "Delivery Error";
constexpr const char* kDeliveryFail = "Delivery Fail";
constexpr const char* kDeliveryOK = "Delivery OK";

// Extended-TAP reply texts that carry a message ID as their second word.
constexpr const char* kIdReplies[] = {
    " query failed - ",    " query successful - ",   " replace successful - ", " replace failed - ",
    " delete failed - ",   " delete request",        " confirm successful - ", " confirm failed - ",
    " send successful - ", " send failed - ",        " update successful - ",  " update failed - ",
};

bool isInteger(const std::string& s) {
    std::size_t i = (!s.empty() && (s[0] == '-' || s[0] == '+')) ? 1 : 0;
    if (i >= s.size() || s.size() - i > 10) return false;
    for (; i < s.size(); ++i)
        if (s[i] < '0' || s[i] > '9') return false;
    return true;
}

std::string secondWord(const std::string& text) {
    std::size_t pos = 0;
    for (int word = 0; word < 2; ++word) {
        while (pos < text.size() && text[pos] == ' ') ++pos;
        std::size_t end = text.find(' ', pos);
        if (end == std::string::npos) end = text.size();
        if (word == 1) return text.substr(pos, end - pos);
        pos = end;
    }
    return {};
}

}  // namespace

void TKORAlpaPage::SetSendStatus(const std::string& text, const std::string& caption) {
    ETapMsgID.clear();
    for (const char* marker : kIdReplies) {
        if (text.find(marker) == std::string::npos) continue;
        std::string id = tap::stripControls(secondWord(text));
        ETapMsgID = isInteger(id) ? id : std::string();
        ErrorStr = text;
        break;
    }
    SendResult = tap::stripControls(text);
    status(text, caption);
}

bool TKORAlpaPage::SendTextMessage(const std::string& PIN, const std::string& Msg) {
    MsgsSubmited = 0;
    LastSendOutcome = SendOutcome::Failed;
    if (!bConnected) return false;
    Message = Msg;
    PinNumber = PIN;
    return sendMessage();
}

bool TKORAlpaPage::sendMessage() {
    ErrorStr.clear();
    SendResult.clear();
    LastSendOutcome = SendOutcome::Failed;
    if (PinNumber.empty()) {
        SetSendStatus("No PIN Found!", kDeliveryError);
        throw EPageError::CreateRes(10);
    }
    std::string text = NumericOnly ? tap::digitsOnly(Message) : Message;
    if (text.empty() && (ETAPCommand == dcTap || ETAPCommand == dcConfirm)) {
        Hangup();
        SetSendStatus("No Message To Send!", kDeliveryError);
        throw EPageError::CreateRes(8);
    }
    text = tap::escapeText(text);
    status("Sending Message To " + PinNumber, kDeliveryStatus);
    std::vector<std::string> parts = tap::splitMessage(text, {MsgLength, DisplayMsgBreaks, TurncateMsgs});
    if (ETAPCommand != dcTap && (SMSType == stNextel || SMSType == stAldiscon)) {
        switch (tap::applyEtapSuffix(parts.back(), {ETAPCommand, ETapMsgID, ETapMsgExpire, ETapMsgSchedule})) {
        case tap::EtapResult::NoSchedule:
            status("No Schedule Date!", kDeliveryError);
            throw EPageError::CreateRes(25);
        case tap::EtapResult::NoMessageId:
            status("No Message ID!", kDeliveryError);
            throw EPageError::CreateRes(26);
        case tap::EtapResult::Ok:
            break;
        }
    }
    pumpSleep(2);
    MsgsSubmited = 0;
    const int n = static_cast<int>(parts.size());
    // A message longer than the whole quota still goes out on a fresh call
    // (it could never be sent otherwise); on a used call the caller is told to
    // redial instead of counting a failed page.
    if (MaxMessagesPerCall != 0 && MaxMessagesPerCall < MsgsSentThisCall + n && MsgsSentThisCall > 0) {
        ErrorStr = "Message Exceeds Msgs Per Call.";
        status(ErrorStr, kDeliveryStatus);
        LastSendOutcome = SendOutcome::CallQuotaUsed;
        return false;
    }
    const bool reverse = SendReverseOrder && !TurncateMsgs;
    bool ok = true;
    for (int k = 0; k < n; ++k) {
        const int index = reverse ? n - 1 - k : k;
        pumpSleep(5);
        ++MsgsSubmited;
        if (!sendPart(parts[static_cast<std::size_t>(index)], index + 1, n)) {
            ok = false;
            break;
        }
    }
    MsgsSentThisCall += MsgsSubmited;
    LastSendOutcome = ok ? SendOutcome::Sent : SendOutcome::Failed;
    return ok;
}

bool TKORAlpaPage::sendPart(const std::string& text, int partNo, int parts) {
    if (SMSType == stNextel || SMSType == stAldiscon) ETAP = text.find(tap::kEtapMarker) != std::string::npos;
    status("Sending Block " + std::to_string(partNo) + " of " + std::to_string(parts), kDeliveryStatus);
    pump();
    pause(500);
    const std::string label = parts > 1 && DisplayMsgBreaks ? tap::partLabel(partNo, parts) : std::string();
    const std::string replies = tap::blockReplyList();
    bool result = false;
    // Checksum errors count for the whole part, not for each of its blocks.
    int errors = 0;
    for (const std::string& block : tap::buildBlocks(PinNumber, label, text)) {
        bool acked = false;
        while (!acked) {
            pumpSleep(5);
            if (errors == 3) {
                SetSendStatus("To Many Errors, Disconnecting", kDeliveryFail);
                raiseIfShown(18);
                return false;
            }
            SendString(block);
            pause(10);
            std::string reply;
            const int index = WaitFor(replies, reply, 10);
            auto take = [&](const std::string& t) {
                if (!ETAP || reply.empty()) reply = t;
            };
            switch (tap::classifyBlockReply(index)) {
            case tap::BlockReply::Ack:
                take("Message Submitted For Processing");
                SetSendStatus(reply, kDeliveryOK);
                deliveryCheck();
                result = true;
                acked = true;
                break;
            case tap::BlockReply::Nak:
                take("Error: Checksum Error-Retransmitting");
                SetSendStatus(reply, kDeliveryError);
                ++errors;
                break;
            case tap::BlockReply::InvalidPin:
                if (!ETAP) reply = "Invalid PIN Number";
                else if (reply.empty()) reply = "Error: Invalid PIN Number";
                SetSendStatus(reply, kDeliveryFail);
                raiseIfShown(4);
                return false;
            case tap::BlockReply::InvalidPinAfterLineEnd:
                take("Invalid PIN Number");
                SetSendStatus(reply, kDeliveryFail);
                if (!ETAP) raiseIfShown(4);
                return false;
            case tap::BlockReply::Disconnect:
                take("Paging Terminal Disconnected");
                SetSendStatus(reply, kDeliveryFail);
                Hangup();
                raiseIfShown(18);
                return false;
            case tap::BlockReply::None:
                pump();
                SetSendStatus(reply.empty() ? "Error: No or Uknown Response From Terminal" : "Error: " + reply,
                              kDeliveryFail);
                if (!ETAP) raiseIfShown(0);
                return false;
            }
        }
    }
    return result;
}

// After an ACK that carries a message ID (the Nextel dialect): ask once whether
// the message was delivered. The query goes out alone; the parts already sent
// are not sent again and the message's counters stay as they are.
void TKORAlpaPage::deliveryCheck() {
    if (SMSType != stNextel || ETapMsgID.empty()) return;
    status("Checking Delivery Status...", kDeliveryStatus);
    if (++FvdCount >= 2) {
        FvdCount = 0;
        ETapMsgID = fHoldMessageID;
        return;
    }
    pump();
    fHoldMessageID = ETapMsgID;
    std::string lower = SendResult;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    if (lower.find("replace") != std::string::npos || lower.find("delete") != std::string::npos) return;
    if (lower.find("message has been delivered") != std::string::npos) {
        FvdCount = 0;
        ETapMsgID = fHoldMessageID;
        return;
    }
    for (int i = 0; i < 7; ++i) {
        pump();
        if (bDropped) return;
        pause(500);
    }
    ETAPCommand = dcQuery;
    std::string query(tap::kEtapMarker);
    query += "Q" + fHoldMessageID;
    sendPart(query, 1, 1);
    // A query answered without an ID never runs the second check; start afresh.
    FvdCount = 0;
}

}  // namespace nv
