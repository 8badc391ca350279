#include "protocols/KORInetPagingXml.h"

#include <pugixml.hpp>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <ctime>

#include "foundation/FileUtil.h"
#include "foundation/TextUtil.h"
#include "foundation/Win1252.h"

namespace nv::wctp {
namespace {

constexpr const char* kDefaultVersion = "wctp-dtd-v1r1";


// Control bytes other than tab, CR and LF cannot appear in an XML 1.0 document
// at all, not even as references; they are dropped rather than making the
// whole request ill-formed.
bool xmlForbidden(unsigned char c) {
    return c < 0x20 && c != '\t' && c != '\r' && c != '\n';
}

// The payload loses "&" and "%" as it always did; what remains is escaped so a
// "<" in a page can no longer break the document or inject elements.
std::string payloadText(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '&' || c == '%' || xmlForbidden(static_cast<unsigned char>(c))) continue;
        if (c == '<') out += "&lt;";
        else if (c == '>') out += "&gt;";
        else out += c;
    }
    return out;
}

std::string escapeText(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (xmlForbidden(static_cast<unsigned char>(c))) continue;
        if (c == '&') out += "&amp;";
        else if (c == '<') out += "&lt;";
        else if (c == '>') out += "&gt;";
        else out += c;
    }
    return out;
}

// Attribute values (the password in securityCode/miscInfo included) used to be
// inserted raw; a quote in any of them made the request ill-formed.
std::string attr(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (xmlForbidden(static_cast<unsigned char>(c))) continue;
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\r': out += "&#13;"; break;
        case '\n': out += "&#10;"; break;
        case '\t': out += "&#9;"; break;
        default: out += c;
        }
    }
    return out;
}

// A system literal cannot hold references; a quote would end it early.
std::string systemLiteral(const std::string& text) {
    std::string out;
    for (char c : text)
        if (c != '"' && !xmlForbidden(static_cast<unsigned char>(c))) out += c;
    return out;
}

std::string joinLines(const std::vector<std::string>& lines) {
    std::string out;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i) out += "\r\n";
        out += lines[i];
    }
    // Declared without an encoding, so the document must be UTF-8.
    return cp1252ToUtf8(out);
}

void headLines(const TWCTPData& data, std::vector<std::string>& lines) {
    lines.push_back("<?xml version=\"1.0\"?>");
    lines.push_back("<!DOCTYPE wctp-Operation SYSTEM \"" + systemLiteral(data.fWCTPDocType) + "\">");
    std::string version = data.fWCTPDocType.empty() ? kDefaultVersion : wctpVersion(data.fWCTPDocType);
    lines.push_back("<wctp-Operation wctpVersion=\"" + attr(version) + "\">");
}

// Lines of TStringList-style text: CR LF, CR or LF end a line; no trailing empty line.
std::vector<std::string> textLines(const std::string& text) {
    std::vector<std::string> out;
    std::string line;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '\r' || c == '\n') {
            out.push_back(line);
            line.clear();
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else {
            line += c;
        }
    }
    if (!line.empty()) out.push_back(line);
    return out;
}

void controlLines(const TWCTPData& d, bool request, std::vector<std::string>& lines) {
    lines.push_back(request ? "         <wctp-MessageControl" : "         <wctp-ClientMessageControl");
    if (request && !d.fMessageID.empty())
        lines.push_back("            messageID=\"" + attr(d.fMessageID) + "\"");
    if (request && !d.fTransactionID.empty())
        lines.push_back("            transactionID=\"" + attr(d.fTransactionID) + "\"");
    const std::string pad = "              ";
    if (d.fWCTPNotifyWhenQueued) lines.push_back(pad + "notifyWhenQueued=\"true\"");
    if (d.fWCTPNotifyWhenDelivered) lines.push_back(pad + "notifyWhenDelivered=\"true\"");
    if (d.fWCTPNotifyWhenRead) lines.push_back(pad + "notifyWhenRead=\"true\"");
    if (!d.fSendResponseTo.empty())
        lines.push_back(pad + "sendResponsesToID=\"" + attr(d.fSendResponseTo) + "\"");
    if (!d.fDeliverAfter.empty()) lines.push_back(pad + "deliveryAfter=\"" + attr(d.fDeliverAfter) + "\"");
    if (!d.fDeliverBefore.empty()) lines.push_back(pad + "deliveryBefore=\"" + attr(d.fDeliverBefore) + "\"");
    if (d.fAllowResponse) lines.push_back(pad + "allowResponse=\"true\"");
    if (d.fDeliveryPriority == TDeliveryPriority::dpLow) lines.push_back(pad + "deliveryPriority=\"LOW\"");
    if (d.fDeliveryPriority == TDeliveryPriority::dpHigh) lines.push_back(pad + "deliveryPriority=\"HIGH\"");
    if (d.fPreformatted) lines.push_back(pad + "preformatted=\"true\"");
    lines.push_back("         />");
}

