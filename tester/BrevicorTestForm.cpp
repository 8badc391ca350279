#include "tester/BrevicorTestForm.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QThread>
#include <QVBoxLayout>

#include "manager/OperatorUi.h"
#include "platform/DataDirectory.h"
#include "platform/KORCom32.h"
#include "tester/PortTestRun.h"

namespace nv {

namespace {

constexpr const char* kCaption = "Neri Vale Port Tester";
constexpr const char* kUnableToOpen = "Unable To Open ComPort!";
constexpr int kComPortItems = 20;
const QStringList kDataSettings{"7,E,1", "8,N,1"};
const QStringList kFlowControls{"None", "Hardware", "Software", "Both"};
const QStringList kSpeeds{"110",   "300",   "600",   "1200",  "2400",  "4800",  "9600",
                          "14400", "19200", "38400", "56000", "57600", "115200"};

QComboBox* dropDown(QWidget* parent, const char* name, const QStringList& items) {
    auto* box = new QComboBox(parent);
    box->setObjectName(QLatin1String(name));
    box->addItems(items);
    return box;
}

QLineEdit* edit(QWidget* parent, const char* name, const char* text) {
    auto* e = new QLineEdit(QLatin1String(text), parent);
    e->setObjectName(QLatin1String(name));
    return e;
}

QPlainTextEdit* memo(QWidget* parent, const char* name) {
    auto* m = new QPlainTextEdit(parent);
    m->setObjectName(QLatin1String(name));
    m->setLineWrapMode(QPlainTextEdit::NoWrap);
    return m;
}

}  // namespace

std::filesystem::path testerDataDirectory() { return dataDirectoryFor(readInstallSettings(programDirectory())); }

TForm1::TForm1(OperatorUi& ui, TesterOptions options, QWidget* parent)
    : QWidget(parent), m_ui(ui), m_options(std::move(options)), m_com(std::make_unique<TKORCom32>(m_options.dataDir)) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QLatin1String(kCaption));
    setFont(QFont(QStringLiteral("Tahoma")));
    // The serial component as the window holds it: no polling, no line events.
    m_com->SetComPortPollingDelay(0);
    m_com->SetEvents(0);
    buildControls();
    resize(778, 314);
    FormCreate();
}

TForm1::~TForm1() {
    if (m_thread) {
        m_com->Disconnect();
        m_thread->quit();
        m_thread->wait();
        delete m_run;
    }
}

void TForm1::buildControls() {
    auto* top = new QHBoxLayout(this);
    top->addWidget(portGroup());
    top->addWidget(messageGroup(), 2);
    top->addWidget(statusGroup(), 3);
    connect(Send, &QPushButton::clicked, this, &TForm1::SendClick);
    connect(Button1, &QPushButton::clicked, this, &TForm1::Button1Click);
}

QWidget* TForm1::portGroup() {
    auto* GroupBox2 = new QGroupBox(QStringLiteral("COM Port Settings"), this);
    GroupBox2->setObjectName(QStringLiteral("GroupBox2"));
    QStringList ports;
    for (int n = 1; n <= kComPortItems; ++n) ports << QStringLiteral("COM%1").arg(n);
    ComPort = dropDown(GroupBox2, "ComPort", ports);
    DataSettings = dropDown(GroupBox2, "DataSettings", kDataSettings);
    FlowCtrl = dropDown(GroupBox2, "FlowCtrl", kFlowControls);
    JQComSpeed = dropDown(GroupBox2, "JQComSpeed", kSpeeds);
    // Shown as the Windows version showed them; a run does not use them.
    TimeOut = edit(GroupBox2, "TimeOut", "60");
    MaxMsgLength = edit(GroupBox2, "MaxMsgLength", "500");
    auto* portForm = new QFormLayout(GroupBox2);
    portForm->addRow(QStringLiteral("Com Port:"), ComPort);
    portForm->addRow(QStringLiteral("Data:"), DataSettings);
    portForm->addRow(QStringLiteral("Flow CTRL:"), FlowCtrl);
    portForm->addRow(QStringLiteral("COM Speed:"), JQComSpeed);
    portForm->addRow(QStringLiteral("Time Out:"), TimeOut);
    portForm->addRow(QStringLiteral("Delay Speed:"), MaxMsgLength);
    return GroupBox2;
}

