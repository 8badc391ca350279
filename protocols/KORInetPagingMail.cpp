#include <algorithm>
#include <cctype>
#include <ctime>
#include <filesystem>

#include "foundation/FileUtil.h"
#include "foundation/TextUtil.h"
#include "foundation/Win1252.h"
#include "protocols/KORInetPaging.h"
#include "protocols/KORInetPagingCurl.h"

namespace nv {
namespace {

constexpr const char* kNoValidServer = "MX Error: No Valid Server Found";
constexpr const char* kMxError = "MX Error: ";
constexpr const char* kSendError = "SMTP Send Error: ";
constexpr const char* kSendFailed = "Error Sending E-Page To ";
constexpr const char* kInvalidAddress = "Invalid E-Mail Address ";
constexpr const char* kInvalidServer = "Invalid Mail Server ";
constexpr const char* kOK = "OK";

std::string trim(const std::string& text) {
    auto notBlank = [](unsigned char c) { return !std::isspace(c); };
    auto first = std::find_if(text.begin(), text.end(), notBlank);
    auto last = std::find_if(text.rbegin(), text.rend(), notBlank).base();
    return first < last ? std::string(first, last) : std::string();
}

// Control bytes never reach a header or an SMTP command.
std::string withoutControls(const std::string& text) {
    std::string out;
    for (char c : text)
        if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7F) out += c;
    return out;
}

// An address goes into RCPT TO and the To header as it is; one holding a line
// break or angle brackets could inject commands or headers, so it is refused.
bool acceptableAddress(const std::string& address) {
    return std::none_of(address.begin(), address.end(), [](unsigned char c) {
        return c < 0x20 || c == 0x7F || c == '<' || c == '>';
    });
}

// A server name ends up in the URL; anything that would change its meaning is refused.
bool acceptableServer(const std::string& server) {
    return std::none_of(server.begin(), server.end(), [](unsigned char c) {
        return c <= 0x20 || c == 0x7F || c == '/' || c == '?' || c == '#' || c == '@' || c == '\\';
    });
}

std::string base64(const std::string& bytes) {
    static const char* table = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    std::size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        unsigned v = (static_cast<unsigned char>(bytes[i]) << 16) | (static_cast<unsigned char>(bytes[i + 1]) << 8) |
                     static_cast<unsigned char>(bytes[i + 2]);
        out += {table[v >> 18], table[(v >> 12) & 63], table[(v >> 6) & 63], table[v & 63]};
    }
    if (i + 1 == bytes.size()) {
        unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
        out += {table[v >> 18], table[(v >> 12) & 63], '=', '='};
    } else if (i + 2 == bytes.size()) {
        unsigned v = (static_cast<unsigned char>(bytes[i]) << 16) | (static_cast<unsigned char>(bytes[i + 1]) << 8);
        out += {table[v >> 18], table[(v >> 12) & 63], table[(v >> 6) & 63], '='};
    }
    return out;
}

bool isAscii(const std::string& text) {
    return std::all_of(text.begin(), text.end(), [](unsigned char c) { return c < 0x80; });
}

// Header text from Windows-1252: as it is when plain ASCII, else an encoded word.
std::string headerText(const std::string& text) {
    const std::string clean = withoutControls(text);
    return isAscii(clean) ? clean : "=?UTF-8?B?" + base64(cp1252ToUtf8(clean)) + "?=";
}

