// SendSMPPPage: the page worker's and the port threads' way to a short-message centre.
#include "service/SmppSender.h"

#include "service/SrvcMainFrm.h"

namespace nv {

bool TNerivaleSvcMain::SendSMPPPage(const std::string& server, const std::string& port, const std::string& PIN,
                                    const std::string& user, const std::string& password,
                                    const std::string& message, std::int32_t secureMode, std::int32_t protocol,
                                    bool reverse, bool numericOnly, std::string& messageId, std::string& reply) {
    SmppRequest request;
    request.server = server;
    request.port = port;
    request.PIN = PIN;
    request.user = user;
    request.password = password;
    request.message = message;
    request.secureMode = secureMode;
    request.protocol = protocol;
    request.reverse = reverse;
    request.numericOnly = numericOnly;
    request.messageId = messageId;
    request.timing = m_options.smpp;
    // Stop ends the waits and pauses as a cancel does; the cancel flag itself is only read.
    request.cancelled = [this] { return Cancelcall.load() || Terminate.load() || m_workers.stopFlag().load(); };
    request.log = [this](const std::string& line) { WriteToLog(line); };
    SmppSession session(steadyClock(), m_clock);
    SmppResult result = session.send(request);
    messageId = result.messageId;
    reply = result.reply;
    return result.delivered;
}

}  // namespace nv