QWidget* TForm1::messageGroup() {
    auto* GroupBox1 = new QGroupBox(QStringLiteral("Message Settings"), this);
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    SendTo = memo(GroupBox1, "SendTo");
    Msg = memo(GroupBox1, "Msg");
    Msg->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    auto* toLabel = new QLabel(QStringLiteral("To:"), GroupBox1);
    toLabel->setBuddy(SendTo);
    auto* msgLabel = new QLabel(QStringLiteral("Message:"), GroupBox1);
    msgLabel->setBuddy(Msg);
    Send = new QPushButton(QStringLiteral("Send"), GroupBox1);
    Send->setObjectName(QStringLiteral("Send"));
    Button1 = new QPushButton(QStringLiteral("Close"), GroupBox1);
    Button1->setObjectName(QStringLiteral("Button1"));
    auto* messageGrid = new QGridLayout(GroupBox1);
    messageGrid->addWidget(toLabel, 0, 0);
    messageGrid->addWidget(msgLabel, 0, 1);
    messageGrid->addWidget(SendTo, 1, 0);
    messageGrid->addWidget(Msg, 1, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(Send);
    buttons->addWidget(Button1);
    messageGrid->addLayout(buttons, 2, 0, 1, 2);
    messageGrid->setColumnStretch(0, 1);
    messageGrid->setColumnStretch(1, 2);
    return GroupBox1;
}

QWidget* TForm1::statusGroup() {
    auto* GroupBox3 = new QGroupBox(QStringLiteral("Status"), this);
    GroupBox3->setObjectName(QStringLiteral("GroupBox3"));
    Status = memo(GroupBox3, "Status");
    Status->setReadOnly(true);
    Status->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    Status->setAccessibleName(QStringLiteral("Status"));
    auto* statusBox = new QVBoxLayout(GroupBox3);
    statusBox->addWidget(Status);
    return GroupBox3;
}

void TForm1::FormCreate() {
    ComPort->setCurrentIndex(0);               // COM1
    FlowCtrl->setCurrentIndex(1);              // Hardware
    JQComSpeed->setCurrentIndex(int(br9600));  // 9600
    DataSettings->setCurrentIndex(1);          // 8,N,1
}

void TForm1::applySettings() {
    m_com->SetComPort(static_cast<TComPortNumber>(ComPort->currentIndex()));
    const bool sevenEven = DataSettings->currentIndex() == 0;
    m_com->SetComPortDataBits(sevenEven ? db7BITS : db8BITS);
    m_com->SetComPortParity(sevenEven ? ptEVEN : ptNONE);
    m_com->SetComPortStopBits(sb1BITS);
    const int flow = FlowCtrl->currentIndex();  // None, Hardware, Software, Both
    m_com->SetComPortHwHandshaking(flow == 1 || flow == 3 ? hhRTSCTS : hhNONE);
    m_com->SetComPortSwHandshaking(flow == 2 || flow == 3 ? shXONXOFF : shNONE);
    m_com->SetComPortSpeed(static_cast<TComPortBaudRate>(JQComSpeed->currentIndex()));
}

void TForm1::SendClick() {
    if (m_thread) return;
    applySettings();
    if (!m_com->Connect()) {
        m_ui.errorBox(QLatin1String(kUnableToOpen));
        return;
    }
    Status->clear();
    appendStatus(QLatin1String(kComportOpen));
    Send->setEnabled(false);
    m_thread = new QThread(this);
    m_run = new PortTestRun(*m_com, memoLines(SendTo->toPlainText()), memoLines(Msg->toPlainText()),
                            m_options.answerWait);
    m_run->moveToThread(m_thread);
    connect(m_thread, &QThread::started, m_run, &PortTestRun::run);
    connect(m_run, &PortTestRun::statusLine, this, &TForm1::appendStatus);
    connect(m_run, &PortTestRun::finished, m_thread, &QThread::quit);
    connect(m_thread, &QThread::finished, this, &TForm1::runEnded);
    m_thread->start();
}

void TForm1::runEnded() {
    m_thread->wait();
    delete m_run;
    m_run = nullptr;
    m_thread->deleteLater();
    m_thread = nullptr;
    Send->setEnabled(true);
    emit runFinished();
    if (m_closePending) close();
}

void TForm1::Button1Click() { close(); }

void TForm1::closeEvent(QCloseEvent* event) {
    if (m_thread) {
        // The run ends at once when its port closes; the window follows it.
        m_closePending = true;
        m_com->Disconnect();
        event->ignore();
        return;
    }
    event->accept();
}

void TForm1::appendStatus(const QString& line) { Status->appendPlainText(line); }

}  // namespace nv
