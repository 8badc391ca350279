#pragma once
// Scripted short-message centres for the SMPP and CIMD2 tests: they speak the
// wire from the protocols' published descriptions, record what they receive and
// answer as the test sets them up. Run one per LoopbackServer connection.
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "tests/peers/LoopbackServer.h"

namespace nv::test {

struct SmppRecord {
    std::uint32_t commandId = 0;
    std::uint32_t status = 0;
    std::uint32_t sequence = 0;
    std::string body;
};

class SmppCentre {
public:
    std::uint32_t bindStatus = 0;
    std::uint32_t submitStatus = 0;
    bool answerBind = true;
    bool enquireBeforeSubmitResp = false;
    int queryState = 6;

    // Serves one connection; ids given to submits are "MSG1", "MSG2", ...
    void serve(PeerConnection& c);
    std::vector<SmppRecord> received();
    static std::string pdu(std::uint32_t id, std::uint32_t status, std::uint32_t seq, const std::string& body = {});
    // The destination_addr and short_message of a submit_sm body.
    static std::string submitDestination(const std::string& body);
    static std::string submitText(const std::string& body);

private:
    std::mutex m_mutex;
    std::vector<SmppRecord> m_received;
    int m_submits = 0;
};

// A CIMD2 centre: the password "secret" logs in; submits get time stamps
// "261210120001", ...; status enquiries answer `statusCode`.
class Cimd2Centre {
public:
    std::string password = "secret";
    std::string statusCode = "4";
    void serve(PeerConnection& c);
    // Each packet as "OO:NNN" plus its parameters.
    struct Seen {
        int operation = 0;
        int number = 0;
        std::map<int, std::string> params;
    };
    std::vector<Seen> received();

private:
    std::mutex m_mutex;
    std::vector<Seen> m_received;
    int m_submits = 0;
};

}  // namespace nv::test
