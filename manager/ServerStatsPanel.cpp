#include "manager/ServerStatsPanel.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QVBoxLayout>

#include "platform/CounterIds.h"

namespace nv {

namespace {

struct CounterRow {
    const char* name;  // the label's object name
    const char* title;
    const char* hint;
    int id;
};

// Top to bottom, as the window shows them.
constexpr CounterRow kRows[] = {
    {"PelmoraInCount", "Msgs Rcvd:", "Number Of Pelmora Pages Received", kCtNerivaleIn},
    {"WCTPCount", "WCTP Mgs. Sent:", "Number Of WCTP Pages Sent", kCtWCTP},
    {"SNPPCount", "SNPP Mgs. Sent:", "Number Of SNPP Messages Sent", kCtSNPP},
    {"SMPPCount", "SMPP Mgs. Sent:", "Number Of SMPP Messages Sent", kCtSMPP},
    {"TapCount", "TAP Mgs. Sent:", "Number Of TAP Messages Sent", kCtTap},
    {"EPagesSent", "E-Page Mgs. Sent:", "Number Of E-Pages Messages Sent", kCtEPages},
    {"SMSCount", "SMS Mgs. Sent:", "Number Of SMS Messages Sent", kCtSMS},
    {"TNPPCounter", "TNPP Mgs. Sent:", "Number Of TNPP Messages Sent", kCtTNPP},
    {"BrevicorCount", "Brevicor Mgs. Sent:", "Number Of Brevicor Messages Sent", kCtBrevicor},
    {"TransactionCount", "Total Sent Msgs.:", "Number Of Paging Transactions Processed", kCtTransaction},
    {"ErrorCount", "Failed Msgs.:", "Number Of Pages Failed Delivery", kCtError},
    {"QueuedMgs", "Queued Mgs.:", "Messages Pending In Current Queue", kCtQueued},
};

}  // namespace

ServerStatsPanel::ServerStatsPanel(QWidget* parent) : QWidget(parent) {
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);

    auto* stats = new QGroupBox("Server Stats", this);
    stats->setObjectName("GroupBox1");
    auto* grid = new QGridLayout(stats);
    int row = 0;
    for (const auto& r : kRows) {
        auto* title = new QLabel(r.title, stats);
        auto* value = new QLabel("0", stats);
        value->setObjectName(r.name);
        value->setToolTip(r.hint);
        title->setToolTip(r.hint);
        value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        value->setMinimumWidth(60);
        grid->addWidget(title, row, 0);
        grid->addWidget(value, row, 1);
        ++row;
    }
    outer->addWidget(stats);

    auto* hours = new QGroupBox("Hours On-Line", this);
    hours->setObjectName("GroupBox2");
    auto* hl = new QVBoxLayout(hours);
    m_timerBox = new QLabel(onLineText(0, 0), hours);
    m_timerBox->setObjectName("TimerBox");
    m_timerBox->setAlignment(Qt::AlignCenter);
    hl->addWidget(m_timerBox);
    outer->addWidget(hours);
    outer->addStretch(1);
}

QLabel* ServerStatsPanel::counterLabel(int id) const {
    for (const auto& r : kRows)
        if (r.id == id) return findChild<QLabel*>(r.name);
    return nullptr;
}

bool ServerStatsPanel::setCounter(int id, const QString& value) {
    QLabel* l = counterLabel(id);
    if (!l) return false;
    l->setText(value);
    return true;
}

void ServerStatsPanel::clearStats() {
    for (const auto& r : kRows)
        if (r.id != kCtQueued) counterLabel(r.id)->setText("0");
}

void ServerStatsPanel::setOnLineTime(int hours, int minutes) { m_timerBox->setText(onLineText(hours, minutes)); }

QString ServerStatsPanel::onLineText(int hours, int minutes) {
    return QString::asprintf("%d Hrs.  %2.2d Min.", hours, minutes);
}

}  // namespace nv
