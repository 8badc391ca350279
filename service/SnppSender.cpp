// SendSNPPPage: the page worker's and the port threads' way to an SNPP server.
#include "service/SnppSender.h"

#include "service/SrvcMainFrm.h"

namespace nv {

bool TNerivaleSvcMain::SendSNPPPage(const std::string& server, const std::string& port, const std::string& PIN,
                                    const std::string& login, const std::string& coverage,
                                    const std::string& callerId, const std::string& message, int partLength,
                                    std::int32_t secureMode, bool twoWay, bool reverse, bool numericOnly,
                                    std::string& messageId, std::string& reply) {
    SnppRequest request;
    request.server = server;
    request.port = port;
    request.PIN = PIN;
    request.login = login;
    request.coverage = coverage;
    request.callerId = callerId;
    request.message = message;
    request.partLength = partLength;
    request.secureMode = secureMode;
    request.twoWay = twoWay;
    request.reverse = reverse;
    request.numericOnly = numericOnly;
    request.messageId = messageId;
    request.timing = m_options.snpp;
    // Stop ends the waits and pauses as a cancel does; the cancel flag itself is only read.
    request.cancelled = [this] { return Cancelcall.load() || Terminate.load() || m_workers.stopFlag().load(); };
    request.log = [this](const std::string& line) { WriteToLog(line); };
    SnppSession session(steadyClock(), m_clock);
    SnppResult result = session.send(request);
    messageId = result.messageId;
    reply = result.reply;
    return result.delivered;
}

}  // namespace nv
