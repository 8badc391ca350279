#pragma once
// SMPP 3.4 PDUs as a transmitter uses them: bind_transmitter, submit_sm,
// query_sm, unbind, enquire_link and their responses, and generic_nack. Pure
// codec: no I/O, no clock. Written here rather than taken from a library that
// keeps its error state in process-wide globals, since several senders run at once.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace nv::smpp {

enum CommandId : std::uint32_t {
    kGenericNack = 0x80000000u,
    kBindTransmitter = 0x00000002u,
    kBindTransmitterResp = 0x80000002u,
    kQuerySm = 0x00000003u,
    kQuerySmResp = 0x80000003u,
    kSubmitSm = 0x00000004u,
    kSubmitSmResp = 0x80000004u,
    kUnbind = 0x00000006u,
    kUnbindResp = 0x80000006u,
    kEnquireLink = 0x00000015u,
    kEnquireLinkResp = 0x80000015u,
};

constexpr std::uint8_t kInterfaceVersion = 0x34;
constexpr std::size_t kHeaderSize = 16;
// A PDU larger than this is not one a transmitter is ever sent; treat it as garbage.
constexpr std::uint32_t kMaxPduSize = 64 * 1024;

struct Header {
    std::uint32_t length = 0;
    std::uint32_t commandId = 0;
    std::uint32_t status = 0;
    std::uint32_t sequence = 0;
};

struct Pdu {
    Header header;
    std::string body;  // the bytes after the header
};

// Builders return the whole PDU, header included.
std::string bindTransmitter(std::uint32_t sequence, std::string_view systemId,
                            std::string_view password, std::string_view systemType);
std::string submitSm(std::uint32_t sequence, std::string_view destination,
                     std::string_view shortMessage);
std::string querySm(std::uint32_t sequence, std::string_view messageId);
std::string unbind(std::uint32_t sequence);
std::string enquireLinkResp(std::uint32_t sequence);
std::string genericNack(std::uint32_t sequence, std::uint32_t status);

enum class Parse { Complete, NeedMore, Invalid };

// Takes one PDU off the front of `buffer` when it holds a whole one.
Parse takePdu(std::string& buffer, Pdu& out);

// Body readers; nothing when the body is malformed.
std::optional<std::string> messageIdOf(const Pdu& submitOrBindResp);

struct QueryResult {
    std::string messageId;
    std::string finalDate;
    int messageState = 0;
    int errorCode = 0;
};
std::optional<QueryResult> parseQuerySmResp(const Pdu& pdu);

// A readable text for a command status ("ESME_RINVPASWD (0x0000000E)").
std::string statusText(std::uint32_t status);

}  // namespace nv::smpp
