#pragma once
// Shared by the port and route window tests: driving the modal editors that
// the list windows open with exec(), and record images built byte by byte.
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <functional>
#include <string>

#include "tests/foundation/fixtures/RecordFixtures.h"
#include "tests/gui/WidgetLookup.h"

namespace nv::test {

// Runs `drive` on the next modal dialog of type D once its exec() has shown it.
// A dialog that `drive` leaves open is cancelled, so a failed check never hangs.
template <class D>
void onModal(std::function<void(D*)> drive) {
    auto* timer = new QTimer;
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, [timer, drive] {
        auto* d = qobject_cast<D*>(QApplication::activeModalWidget());
        if (!d) return;
        timer->stop();
        timer->deleteLater();
        drive(d);
        if (d->isVisible()) d->reject();
    });
    timer->start();
}

// Selects the entry `text` of a fixed list; false when the list has none.
inline bool choose(QWidget* parent, const char* name, const QString& text) {
    auto* box = child<QComboBox>(parent, name);
    if (!box) return false;
    int i = box->findText(text, Qt::MatchFixedString | Qt::MatchCaseSensitive);
    if (i < 0) return false;
    box->setCurrentIndex(i);
    return true;
}

inline QStringList entries(QWidget* parent, const char* name) {
    QStringList out;
    if (auto* box = child<QComboBox>(parent, name))
        for (int i = 0; i < box->count(); ++i) out << box->itemText(i);
    return out;
}

inline void click(QWidget* parent, const char* name) {
    if (auto* b = child<QPushButton>(parent, name)) b->click();
}

using fx::byte;
using fx::le16;

}  // namespace nv::test
