#pragma once
// Reads a GSM modem's answer to one AT command, line by line, with no I/O.
//
// A final "OK" line is success; "ERROR", "+CMS ERROR: ..." or "+CME ERROR: ..."
// is failure with that line as the reply; the "> " prompt of AT+CMGS ends the
// answer when asked for. Lines that repeat what we sent (the modem's echo,
// which ATZ normally turns on) are skipped in order, so a message text such as
// "OK call me" or "OK" is never taken for the modem's own "OK". A substring
// match on the raw stream got both of these wrong and read "NOKIA" as "N" + OK.
#include <string>
#include <string_view>
#include <vector>

namespace nv {

class GsmAtReply {
public:
    enum class Final { None, Ok, Error, Prompt };

    // `sent` are the bytes just written; each of their lines (split at CR or LF,
    // Ctrl-Z removed) may come back once as echo before the modem's answer.
    explicit GsmAtReply(std::string_view sent = {}, bool wantPrompt = false);

    // Takes more received bytes; returns the final state once reached (and
    // keeps returning it). Bytes after the final line are kept in rest().
    Final feed(std::string_view bytes);

    Final final() const { return m_final; }
    // The answer's own lines before the final one (no echo, no empty lines).
    const std::vector<std::string>& lines() const { return m_lines; }
    // The final line ("OK", "+CMS ERROR: 500", "> ").
    const std::string& finalLine() const { return m_finalLine; }
    // The information lines run together, as the Windows version read its replies
    // after removing CR and LF.
    std::string text() const;
    const std::string& rest() const { return m_buffer; }

    static bool isErrorLine(std::string_view line);

private:
    void takeLine(std::string line);

    std::vector<std::string> m_echo;  // lines of what we sent still expected back
    std::size_t m_echoNext = 0;
    bool m_wantPrompt;
    Final m_final = Final::None;
    std::vector<std::string> m_lines;
    std::string m_finalLine;
    std::string m_buffer;
};

// Reading the information lines of answers.
std::string atTrim(std::string_view s);
// Identity answers: trimmed; with the blank rule only what follows the first
// blank ("+CGMI: Nokia" -> "Nokia").
std::string atIdentity(std::string_view reply, bool blankRule);
// The whole text as a decimal number, else fallback.
int atNumber(std::string_view s, int fallback);
// The state of "+CREG: n,stat[,...]" (or "n,stat", or "stat"); -1 when it is no number.
int atRegistration(std::string_view reply);
// The number after "+CMGS:", 0 when there is none or it is no number.
int atMessageReference(const std::vector<std::string>& lines);
// Every text inside a pair of double quotes, in order.
std::vector<std::string> atQuotedFields(std::string_view s);

}  // namespace nv