void payloadLines(const TWCTPData& d, std::vector<std::string>& lines) {
    const std::string text = payloadText(d.fMessage);
    const bool given = !d.fMCRText.empty() || !d.fMCRList.empty();
    const std::vector<std::string> choices = !d.fMCRText.empty() ? textLines(d.fMCRText) : d.fMCRList;
    lines.push_back("     <wctp-Payload>");
    if (given && (!choices.empty() || d.fForceMCRPayload)) {
        lines.push_back("         <wctp-MCR>");
        lines.push_back("           <wctp-MessageText>" + text + "</wctp-MessageText>");
        for (const std::string& choice : choices)
            lines.push_back("           <wctp-Choice>" + escapeText(choice) + "</wctp-Choice>");
        lines.push_back("         </wctp-MCR>");
    } else {
        lines.push_back("         <wctp-Alphanumeric>" + text + "</wctp-Alphanumeric>");
    }
    lines.push_back("     </wctp-Payload>");
}

bool allDigits(const std::string& text) {
    return !text.empty() && text.size() <= 9 &&
           std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); });
}

int compareNoCase(const std::string& a, const std::string& b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        int ca = std::tolower(static_cast<unsigned char>(a[i]));
        int cb = std::tolower(static_cast<unsigned char>(b[i]));
        if (ca != cb) return ca < cb ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

std::string elementContent(const pugi::xml_node& node) {
    std::string content;
    for (pugi::xml_node child : node.children())
        if (child.type() == pugi::node_pcdata || child.type() == pugi::node_cdata) content += child.value();
    std::string out;
    for (char c : utf8ToCp1252(content)) {
        if (c == '\r') out += ' ';
        else if (c != '\n') out += c;
    }
    return out;
}

// Every element named `name` (any case) adds its attributes as name=value
// lines, and its content as "Content=..." when it has some.
// pugixml walks the tree without recursion, so a deeply nested reply cannot
// exhaust the stack.
class ElementFinder : public pugi::xml_tree_walker {
public:
    ElementFinder(const char* name, ReplyList& list) : m_name(name), m_list(list) {}
    bool for_each(pugi::xml_node& node) override {
        if (node.type() != pugi::node_element || !equalsNoCase(node.name(), m_name)) return true;
        found = true;
        for (pugi::xml_attribute a : node.attributes())
            m_list.add(utf8ToCp1252(a.name()) + "=" + utf8ToCp1252(a.value()));
        std::string content = elementContent(node);
        if (!content.empty()) m_list.add("Content=" + content);
        return true;
    }
    bool found = false;

private:
    const char* m_name;
    ReplyList& m_list;
};

bool FindWCTPElement(pugi::xml_document& doc, const char* name, ReplyList& list) {
    ElementFinder finder(name, list);
    doc.traverse(finder);
    return finder.found;
}

bool hasErrorText(const ReplyList& list) {
    for (const std::string& line : list.lines())
        if (line.size() >= 10 && equalsNoCase(line.substr(0, 10), "errorText=")) return true;
    return false;
}

}  // namespace

std::string FormatWCTPTime(std::chrono::system_clock::time_point when) {
    std::time_t t = std::chrono::system_clock::to_time_t(when);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char buf[80];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d", tm.tm_year + 1900, tm.tm_mon + 1,
                  tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
    return buf;
}

std::string GetWCTPGMTTime(const std::string& localTime, std::chrono::system_clock::time_point now) {
    std::tm tm{};
    int consumed = 0;
    if (localTime.size() != 19 ||
        std::sscanf(localTime.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%n", &tm.tm_year, &tm.tm_mon, &tm.tm_mday,
                    &tm.tm_hour, &tm.tm_min, &tm.tm_sec, &consumed) != 6 ||
        consumed != 19)
        return localTime;
    tm.tm_year -= 1900;
    tm.tm_mon -= 1;
    tm.tm_isdst = -1;
    std::time_t t = std::mktime(&tm);
    if (t == static_cast<std::time_t>(-1) || t <= std::chrono::system_clock::to_time_t(now)) return localTime;
    return FormatWCTPTime(std::chrono::system_clock::from_time_t(t));
}

