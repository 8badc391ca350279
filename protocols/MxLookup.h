#pragma once
// Mail exchangers of a domain through libresolv, in the calling thread, with a
// resolver state of its own per call (res_ninit), so look-ups from several
// threads never share state.
#include <string>
#include <vector>

namespace nv {

struct ResolverConfig {
    // "a.b.c.d" or "a.b.c.d:port"; empty: the system's /etc/resolv.conf.
    std::string nameServer;
    int timeoutSeconds = 0;  // per try; 0: the resolver's default
    int attempts = 0;        // 0: the resolver's default
};

struct MxRecord {
    int preference = 0;
    std::string host;
};

enum class MxStatus { Found, NoRecords, Failed };

// Found: `records` sorted by numeric preference (ties keep the answer's order).
// NoRecords: the domain has no mail exchangers (or does not exist).
// Failed: no answer could be had; `error` says why.
// The MX records of a DNS answer as res_nquery gives it, in answer order;
// false when the answer is malformed. Apart so that the fuzz target reaches it.
bool parseMxAnswer(const unsigned char* answer, int length, std::vector<MxRecord>& records);

MxStatus lookupMx(const std::string& domain, const ResolverConfig& config, std::vector<MxRecord>& records,
                  std::string& error);

}  // namespace nv
