#pragma once
// "Information": a small message window that can close itself after a while
// (Timer1, 7 seconds by default, switched on by the caller), or, shown without
// its OK button and with the progress bar, serve as a progress display.
#include <QDialog>

class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

namespace nv {

class TTimedMsgFrm : public QDialog {
    Q_OBJECT
public:
    explicit TTimedMsgFrm(QWidget* parent = nullptr, int timerMs = 7000);

    void setCaption(const QString& caption);
    void setMessage(const QString& text);
    void setOkVisible(bool visible);
    // Shows the bar at `value` of `maximum`.
    void setProgress(int value, int maximum);
    void setProgressVisible(bool visible);
    // The timed close: when Timer1 runs out the window closes as if OK were pressed.
    void startTimedClose();

    QLabel* message1 = nullptr;
    QPushButton* OKBut = nullptr;
    QProgressBar* ProgressBar1 = nullptr;
    QTimer* Timer1 = nullptr;
};

}  // namespace nv
