#pragma once
// The small builders every window uses: controls with an object name (tests and
// the main window find a control by it), the COM port and speed lists, the
// OK/Cancel/Help row of the editors and the list-with-side-buttons layout of the
// record lists.
#include <QHeaderView>
#include <QString>
#include <QStringList>
#include <initializer_list>

#include "foundation/SpeedIndex.h"

class QCheckBox;
class QComboBox;
class QDialogButtonBox;
class QHBoxLayout;
class QLineEdit;
class QPushButton;
class QTreeWidget;
class QWidget;

namespace nv {

// `maxLength` 0 leaves Qt's own limit; `masked` shows bullets (passwords).
QLineEdit* namedEdit(const char* name, int maxLength = 0, bool masked = false, QWidget* parent = nullptr);
QComboBox* namedList(const char* name, const QStringList& items, bool editable = false, QWidget* parent = nullptr);
QCheckBox* namedCheckBox(const char* name, const QString& caption, QWidget* parent = nullptr);
QPushButton* namedButton(const char* name, const QString& caption, QWidget* parent = nullptr);

// "COM1" .. "COM<count>".
QStringList comPortItems(int count);
// The speed index's baud rates in order, the first `count` of them.
QStringList speedItems(int count = kSpeedIndexCount);

// OK (default button), Cancel and Help in one row, each with its object name.
struct DialogButtons {
    QDialogButtonBox* box;
    QPushButton* ok;
    QPushButton* cancel;
    QPushButton* help;
};
DialogButtons okCancelHelp(const QString& okCaption, const char* okName, const char* cancelName, const char* helpName);

// A record list ("ListView1"): one row per record, not editable in place.
QTreeWidget* recordList(const QStringList& headers, QHeaderView::ResizeMode resize);
// The list on the left, the buttons stacked on its right; laid out on `owner`.
QHBoxLayout* listWithSideButtons(QWidget* owner, QWidget* list, std::initializer_list<QPushButton*> buttons);

}  // namespace nv
