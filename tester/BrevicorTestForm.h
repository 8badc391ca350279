#pragma once
// TForm1, the port tester's one window: COM port settings, recipients and a
// message, Send and Close, and the status log. Each Send applies the settings,
// opens the port and hands the run to a worker thread; Send stays disabled
// until the run ends, and closing the window cancels the run and closes the port.
#include <QWidget>
#include <chrono>
#include <filesystem>
#include <memory>

#include "protocols/EncoderProbe.h"

class QCloseEvent;
class QComboBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QThread;

namespace nv {

class OperatorUi;
class PortTestRun;
class TKORCom32;

struct TesterOptions {
    // Where COMn links are looked for (empty: only the system's serial devices).
    std::filesystem::path dataDir;
    std::chrono::milliseconds answerWait = kProbeAnswerWait;
};

// The data directory as the service finds it, without creating anything.
std::filesystem::path testerDataDirectory();

class TForm1 : public QWidget {
    Q_OBJECT
public:
    explicit TForm1(OperatorUi& ui, TesterOptions options = {}, QWidget* parent = nullptr);
    ~TForm1() override;

    bool running() const { return m_thread != nullptr; }
    // The serial component with the settings of the last Send.
    const TKORCom32& serialPort() const { return *m_com; }

signals:
    // A run ended and Send is enabled again.
    void runFinished();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildControls();
    QWidget* portGroup();
    QWidget* messageGroup();
    QWidget* statusGroup();
    void FormCreate();
    void SendClick();
    void Button1Click();
    void applySettings();
    void appendStatus(const QString& line);
    void runEnded();

    OperatorUi& m_ui;
    TesterOptions m_options;
    std::unique_ptr<TKORCom32> m_com;  // KORCom321
    QThread* m_thread = nullptr;
    PortTestRun* m_run = nullptr;
    bool m_closePending = false;

    QComboBox* ComPort = nullptr;
    QComboBox* DataSettings = nullptr;
    QComboBox* FlowCtrl = nullptr;
    QComboBox* JQComSpeed = nullptr;
    QLineEdit* TimeOut = nullptr;
    QLineEdit* MaxMsgLength = nullptr;
    QPlainTextEdit* SendTo = nullptr;
    QPlainTextEdit* Msg = nullptr;
    QPushButton* Send = nullptr;
    QPushButton* Button1 = nullptr;
    QPlainTextEdit* Status = nullptr;
};

}  // namespace nv