std::string wctpVersion(const std::string& docType) {
    std::string name = lowerAscii(docType.substr(docType.rfind('/') == std::string::npos ? 0 : docType.rfind('/') + 1));
    std::size_t v = name.find('v');
    if (v == std::string::npos) return kDefaultVersion;
    std::string rest = name.substr(v + 1);
    // The major number ends at "r" ("v1r1") or at "-" ("v1-0"); the minor runs to ".".
    std::size_t sep = rest.find('-');
    if (sep == std::string::npos) sep = rest.find('r');
    std::string major = rest.substr(0, sep);
    std::string minor = sep == std::string::npos ? std::string() : rest.substr(sep + 1);
    if (major.find('.') != std::string::npos) major.resize(major.find('.'));
    if (minor.find('.') != std::string::npos) minor.resize(minor.find('.'));
    return "wctp-dtd-v" + major + "r" + minor;
}

std::string buildSubmitRequest(const TWCTPData& d, const std::string& timestamp) {
    const bool request = d.WCTPEnterprise;
    std::vector<std::string> lines;
    headLines(d, lines);
    lines.push_back(request ? "  <wctp-SubmitRequest>" : "  <wctp-SubmitClientMessage>");
    lines.push_back(request ? "     <wctp-SubmitHeader" : "     <wctp-SubmitClientHeader");
    lines.push_back("         submitTimestamp=\"" + attr(timestamp) + "\">");
    lines.push_back(request ? "         <wctp-Originator" : "         <wctp-ClientOriginator");
    lines.push_back("            senderID=\"" + attr(d.fSenderID) + "\"");
    if (!d.fSecurityCode.empty())
        lines.push_back(std::string(request ? "            securityCode=\"" : "            miscInfo=\"") +
                        attr(d.fSecurityCode) + "\"");
    if (!d.fMiscSenderInfo.empty() && (request || d.fSecurityCode.empty()))
        lines.push_back("            miscInfo=\"" + attr(d.fMiscSenderInfo) + "\"");
    lines.push_back("         />");
    controlLines(d, request, lines);
    lines.push_back("         <wctp-Recipient");
    lines.push_back("             recipientID=\"" + attr(d.fPIN) + "\"");
    lines.push_back("         />");
    lines.push_back(request ? "     </wctp-SubmitHeader>" : "     </wctp-SubmitClientHeader>");
    payloadLines(d, lines);
    lines.push_back(request ? "  </wctp-SubmitRequest>" : "  </wctp-SubmitClientMessage>");
    lines.push_back("</wctp-Operation>");
    return joinLines(lines);
}

std::string buildQueryRequest(const TWCTPData& d, const std::string& id) {
    std::vector<std::string> lines;
    headLines(d, lines);
    lines.push_back("  <wctp-ClientQuery");
    lines.push_back("      senderID=\"" + attr(d.fSenderID) + "\"");
    lines.push_back("      recipientID=\"" + attr(d.fPIN) + "\"");
    lines.push_back("      trackingNumber=\"" + attr(id) + "\"");
    lines.push_back(" />");
    lines.push_back("</wctp-Operation>");
    return joinLines(lines);
}

std::vector<std::string> splitWCTPMessage(const std::string& text, int maxLength) {
    // A limit of 0 or less means no splitting: a negative one used to cut empty
    // parts without consuming text and send 20 posts of marks only.
    const std::size_t limit = maxLength > 0 ? static_cast<std::size_t>(maxLength) : text.size() + 1;
    std::vector<std::string> cuts;
    std::string rest = text;
    do {
        if (rest.size() > limit) {
            std::size_t blank = rest.rfind(' ', limit - 1);
            std::size_t take = blank == std::string::npos ? limit : blank + 1;
            cuts.push_back(rest.substr(0, take) + "  (CONT.)");
            rest.erase(0, take);
        } else {
            cuts.push_back(cuts.empty() ? rest : rest + " (END)");
            rest.clear();
        }
    } while (!rest.empty() && cuts.size() < 20);
    if (cuts.size() > 1) {
        const std::string n = std::to_string(cuts.size());
        for (std::size_t j = 0; j < cuts.size(); ++j)
            cuts[j] = "(" + std::to_string(j + 1) + " of " + n + ")  " + cuts[j];
    }
    return cuts;
}

void ReplyList::add(const std::string& raw) {
    // One entry is one line of the reply text. An attribute value may decode
    // character references into real line breaks, and the engine reads
    // errorText, successText and trackingNumber from the lines, so a server
    // could otherwise forge lines of its own. The content's rule applies to
    // every value: CR becomes a blank, LF goes.
    std::string line;
    line.reserve(raw.size());
    for (char c : raw) {
        if (c == '\r') line += ' ';
        else if (c != '\n') line += c;
    }
    auto it = std::lower_bound(m_lines.begin(), m_lines.end(), line,
                               [](const std::string& a, const std::string& b) { return compareNoCase(a, b) < 0; });
    if (it != m_lines.end() && compareNoCase(*it, line) == 0) return;
    m_lines.insert(it, line);
}

