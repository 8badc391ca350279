#include "tester/PortTestRun.h"

#include <QLocale>
#include <QRegularExpression>

#include "manager/QtText.h"
#include "platform/KORCom32.h"
#include "protocols/EncoderFrame.h"

namespace nv {

namespace {

// The first character of a locale format that is no field letter.
QChar separatorIn(const QString& format, QChar fallback) {
    for (QChar c : format)
        if (!c.isLetterOrNumber() && c != u' ' && c != u'\'') return c;
    return fallback;
}

QString twoDigits(int n) { return QStringLiteral("%1").arg(n, 2, 10, QLatin1Char('0')); }

}  // namespace

QString statusTimeStamp(const QDateTime& t, QChar dateSeparator, QChar timeSeparator) {
    const QDate d = t.date();
    const QTime tm = t.time();
    // Qt's own "zz" is no padded count, so the milliseconds are made here.
    return twoDigits(d.month()) + dateSeparator + twoDigits(d.day()) + dateSeparator + twoDigits(d.year() % 100) +
           u' ' + twoDigits(tm.hour()) + timeSeparator + twoDigits(tm.minute()) + timeSeparator +
           twoDigits(tm.second()) + u'.' + twoDigits(tm.msec());
}

QString statusTimeStamp(const QDateTime& t) {
    const QLocale locale = QLocale::system();
    return statusTimeStamp(t, separatorIn(locale.dateFormat(QLocale::ShortFormat), u'/'),
                           separatorIn(locale.timeFormat(QLocale::ShortFormat), u':'));
}

QStringList memoLines(const QString& text) {
    if (text.isEmpty()) return {};
    static const QRegularExpression kBreak(QStringLiteral("\r\n|\r|\n"));
    QStringList lines = text.split(kBreak);
    if (lines.last().isEmpty()) lines.removeLast();
    return lines;
}

PortTestRun::PortTestRun(TKORCom32& port, QStringList recipients, QStringList messageLines,
                         std::chrono::milliseconds answerWait)
    : m_port(port),
      m_recipients(std::move(recipients)),
      m_messageLines(std::move(messageLines)),
      m_answerWait(answerWait) {}

void PortTestRun::run() {
    // The message box's lines, each followed by CR LF.
    std::string text;
    for (const QString& line : m_messageLines) text += toCp1252(line) + "\r\n";
    for (const QString& recipient : m_recipients) {
        emit statusLine(statusTimeStamp(QDateTime::currentDateTime()) + QLatin1String(kSendingMessageTo) + recipient);
        const ProbeResult r = probeEncoder(m_port, encoder::testerFrame(toCp1252(recipient), text), m_answerWait);
        if (r.kind == ProbeResult::Kind::Cancelled) break;
        if (r.kind == ProbeResult::Kind::NoResponse) {
            emit statusLine(QLatin1String(kNoResponse));
            break;
        }
        if (r.kind == ProbeResult::Kind::Accepted) {
            emit statusLine(QLatin1String(kMessageSent));
            continue;
        }
        // A code outside the table adds no line.
        const std::string codeText = encoder::errorCodeText(r.code, encoder::CodeTexts::Tester);
        if (!codeText.empty()) emit statusLine(QString::fromStdString(codeText));
    }
    m_port.Disconnect();
    emit finished();
}

}  // namespace nv
