#include "protocols/MxLookup.h"

#include <arpa/inet.h>
#include <arpa/nameser.h>
#include <netdb.h>
#include <netinet/in.h>
#include <resolv.h>

#include <algorithm>
#include <cstring>

namespace nv {
namespace {

bool applyNameServer(res_state state, const std::string& server) {
    std::string host = server;
    int port = 53;
    std::size_t colon = server.rfind(':');
    if (colon != std::string::npos) {
        host = server.substr(0, colon);
        try {
            port = std::stoi(server.substr(colon + 1));
        } catch (...) {
            return false;
        }
        if (port <= 0 || port > 65535) return false;
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    if (::inet_pton(AF_INET, host.c_str(), &addr.sin_addr) != 1) return false;
    state->nsaddr_list[0] = addr;
    state->nscount = 1;
    return true;
}

std::string failureText(int herr) {
    switch (herr) {
    case TRY_AGAIN: return "DNS Server Failed To Answer";  // time-out or SERVFAIL
    case NO_RECOVERY: return "DNS Server Failure";
    default: return "DNS Query Failed";
    }
}

}  // namespace

bool parseMxAnswer(const unsigned char* answer, int length, std::vector<MxRecord>& records) {
    ns_msg msg;
    if (ns_initparse(answer, length, &msg) < 0) return false;
    const int count = ns_msg_count(msg, ns_s_an);
    for (int i = 0; i < count; ++i) {
        ns_rr rr;
        if (ns_parserr(&msg, ns_s_an, i, &rr) < 0) return false;
        if (ns_rr_type(rr) != ns_t_mx || ns_rr_rdlen(rr) < 3) continue;
        const unsigned char* rdata = ns_rr_rdata(rr);
        char host[NS_MAXDNAME];
        if (dn_expand(ns_msg_base(msg), ns_msg_end(msg), rdata + 2, host, sizeof host) < 0) return false;
        records.push_back({static_cast<int>(ns_get16(rdata)), host});
    }
    return true;
}

MxStatus lookupMx(const std::string& domain, const ResolverConfig& config, std::vector<MxRecord>& records,
                  std::string& error) {
    records.clear();
    struct __res_state state;
    std::memset(&state, 0, sizeof state);
    if (res_ninit(&state) != 0) {
        error = "Resolver Not Available";
        return MxStatus::Failed;
    }
    if (!config.nameServer.empty() && !applyNameServer(&state, config.nameServer)) {
        res_nclose(&state);
        error = "Invalid Name Server " + config.nameServer;
        return MxStatus::Failed;
    }
    if (config.timeoutSeconds > 0) state.retrans = config.timeoutSeconds;
    if (config.attempts > 0) state.retry = config.attempts;

    unsigned char answer[NS_MAXMSG];
    int length = res_nquery(&state, domain.c_str(), ns_c_in, ns_t_mx, answer, sizeof answer);
    const int herr = state.res_h_errno;
    res_nclose(&state);
    if (length < 0) {
        if (herr == HOST_NOT_FOUND || herr == NO_DATA) return MxStatus::NoRecords;
        error = failureText(herr);
        return MxStatus::Failed;
    }
    if (!parseMxAnswer(answer, length, records)) {
        records.clear();
        error = "Malformed DNS Answer";
        return MxStatus::Failed;
    }
    // Lower preference first: the old text sort tried "10=" before "5=".
    std::stable_sort(records.begin(), records.end(),
                     [](const MxRecord& a, const MxRecord& b) { return a.preference < b.preference; });
    return records.empty() ? MxStatus::NoRecords : MxStatus::Found;
}

}  // namespace nv