std::string ReplyList::text() const {
    std::string out;
    for (const std::string& line : m_lines) out += line + "\r\n";
    return out;
}

bool readReply(const std::string& body, ReplyKind kind, const std::string& messageID, ReplyList& list,
               bool& isXml) {
    pugi::xml_document doc;
    // Raw bytes, so a declared or marked encoding is honoured; pugixml never
    // fetches a DTD or expands external entities.
    // Line ends are kept as sent so a CR in content becomes a blank, as it always did.
    isXml = static_cast<bool>(doc.load_buffer(body.data(), body.size(), pugi::parse_default & ~pugi::parse_eol));
    if (!isXml) {
        list.add("errorText=Invalid XML Reply From Server!");
        return false;
    }
    bool ok = false;
    if (kind == ReplyKind::Query) {
        FindWCTPElement(doc, "wctp-ClientResponseHeader", list);
        ok = !(FindWCTPElement(doc, "wctp-Failure", list) || FindWCTPElement(doc, "wctp-Error", list));
        if (ok) {
            if (FindWCTPElement(doc, "wctp-NoMessages", list) && list.empty()) {
                list.add("type=Queued");
            } else {
                FindWCTPElement(doc, "wctp-Alphanumeric", list);
                FindWCTPElement(doc, "wctp-Notification", list);
            }
        }
    } else if (FindWCTPElement(doc, kind == ReplyKind::Request ? "wctp-Success" : "wctp-ClientSuccess", list)) {
        ok = true;
        if (kind == ReplyKind::Request) list.add("trackingNumber=\"" + messageID + "\"");
    } else if (!FindWCTPElement(doc, "wctp-Failure", list)) {
        FindWCTPElement(doc, "wctp-Error", list);
    }
    // A refusal without a reason used to reach the log with nothing to show.
    if (!ok && !hasErrorText(list)) list.add("errorText=No Valid Reply From Server!");
    return ok;
}

std::string wctpReplyValue(std::string_view rspData, std::string_view name) {
    std::size_t pos = 0;
    while (pos < rspData.size()) {
        std::size_t end = rspData.find_first_of("\r\n", pos);
        std::string_view line = rspData.substr(pos, end == std::string_view::npos ? end : end - pos);
        if (line.size() > name.size() && line[name.size()] == '=' && equalsNoCase(line.substr(0, name.size()), name))
            return std::string(line.substr(name.size() + 1));
        if (end == std::string_view::npos) break;
        pos = end + 1;
    }
    return {};
}

PostAddress postAddress(const std::string& server, std::uint16_t& port) {
    PostAddress out;
    out.https = server.size() >= 5 && equalsNoCase(server.substr(0, 5), "https");
    std::size_t slashes = server.find("//");
    std::string scheme = slashes == std::string::npos ? std::string() : server.substr(0, slashes + 2);
    std::string rest = slashes == std::string::npos ? server : server.substr(slashes + 2);
    std::size_t slash = rest.find('/');
    std::string host = rest.substr(0, slash);
    // An address without a path posts to "/" rather than to an empty host.
    std::string path = slash == std::string::npos ? "/" : rest.substr(slash);
    std::string portText;
    std::size_t colon = std::string::npos;
    if (!host.empty() && host[0] == '[') {  // IPv6 literal
        std::size_t close = host.find(']');
        if (close != std::string::npos && close + 1 < host.size() && host[close + 1] == ':') colon = close + 1;
    } else {
        colon = host.find(':');
    }
    if (colon != std::string::npos) {
        portText = host.substr(colon + 1);
        host.resize(colon);
        if (allDigits(portText) && std::stol(portText) <= 65535)
            port = static_cast<std::uint16_t>(std::stol(portText));
    }
    out.url = scheme + host + ":" + std::to_string(port) + path;
    return out;
}

std::string proxyAddress(const std::string& proxyServer, long& port) {
    std::string text = proxyServer;
    auto notBlank = [](unsigned char c) { return !std::isspace(c); };
    text.erase(text.begin(), std::find_if(text.begin(), text.end(), notBlank));
    text.erase(std::find_if(text.rbegin(), text.rend(), notBlank).base(), text.end());
    port = 80;
    std::size_t colon = text.find(':');
    if (colon == std::string::npos) return text;
    std::string portText = text.substr(colon + 1);
    if (allDigits(portText) && std::stol(portText) <= 65535) port = std::stol(portText);
    return text.substr(0, colon);
}

}  // namespace nv::wctp