std::string crlfLines(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' || text[i] == '\n') {
            out += "\r\n";
            if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::string mailDate(std::chrono::system_clock::time_point when) {
    static const char* days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::time_t t = std::chrono::system_clock::to_time_t(when);
    std::tm tm{};
    localtime_r(&t, &tm);
    long offset = tm.tm_gmtoff / 60;
    char sign = offset < 0 ? '-' : '+';
    offset = offset < 0 ? -offset : offset;
    char buf[96];
    std::snprintf(buf, sizeof buf, "%s, %02d %s %04d %02d:%02d:%02d %c%02ld%02ld", days[tm.tm_wday], tm.tm_mday,
                  months[tm.tm_mon], tm.tm_year + 1900, tm.tm_hour, tm.tm_min, tm.tm_sec, sign, offset / 60,
                  offset % 60);
    return buf;
}

std::string attachmentPart(const std::string& path, const std::string& boundary) {
    std::string bytes;
    if (!readWholeFile(path, bytes)) return {};  // a file that cannot be read is left out
    std::string name = headerText(std::filesystem::path(path).filename().string());
    std::replace(name.begin(), name.end(), '"', '\'');
    std::string encoded = base64(bytes);
    std::string part = "--" + boundary + "\r\nContent-Type: application/octet-stream; name=\"" + name +
                       "\"\r\nContent-Transfer-Encoding: base64\r\nContent-Disposition: attachment; filename=\"" +
                       name + "\"\r\n\r\n";
    for (std::size_t i = 0; i < encoded.size(); i += 76) part += encoded.substr(i, 76) + "\r\n";
    return part;
}

// RFC 5322 message: headers from our Windows-1252 fields, body as UTF-8.
std::string buildMessage(const TSMTPData& data, const std::string& address,
                         std::chrono::system_clock::time_point now) {
    std::string head = "Date: " + mailDate(now) + "\r\n";
    const std::string sender = withoutControls(data.SenderEMail);
    if (!sender.empty()) head += "From: " + headerText(sender) + "\r\n";
    head += "To: " + address + "\r\n";
    head += "Subject: " + headerText(data.Subject) + "\r\n";
    head += "MIME-Version: 1.0\r\n";
    const std::string body = crlfLines(cp1252ToUtf8(data.MsgToSend));
    const std::string textHeaders = "Content-Type: text/plain; charset=UTF-8\r\nContent-Transfer-Encoding: " +
                                    std::string(isAscii(body) ? "7bit" : "8bit") + "\r\n";
    const std::string boundary = "=_NerivalePart_0001";
    std::string attachment = data.Attachment.empty() ? std::string() : attachmentPart(data.Attachment, boundary);
    if (attachment.empty()) return head + textHeaders + "\r\n" + body;
    return head + "Content-Type: multipart/mixed; boundary=\"" + boundary + "\"\r\n\r\n--" + boundary + "\r\n" +
           textHeaders + "\r\n" + body + "\r\n" + attachment + "--" + boundary + "--\r\n";
}

struct Upload {
    const std::string* data;
    std::size_t offset = 0;
};

size_t readUpload(char* buffer, size_t size, size_t count, void* user) {
    auto* upload = static_cast<Upload*>(user);
    const size_t n = std::min(size * count, upload->data->size() - upload->offset);
    std::copy_n(upload->data->data() + upload->offset, n, buffer);
    upload->offset += n;
    return n;
}

// The first refusal (a 4xx or 5xx reply) and the command it answered, to tell
// a refusal of the address from a trouble of the server; libcurl's own
// response code is that of the QUIT that follows.
struct Dialogue {
    std::string lastCommand;
    std::string refusal;
    std::string refusedCommand;
    int refusalCode = 0;
};

int watchDialogue(CURL*, curl_infotype type, char* data, size_t size, void* user) {
    auto* dialogue = static_cast<Dialogue*>(user);
    std::string text(data, size);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    if (type == CURLINFO_HEADER_OUT) {
        dialogue->lastCommand = text.substr(0, 4);
    } else if (type == CURLINFO_HEADER_IN && dialogue->refusalCode == 0 && text.size() >= 3 &&
               (text[0] == '4' || text[0] == '5') && std::isdigit(static_cast<unsigned char>(text[1])) &&
               std::isdigit(static_cast<unsigned char>(text[2]))) {
        dialogue->refusalCode = std::stoi(text.substr(0, 3));
        dialogue->refusal = text;
        dialogue->refusedCommand = dialogue->lastCommand;
    }
    return 0;
}

// Settings of a mail session that do not point at per-attempt buffers.
void mailSettings(CURL* h, const TSMTPData& data) {
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "smtp,smtps");
    curl_easy_setopt(h, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(h, CURLOPT_READFUNCTION, &readUpload);
    curl_easy_setopt(h, CURLOPT_TIMEOUT, static_cast<long>(data.TimeOut > 0 ? data.TimeOut : 60));
    // Mail servers' certificates are accepted unchecked, as the Windows version did.
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 0L);
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 0L);
    if (!data.User.empty()) {
        curl_easy_setopt(h, CURLOPT_USERNAME, data.User.c_str());
        curl_easy_setopt(h, CURLOPT_PASSWORD, data.Password.c_str());
    }
    // The debug hook sees the dialogue; without VERBOSE it is never called.
    curl_easy_setopt(h, CURLOPT_DEBUGFUNCTION, &watchDialogue);
    curl_easy_setopt(h, CURLOPT_VERBOSE, 1L);
}

}  // namespace

