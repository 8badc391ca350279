#pragma once
// The main window's right-hand panel: the group "Server Stats" with one label
// per counter of the service, and the group "Hours On-Line" with `TimerBox`.
// The labels show the values as the service sends them; no arithmetic here.
#include <QString>
#include <QWidget>

class QLabel;

namespace nv {

class ServerStatsPanel : public QWidget {
    Q_OBJECT
public:
    explicit ServerStatsPanel(QWidget* parent = nullptr);

    // The label of a counter id; nullptr for an id outside the table (13, 15).
    QLabel* counterLabel(int id) const;
    // False (nothing changed) for an id outside the table.
    bool setCounter(int id, const QString& value);
    // "Clear &Stats": every counter but the queue length back to "0".
    void clearStats();
    void setOnLineTime(int hours, int minutes);
    QLabel* timerBox() const { return m_timerBox; }

    // "%d Hrs.  %2.2d Min."
    static QString onLineText(int hours, int minutes);

private:
    QLabel* m_timerBox = nullptr;
};

}  // namespace nv
