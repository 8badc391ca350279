#pragma once
// One test run of the port tester, off the GUI thread: for each recipient a
// time-stamped line, the frame, and the line for the encoder's answer. The
// window moves the run to a QThread and hears it by signal; closing the window
// disconnects the port, which ends the wait at once.
#include <QDateTime>
#include <QObject>
#include <QString>
#include <QStringList>
#include <chrono>

#include "protocols/EncoderProbe.h"

namespace nv {

class TKORCom32;

// Status texts.
inline constexpr const char* kComportOpen = "Comport Open!";
inline constexpr const char* kSendingMessageTo = " - Sending Message To: ";
inline constexpr const char* kMessageSent = "Message Sent";
inline constexpr const char* kNoResponse = "No Responce From Terminal";

// "MM/DD/YY HH:NN:SS.zz": two digits each, the milliseconds at least two;
// the given separators stand for "/" and ":".
QString statusTimeStamp(const QDateTime& t, QChar dateSeparator, QChar timeSeparator);
// The same with the system locale's date and time separators.
QString statusTimeStamp(const QDateTime& t);

// The lines of a memo: a final line break adds no empty line; an empty memo
// has none; empty lines in between stay.
QStringList memoLines(const QString& text);

class PortTestRun : public QObject {
    Q_OBJECT
public:
    // `port` is open; the run closes it when it ends.
    PortTestRun(TKORCom32& port, QStringList recipients, QStringList messageLines,
                std::chrono::milliseconds answerWait = kProbeAnswerWait);

public slots:
    void run();

signals:
    void statusLine(const QString& line);
    void finished();

private:
    TKORCom32& m_port;
    QStringList m_recipients;
    QStringList m_messageLines;
    std::chrono::milliseconds m_answerWait;
};

}  // namespace nv
