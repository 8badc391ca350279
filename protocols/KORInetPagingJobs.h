#pragma once
// The engine's WCTP and e-mail senders in one call each: the job records are
// filled from the provider record and the Config.Dat sections the engine has
// just read, the pager runs them, and the engine is left with its counters,
// its log and its fallback. Nothing here keeps state between calls.
#include <string>
#include <vector>

#include "foundation/ConfigFile.h"
#include "foundation/Records.h"
#include "protocols/KORInetPaging.h"

namespace nv {

// isStatusQuery (foundation/PageRecord.h): the old test for "MSTA" anywhere
// turned ordinary pages into queries.
bool isWCTPStatusQuery(const std::string& message);

// The digits 0-9 of `text`, for numeric-only recipients.
std::string numericOnlyText(const std::string& text);

// A request record filled for one page to `provider` (a WCTP provider) and `pin`.
std::unique_ptr<TWCTPData> makeWCTPJob(const TKORInetPagingComp& comp, const ProviderRec& provider,
                                       const std::string& pin, const WctpSection& wctp, const ProxySection& proxy,
                                       const std::vector<std::string>* choices = nullptr);

// Sends `message` (or, for "MSTA <id>", queries <id>); `replyText` receives the
// reply lines (name=value, CR LF ended) the caller's reply list takes.
bool sendWCTPPage(const TKORInetPagingComp& comp, const ProviderRec& provider, const std::string& pin,
                  bool numericOnly, const std::string& message, const WctpSection& wctp, const ProxySection& proxy,
                  std::string& replyText, const std::vector<std::string>* choices = nullptr);

// A mail job filled from [SMTP] for one e-mail page.
TSMTPData makeSMTPJob(const SmtpSection& smtp, const std::string& to, const std::string& subject,
                      const std::string& body);

// False at once (and no log line) when [SMTP] Enabled is off. On a failed send
// `logLine` receives "[SMTP Connection Error] <error> PIN: <to> Msg: <body>".
bool sendSMTPPage(const TKORInetPagingComp& comp, const SmtpSection& smtp, const std::string& to,
                  const std::string& subject, const std::string& body, std::string& logLine);

}  // namespace nv