void TSMTPData::clampFields() {
    cutTo(SMTPServer, 255);
    cutTo(SenderEMail, 150);
    cutTo(DestPin, 150);
    cutTo(Subject, 75);
    cutTo(Password, 25);
    cutTo(User, 150);
    cutTo(SendError, 50);
    cutTo(Attachment, 255);
}

// Everything one call fills; it lives on the caller's stack, never in the instance.
struct TKORInetPagingComp::MailCall {
    std::vector<std::string> ServerList;  // "precedence=host", lowest precedence first
    int serverIndex = -1;
    std::string address;
    std::string ErrorData;
    std::string ResultData;
    bool ProcDone = false;
    bool refused = false;  // the last server refused the message for good (5xx)
    std::string errors;
    bool result = false;
};

bool TKORInetPagingComp::SendMailMessage(TSMTPData& data) const {
    data.clampFields();
    return DoSendMail(data);
}

bool TKORInetPagingComp::DoSendMail(TSMTPData& data) const {
    MailCall call;
    data.SendError.clear();
    std::size_t pos = 0;
    const std::string& list = data.DestPin;
    while (pos <= list.size()) {
        std::size_t end = list.find(';', pos);
        if (end == std::string::npos) end = list.size();
        const std::string address = trim(list.substr(pos, end - pos));
        pos = end + 1;
        if (address.empty()) continue;
        // Each address is judged on its own: a failure no longer ends the call,
        // and no error state is carried over from the address before.
        call.result = sendToAddress(call, data, address);
    }
    return call.result;
}

bool TKORInetPagingComp::sendToAddress(MailCall& call, TSMTPData& data, const std::string& address) const {
    call.address = address;
    call.ServerList.clear();
    call.serverIndex = -1;
    call.ErrorData.clear();
    call.ProcDone = false;
    call.refused = false;
    if (!acceptableAddress(address)) {
        AddMailError(call, data, kInvalidAddress + lineBreaksAsBlanks(address) + "!");
        return false;
    }
    for (std::string host = NextMailServer(call, data); !host.empty(); host = NextMailServer(call, data)) {
        call.ErrorData.clear();
        call.ResultData.clear();
        call.ProcDone = false;
        if (sendOnce(call, data, host, address)) return true;
        if (call.refused || cancelled()) break;
    }
    if (call.ErrorData.empty()) call.ErrorData = kSendFailed + address + "!";
    AddMailError(call, data, call.ErrorData);
    return false;
}

std::string TKORInetPagingComp::NextMailServer(MailCall& call, TSMTPData& data) const {
    if (call.ServerList.empty()) {
        call.serverIndex = -1;
        const std::size_t at = call.address.find('@');
        if (!data.SMTPServer.empty()) {
            call.ServerList.push_back("0=" + data.SMTPServer);
        } else if (at != std::string::npos) {
            std::vector<MxRecord> records;
            std::string error;
            if (lookupMx(call.address.substr(at + 1), m_options.resolver, records, error) == MxStatus::Failed) {
                AddMailError(call, data, kMxError + error);
                return {};
            }
            for (const MxRecord& mx : records) call.ServerList.push_back(std::to_string(mx.preference) + "=" + mx.host);
        }
        if (call.ServerList.empty()) {
            if (at == std::string::npos) {
                AddMailError(call, data, kNoValidServer);
                return {};
            }
            call.ServerList.push_back("0=" + call.address.substr(at + 1));  // the domain itself
        }
    }
    ++call.serverIndex;
    if (call.serverIndex >= static_cast<int>(call.ServerList.size())) return {};
    const std::string& line = call.ServerList[call.serverIndex];
    return line.substr(line.find('=') + 1);
}

