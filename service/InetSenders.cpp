// The engine's WCTP and e-mail senders, and the port threads' binding of every
// network sender (SMPP and SNPP have files of their own), as the page workers and
// the port threads call them. Each runs in the calling thread and blocks it.
//
// [WCTP], [Proxy] and [SMTP] are read from Config.Dat on every call, so an
// edit reaches the next page. The internet pager keeps no state between calls,
// so any number of workers and port threads may send through the one
// KORInetPagingComp1 at once.
//
// Mended against the Windows version, on purpose:
// - only a text that begins with "MSTA " is a WCTP status query;
// - a failed send of any kind comes back as false with a reason, never as an
//   exception that would leave a worker's page behind.
#include <algorithm>
#include <exception>

#include "foundation/ConfigFile.h"
#include "foundation/FileUtil.h"
#include "protocols/KORInetPagingJobs.h"
#include "protocols/WctpReply.h"
#include "service/DeliveryMethods.h"
#include "service/SrvcMainFrm.h"

namespace nv {

namespace {

constexpr const char* kNoWctpProvider = "errorText=No WCTP Provider For This Page";

}  // namespace

InetPagingOptions TNerivaleSvcMain::inetPagingOptions() const {
    InetPagingOptions o = m_options.inetPaging;
    // Stop ends a post or a mail session at once; Cancelcall is only read
    // before a WCTP page starts, as the port threads and workers expect.
    o.cancel = &Terminate;
    return o;
}

bool TNerivaleSvcMain::SendWCTPPage(const TQueueRec& page, const std::string& message,
                                    std::vector<std::string>& replyList,
                                    const std::vector<std::string>* responseChoices, bool useSecondary) {
    if (Cancelcall.load()) return false;
    const ProviderRec* provider = useSecondary ? page.SecondaryProvider.get() : page.PrimaryProvider.get();
    replyList.clear();
    if (!provider || !page.Recipient) {
        replyList.push_back(kNoWctpProvider);
        return false;
    }
    const std::string PIN = useSecondary ? page.Recipient->SecPIN() : page.Recipient->PIN();
    const ConfigFile cfg = ConfigFile::inDataDirectory(m_options.dataDir, ConfigSide::Service);
    std::string reply;
    const bool ok = sendWCTPPage(KORInetPagingComp1, *provider, PIN, page.Recipient->NumericOnly(), message,
                                 cfg.wctp(), cfg.proxy(), reply, responseChoices);
    replyList = replyLines(reply);
    return ok;
}

bool TNerivaleSvcMain::SendSMTPMessage(const std::string& to, const std::string& subject, const std::string& body) {
    const SmtpSection smtp = ConfigFile::inDataDirectory(m_options.dataDir, ConfigSide::Service).smtp();
    std::string line;
    const bool ok = sendSMTPPage(KORInetPagingComp1, smtp, to, subject, body, line);
    if (!line.empty()) WriteToLog(line);
    return ok;
}

void TNerivaleSvcMain::BindNetworkSenders(NetworkSenders& senders) {
    senders.SendSMTPMessage = [this](const NetworkSend& s, std::string&, std::string&, std::vector<std::string>&) {
        return SendSMTPMessage(s.PIN, s.subject, s.message);
    };
    senders.SendSMPPPage = [this](const NetworkSend& s, std::string& messageId, std::string& reply,
                                  std::vector<std::string>&) {
        const ProviderRec& p = s.provider;
        return SendSMPPPage(p.SMPPServer(), std::to_string(p.SMPPort()), s.PIN, p.SMPPUserName(), p.SMPPPassword(),
                            s.message, p.SMPPSecureMode(), p.SMPPProtocol(), s.page.Recipient->ReverseOrder(),
                            s.page.Recipient->NumericOnly(), messageId, reply);
    };
    senders.SendSNPPPage = [this](const NetworkSend& s, std::string& messageId, std::string& reply,
                                  std::vector<std::string>&) {
        const ProviderRec& p = s.provider;
        // The caller identity comes from the page's primary provider in both modes.
        const ProviderRec& primary = s.page.PrimaryProvider ? *s.page.PrimaryProvider : p;
        const SnppParts parts = snppParts(p, *s.page.Recipient, s.message, DeliveryPath::PortThread);
        return SendSNPPPage(p.SNPPServer(), p.SNPPPort(), s.PIN, p.SNPPUser() + " " + p.SNPPPass(), p.Coverage(),
                            primary.SNPPCallerID(), s.message, parts.partLength, p.SNPPSecure(), p.TwoWay(),
                            parts.reverse, s.page.Recipient->NumericOnly(), messageId, reply);
    };
    senders.SendWCTPPage = [this](const NetworkSend& s, std::string&, std::string&,
                                  std::vector<std::string>& replyList) {
        return SendWCTPPage(s.page, s.message, replyList, nullptr, s.hold);
    };
}

}  // namespace nv
