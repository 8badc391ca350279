#include "protocols/KORInetPagingJobs.h"

#include <algorithm>
#include <cctype>
#include <exception>

#include "foundation/PageRecord.h"

namespace nv {
namespace {

constexpr const char* kDefaultSender = "NOYB";
constexpr const char* kNoMessageNumeric = "errorText=No Message To Send, Numeric Only Pager!";
constexpr const char* kNoMessage = "errorText=No Message To Send!";
constexpr const char* kSmtpConnectionError = "[SMTP Connection Error] ";

// Port text of the provider record; one that is not a port keeps the record default.
std::uint16_t portFromText(const std::string& text, std::uint16_t fallback) {
    if (text.empty() || text.size() > 5 ||
        !std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); }))
        return fallback;
    const long value = std::stol(text);
    return value > 0 && value <= 65535 ? static_cast<std::uint16_t>(value) : fallback;
}

}  // namespace

bool isWCTPStatusQuery(const std::string& message) { return isStatusQuery(message); }

std::string numericOnlyText(const std::string& text) {
    std::string out;
    std::copy_if(text.begin(), text.end(), std::back_inserter(out), [](char c) { return c >= '0' && c <= '9'; });
    return out;
}

std::unique_ptr<TWCTPData> makeWCTPJob(const TKORInetPagingComp& comp, const ProviderRec& provider,
                                       const std::string& pin, const WctpSection& wctp, const ProxySection& proxy,
                                       const std::vector<std::string>* choices) {
    auto d = comp.LoadWCTPData();
    if (proxy.Enabled) {
        d->fProxyServer = proxy.Server;
        d->fProxyUserName = proxy.User;
        d->fProxyPassword = proxy.Pass;
    }
    d->fAllowResponse = false;
    d->fWCTPNotifyWhenQueued = provider.WCTPNotifyWhenQueued();
    d->fWCTPNotifyWhenDelivered = provider.WCTPNotifyWhenDelivered();
    d->fWCTPNotifyWhenRead = provider.WCTPNotifyWhenRead();
    d->fWCTPDocType = provider.WCTPDocType();
    d->fPIN = pin;
    d->fMaxLength = provider.MsgLength();
    d->fMiscSenderInfo = wctp.WCTPMiscSenderInfo;
    d->fSenderID = wctp.WCTPSenderID;
    d->fFailOnBadSSL = wctp.WCTPFOBSSL;
    d->fSecurityCode = provider.WCTPPass();
    d->fWCTPServer = provider.WCTPServer();
    d->fWCTPPort = portFromText(provider.WCTPPort(), d->fWCTPPort);
    if (choices && !choices->empty()) {
        for (const std::string& choice : *choices) d->fMCRText += choice + "\r\n";
    }
    if (!provider.WCTPUser().empty()) d->fSenderID = provider.WCTPUser();
    d->WCTPEnterprise = false;
    if (!provider.WCTPPass().empty()) d->fMiscSenderInfo = provider.WCTPPass();
    if (d->fSenderID.empty()) d->fSenderID = kDefaultSender;
    d->fSendResponseTo.clear();
    d->clampFields();
    return d;
}

bool sendWCTPPage(const TKORInetPagingComp& comp, const ProviderRec& provider, const std::string& pin,
                  bool numericOnly, const std::string& message, const WctpSection& wctp, const ProxySection& proxy,
                  std::string& replyText, const std::vector<std::string>* choices) {
    replyText.clear();
    // A failure of any kind is a failed page with a reason, never an exception
    // that leaves the caller's page behind.
    try {
        auto job = makeWCTPJob(comp, provider, pin, wctp, proxy, choices);
        bool ok = false;
        if (isWCTPStatusQuery(message)) {
            ok = comp.SendWCTPQuery(message.substr(kStatusQueryPrefix.size()), *job);
        } else {
            const std::string text = numericOnly ? numericOnlyText(message) : message;
            if (text.empty()) {
                replyText = std::string(numericOnly ? kNoMessageNumeric : kNoMessage) + "\r\n";
                return false;
            }
            job->fMessage = text;
            ok = comp.SendWCTPMessage(*job);
        }
        replyText = job->fRspData;
        return ok;
    } catch (const std::exception& e) {
        replyText = std::string("errorText=") + e.what() + "\r\n";
        return false;
    }
}

TSMTPData makeSMTPJob(const SmtpSection& smtp, const std::string& to, const std::string& subject,
                      const std::string& body) {
    TSMTPData d;
    d.SMTPServer = smtp.Server;
    // A port text that is not a port number means the standard port.
    d.SMTPPort = smtp.Port.value > 0 && smtp.Port.value <= 65535 ? static_cast<std::uint16_t>(smtp.Port.value) : 25;
    d.SenderEMail = smtp.Sender;
    d.Password = smtp.Pass;
    d.User = smtp.User;
    d.UseSSL = smtp.UseSSL;
    d.DestPin = to;
    d.Subject = subject;
    d.SendType = 1;
    d.TimeOut = 60;
    d.MsgToSend = body;
    d.clampFields();
    return d;
}

bool sendSMTPPage(const TKORInetPagingComp& comp, const SmtpSection& smtp, const std::string& to,
                  const std::string& subject, const std::string& body, std::string& logLine) {
    logLine.clear();
    if (!smtp.Enabled) return false;
    TSMTPData job = makeSMTPJob(smtp, to, subject, body);
    bool ok = false;
    try {
        ok = comp.SendMailMessage(job);
    } catch (const std::exception& e) {
        job.SendError = std::string(e.what()).substr(0, 50);
    }
    if (!ok) logLine = kSmtpConnectionError + job.SendError + " PIN: " + to + " Msg: " + body;
    return ok;
}

}  // namespace nv
