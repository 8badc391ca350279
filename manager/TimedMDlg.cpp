#include "manager/TimedMDlg.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace nv {

TTimedMsgFrm::TTimedMsgFrm(QWidget* parent, int timerMs)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
    setWindowTitle("Information");
    auto* layout = new QVBoxLayout(this);
    message1 = new QLabel("Text", this);
    message1->setObjectName("message1");
    message1->setAlignment(Qt::AlignCenter);
    message1->setWordWrap(true);
    message1->setMinimumWidth(280);
    layout->addWidget(message1);
    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setObjectName("ProgressBar1");
    ProgressBar1->setAccessibleName("Progress");
    ProgressBar1->hide();
    layout->addWidget(ProgressBar1);
    OKBut = new QPushButton("&OK", this);
    OKBut->setObjectName("OKBut");
    OKBut->setDefault(true);
    connect(OKBut, &QPushButton::clicked, this, &QDialog::accept);
    auto* row = new QHBoxLayout;
    row->addStretch(1);
    row->addWidget(OKBut);
    row->addStretch(1);
    layout->addLayout(row);

    Timer1 = new QTimer(this);
    Timer1->setObjectName("Timer1");
    Timer1->setSingleShot(true);
    Timer1->setInterval(timerMs);
    connect(Timer1, &QTimer::timeout, this, &QDialog::accept);
}

void TTimedMsgFrm::setCaption(const QString& caption) { setWindowTitle(caption); }

void TTimedMsgFrm::setMessage(const QString& text) { message1->setText(text); }

void TTimedMsgFrm::setOkVisible(bool visible) { OKBut->setVisible(visible); }

void TTimedMsgFrm::setProgress(int value, int maximum) {
    ProgressBar1->setRange(0, maximum);
    ProgressBar1->setValue(value);
    ProgressBar1->show();
}

void TTimedMsgFrm::setProgressVisible(bool visible) { ProgressBar1->setVisible(visible); }

void TTimedMsgFrm::startTimedClose() { Timer1->start(); }

}  // namespace nv
