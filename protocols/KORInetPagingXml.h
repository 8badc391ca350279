#pragma once
// WCTP wire format with no I/O and no clock: the request documents, the split
// of a long message into parts, the reading of a server's reply and the post
// address. Text in and out is Windows-1252; the request documents come out as
// the UTF-8 bytes that are posted.
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "protocols/KORInetPagingDefs.h"

namespace nv::wctp {

// yyyy-mm-ddThh:mm:ss in UTC.
std::string FormatWCTPTime(std::chrono::system_clock::time_point when);

// A local yyyy-mm-ddThh:mm:ss still to come, as the same instant in UTC; a past
// time or text that does not parse comes back unchanged.
std::string GetWCTPGMTTime(const std::string& localTime, std::chrono::system_clock::time_point now);

// wctpVersion attribute from the document type's file name ("...v1r1.dtd" ->
// "wctp-dtd-v1r1"); "wctp-dtd-v1r1" when it names no version.
std::string wctpVersion(const std::string& docType);

// Submit document (client message or enterprise request) for data.fMessage.
std::string buildSubmitRequest(const TWCTPData& data, const std::string& timestamp);
// Status query document for the message with tracking number `id`.
std::string buildQueryRequest(const TWCTPData& data, const std::string& id);

// The parts a message is sent in, marks and "(j of n)  " prefixes included.
std::vector<std::string> splitWCTPMessage(const std::string& text, int maxLength);

// Reply lines: sorted without regard to case, duplicate lines ignored. A line
// added with CR or LF in it stays one line (CR a blank, LF removed).
class ReplyList {
public:
    void add(const std::string& line);
    bool empty() const { return m_lines.empty(); }
    const std::vector<std::string>& lines() const { return m_lines; }
    // Every line ended by CR LF; empty when there are none.
    std::string text() const;

private:
    std::vector<std::string> m_lines;
};

enum class ReplyKind { Submit, Request, Query };

// Reads a reply body into `list`. False when the server did not accept;
// `isXml` false when the body is not XML at all.
bool readReply(const std::string& body, ReplyKind kind, const std::string& messageID,
               ReplyList& list, bool& isXml);

// Value of the first line `name=...` in reply text (name matched without
// regard to case); empty when there is none.
std::string wctpReplyValue(std::string_view rspData, std::string_view name);

struct PostAddress {
    std::string url;  // scheme://host:port/path
    bool https = false;
};
// Address to post to: the host and path of `server` with the port from it, or
// `port` when it names none; a port given in `server` is stored into `port`.
PostAddress postAddress(const std::string& server, std::uint16_t& port);

// Proxy host and port from "host" or "host:port" (80 when missing or not a number).
std::string proxyAddress(const std::string& proxyServer, long& port);

}  // namespace nv::wctp