void TKORInetPagingComp::AddMailError(MailCall& call, TSMTPData& data, const std::string& text) const {
    call.errors = call.errors.empty() ? text : call.errors + ", " + text;
    data.SendError = call.errors.substr(0, 50);
    call.result = false;
}

bool TKORInetPagingComp::sendOnce(MailCall& call, const TSMTPData& data, const std::string& server,
                                  const std::string& address) const {
    if (!acceptableServer(server)) {
        call.ErrorData = kInvalidServer + lineBreaksAsBlanks(server) + "!";
        return false;
    }
    char errorBuffer[CURL_ERROR_SIZE];
    inet::CurlHandle handle = inet::newHandle(errorBuffer, m_options.cancel);
    if (!handle) {
        call.ErrorData = std::string(kSendError) + "No SMTP Client";
        return false;
    }
    CURL* h = handle.get();
    // Port 465 speaks TLS from the first byte; any other port starts plain and
    // must switch with STARTTLS.
    const bool implicitTls = data.UseSSL && data.SMTPPort == 465;
    // A bare IPv6 address needs brackets in the URL.
    const bool ipv6 = std::count(server.begin(), server.end(), ':') > 1 && server.front() != '[';
    const std::string host = ipv6 ? "[" + server + "]" : server;
    const std::string url = (implicitTls ? "smtps://" : "smtp://") + host + ":" + std::to_string(data.SMTPPort);
    std::string sender = data.SenderEMail;
    std::erase_if(sender, [](unsigned char c) { return c < 0x20 || c == 0x7F || c == '<' || c == '>'; });
    inet::CurlList recipients(curl_slist_append(nullptr, address.c_str()));
    inet::CurlList connectTo;
    for (const std::string& entry : m_options.connectTo) {
        curl_slist* list = curl_slist_append(connectTo.get(), entry.c_str());
        if (!connectTo) connectTo.reset(list);
    }
    const std::string message = buildMessage(data, address, now());
    Upload upload{&message};
    Dialogue dialogue;
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_MAIL_FROM, sender.c_str());
    curl_easy_setopt(h, CURLOPT_MAIL_RCPT, recipients.get());
    curl_easy_setopt(h, CURLOPT_READDATA, &upload);
    curl_easy_setopt(h, CURLOPT_USE_SSL, static_cast<long>(data.UseSSL && !implicitTls ? CURLUSESSL_ALL : CURLUSESSL_NONE));
    if (connectTo) curl_easy_setopt(h, CURLOPT_CONNECT_TO, connectTo.get());
    curl_easy_setopt(h, CURLOPT_DEBUGDATA, &dialogue);
    mailSettings(h, data);

    const CURLcode rc = cancelled() ? CURLE_ABORTED_BY_CALLBACK : curl_easy_perform(h);
    call.ProcDone = true;
    if (rc == CURLE_OK) {
        call.ErrorData = kOK;
        return true;
    }
    // 5xx to MAIL, RCPT or DATA refuses this message for good; anything else
    // (no connection, time-out, TLS, a 4xx, a 5xx to the greeting or the login)
    // lets the next server try.
    const int code = dialogue.refusalCode;
    const std::string& cmd = dialogue.refusedCommand;
    call.refused = code >= 500 && (cmd == "MAIL" || cmd == "RCPT" || cmd == "DATA");
    const std::string why = code ? dialogue.refusal : inet::errorText(rc, errorBuffer);
    call.ErrorData = kSendError + lineBreaksAsBlanks(withoutControls(why));
    return false;
}

}  // namespace nv
