#include "protocols/SmppPdu.h"

#include <cstdio>

namespace nv::smpp {
namespace {

void putU32(std::string& out, std::uint32_t v) {
    out += static_cast<char>((v >> 24) & 0xFF);
    out += static_cast<char>((v >> 16) & 0xFF);
    out += static_cast<char>((v >> 8) & 0xFF);
    out += static_cast<char>(v & 0xFF);
}

std::uint32_t getU32(std::string_view in, std::size_t at) {
    auto b = [&](std::size_t i) { return static_cast<std::uint32_t>(static_cast<unsigned char>(in[at + i])); };
    return (b(0) << 24) | (b(1) << 16) | (b(2) << 8) | b(3);
}

// C-Octet strings end at NUL; a field is cut to its maximum less the NUL, and
// a NUL inside the text would end it early, so it is dropped.
void putCString(std::string& out, std::string_view text, std::size_t maxWithNul) {
    std::size_t n = 0;
    for (char c : text) {
        if (n + 1 >= maxWithNul) break;
        if (c == '\0') continue;
        out += c;
        ++n;
    }
    out += '\0';
}

std::string withHeader(std::uint32_t id, std::uint32_t status, std::uint32_t sequence,
                       const std::string& body) {
    std::string out;
    putU32(out, static_cast<std::uint32_t>(kHeaderSize + body.size()));
    putU32(out, id);
    putU32(out, status);
    putU32(out, sequence);
    return out + body;
}

// Reads a C-Octet string at `pos`; false when the NUL is missing.
bool readCString(std::string_view body, std::size_t& pos, std::string& out) {
    std::size_t end = body.find('\0', pos);
    if (end == std::string_view::npos) return false;
    out.assign(body.substr(pos, end - pos));
    pos = end + 1;
    return true;
}

}  // namespace

std::string bindTransmitter(std::uint32_t sequence, std::string_view systemId,
                            std::string_view password, std::string_view systemType) {
    std::string body;
    putCString(body, systemId, 16);
    putCString(body, password, 9);
    putCString(body, systemType, 13);
    body += static_cast<char>(kInterfaceVersion);
    body += '\0';  // addr_ton
    body += '\0';  // addr_npi
    body += '\0';  // address_range ""
    return withHeader(kBindTransmitter, 0, sequence, body);
}

std::string submitSm(std::uint32_t sequence, std::string_view destination,
                     std::string_view shortMessage) {
    std::string body;
    body += '\0';              // service_type ""
    body += '\0';              // source_addr_ton
    body += '\0';              // source_addr_npi
    body += '\0';              // source_addr ""
    body += '\0';              // dest_addr_ton
    body += '\0';              // dest_addr_npi
    putCString(body, destination, 21);
    body += '\0';              // esm_class
    body += '\0';              // protocol_id
    body += '\0';              // priority_flag
    body += '\0';              // schedule_delivery_time ""
    body += '\0';              // validity_period ""
    body += '\0';              // registered_delivery
    body += '\0';              // replace_if_present_flag
    body += '\0';              // data_coding: SMSC default alphabet
    body += '\0';              // sm_default_msg_id
    std::string_view sm = shortMessage.substr(0, 254);
    body += static_cast<char>(sm.size());
    body.append(sm);
    return withHeader(kSubmitSm, 0, sequence, body);
}

std::string querySm(std::uint32_t sequence, std::string_view messageId) {
    std::string body;
    putCString(body, messageId, 65);
    body += '\0';  // source_addr_ton
    body += '\0';  // source_addr_npi
    body += '\0';  // source_addr ""
    return withHeader(kQuerySm, 0, sequence, body);
}

std::string unbind(std::uint32_t sequence) { return withHeader(kUnbind, 0, sequence, {}); }

std::string enquireLinkResp(std::uint32_t sequence) {
    return withHeader(kEnquireLinkResp, 0, sequence, {});
}

std::string genericNack(std::uint32_t sequence, std::uint32_t status) {
    return withHeader(kGenericNack, status, sequence, {});
}

Parse takePdu(std::string& buffer, Pdu& out) {
    if (buffer.size() < kHeaderSize) return Parse::NeedMore;
    std::uint32_t length = getU32(buffer, 0);
    if (length < kHeaderSize || length > kMaxPduSize) return Parse::Invalid;
    if (buffer.size() < length) return Parse::NeedMore;
    out.header.length = length;
    out.header.commandId = getU32(buffer, 4);
    out.header.status = getU32(buffer, 8);
    out.header.sequence = getU32(buffer, 12);
    out.body = buffer.substr(kHeaderSize, length - kHeaderSize);
    buffer.erase(0, length);
    return Parse::Complete;
}

std::optional<std::string> messageIdOf(const Pdu& pdu) {
    std::size_t pos = 0;
    std::string id;
    // A failed response may carry no body at all.
    if (pdu.body.empty()) return std::string();
    if (!readCString(pdu.body, pos, id)) return std::nullopt;
    return id;
}

std::optional<QueryResult> parseQuerySmResp(const Pdu& pdu) {
    QueryResult r;
    std::size_t pos = 0;
    if (!readCString(pdu.body, pos, r.messageId)) return std::nullopt;
    if (!readCString(pdu.body, pos, r.finalDate)) return std::nullopt;
    if (pos + 2 > pdu.body.size()) return std::nullopt;
    r.messageState = static_cast<unsigned char>(pdu.body[pos]);
    r.errorCode = static_cast<unsigned char>(pdu.body[pos + 1]);
    return r;
}

std::string statusText(std::uint32_t status) {
    const char* name = nullptr;
    switch (status) {
        case 0x00: name = "ESME_ROK"; break;
        case 0x01: name = "ESME_RINVMSGLEN"; break;
        case 0x02: name = "ESME_RINVCMDLEN"; break;
        case 0x03: name = "ESME_RINVCMDID"; break;
        case 0x04: name = "ESME_RINVBNDSTS"; break;
        case 0x05: name = "ESME_RALYBND"; break;
        case 0x08: name = "ESME_RSYSERR"; break;
        case 0x0A: name = "ESME_RINVSRCADR"; break;
        case 0x0B: name = "ESME_RINVDSTADR"; break;
        case 0x0C: name = "ESME_RINVMSGID"; break;
        case 0x0D: name = "ESME_RBINDFAIL"; break;
        case 0x0E: name = "ESME_RINVPASWD"; break;
        case 0x0F: name = "ESME_RINVSYSID"; break;
        case 0x14: name = "ESME_RMSGQFUL"; break;
        case 0x45: name = "ESME_RSUBMITFAIL"; break;
        case 0x58: name = "ESME_RTHROTTLED"; break;
        case 0x67: name = "ESME_RQUERYFAIL"; break;
        default: break;
    }
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08X", status);
    return name ? std::string(name) + " (" + hex + ")" : std::string("SMPP error ") + hex;
}

}  // namespace nv::smpp
