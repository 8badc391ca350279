#pragma once
// Job records of the internet pager. The Windows version kept them as packed records
// of short strings; here they are plain structs, but each text keeps its
// capacity: the pager cuts every field to it before use (clampFields), so a
// caller that fills a field with a longer text gets what the Windows version sent.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace nv {

enum class TDeliveryPriority { dpHigh, dpNormal, dpLow };

// Published location of the WCTP 1r1 document type definition.
inline constexpr const char* kWCTPDefaultDocType = "http://dtd.wctp.org/wctp-dtd-v1r1.dtd";

struct TWCTPData {
    bool fWCTPNotifyWhenQueued = false;
    bool fWCTPNotifyWhenDelivered = false;
    bool fWCTPNotifyWhenRead = false;
    std::string fWCTPDocType = kWCTPDefaultDocType;  // 255
    int fMaxLength = 999;                            // 0 or less: no splitting
    std::string fMessage;
    std::string fPIN;             // 100
    std::string fSenderID;        // 100
    std::string fSecurityCode;    // 35
    std::string fSendResponseTo;  // 100
    bool fAllowResponse = false;
    bool fAllowTruncation = false;  // stored, never written
    bool fPreformatted = false;
    bool fForceMCRPayload = false;
    TDeliveryPriority fDeliveryPriority = TDeliveryPriority::dpNormal;
    std::string fDeliverBefore;    // 50
    std::string fDeliverAfter;     // 50
    std::string fMiscSenderInfo;   // 100
    std::vector<std::string> fMCRList;
    std::string fMCRText;          // one choice per line; wins over fMCRList
    std::string fRspData;          // out: name=value lines, each ended by CR LF; empty: none
    std::uint16_t fWCTPPort = 80;  // a port in fWCTPServer overwrites it
    bool fCancelCall = false;
    bool fFailOnBadSSL = true;
    bool WCTPEnterprise = false;
    std::string fMessageID;        // 25
    std::string fTransactionID;    // 35
    std::string fWCTPServer;       // 255
    std::string fProxyServer;      // 255, host or host:port
    std::string fProxyUserName;    // 50
    std::string fProxyPassword;    // 50

    void clampFields();
};

struct TSMTPData {
    std::string SMTPServer;  // 255; empty: the recipient domain's mail exchangers
    std::uint16_t SMTPPort = 25;
    std::string SenderEMail;  // 150
    std::string DestPin;      // 150; addresses separated by ";"
    std::string Subject;      // 75
    std::string Password;     // 25
    std::string User;         // 150; empty: no login
    std::string MsgToSend;
    int SendType = 1;         // only the SMTP path (1) exists
    std::string SendError;    // out, 50
    std::string Attachment;   // 255; path of a file to attach, empty: none
    int TimeOut = 60;         // seconds
    bool UseSSL = false;

    void clampFields();
};

inline void cutTo(std::string& text, std::size_t capacity) {
    if (text.size() > capacity) text.resize(capacity);
}

}  // namespace nv
