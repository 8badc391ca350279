#include "manager/FormWidgets.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace nv {

QLineEdit* namedEdit(const char* name, int maxLength, bool masked, QWidget* parent) {
    auto* e = new QLineEdit(parent);
    e->setObjectName(name);
    if (maxLength > 0) e->setMaxLength(maxLength);
    if (masked) e->setEchoMode(QLineEdit::Password);
    return e;
}

QComboBox* namedList(const char* name, const QStringList& items, bool editable, QWidget* parent) {
    auto* c = new QComboBox(parent);
    c->setObjectName(name);
    c->setEditable(editable);
    c->addItems(items);
    return c;
}

QCheckBox* namedCheckBox(const char* name, const QString& caption, QWidget* parent) {
    auto* c = new QCheckBox(caption, parent);
    c->setObjectName(name);
    return c;
}

QPushButton* namedButton(const char* name, const QString& caption, QWidget* parent) {
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(name);
    return b;
}

QStringList comPortItems(int count) {
    QStringList items;
    for (int i = 1; i <= count; ++i) items << QString::fromStdString(comPortName(i));
    return items;
}

QStringList speedItems(int count) {
    QStringList items;
    for (int i = 0; i < count && i < kSpeedIndexCount; ++i)
        items << QString::number(kSpeedIndexBaud[static_cast<size_t>(i)]);
    return items;
}

DialogButtons okCancelHelp(const QString& okCaption, const char* okName, const char* cancelName, const char* helpName) {
    DialogButtons b;
    b.box = new QDialogButtonBox;
    b.ok = b.box->addButton(okCaption, QDialogButtonBox::AcceptRole);
    b.ok->setObjectName(okName);
    b.ok->setDefault(true);
    b.cancel = b.box->addButton(QDialogButtonBox::Cancel);
    b.cancel->setObjectName(cancelName);
    b.help = b.box->addButton(QDialogButtonBox::Help);
    b.help->setObjectName(helpName);
    return b;
}

QTreeWidget* recordList(const QStringList& headers, QHeaderView::ResizeMode resize) {
    auto* list = new QTreeWidget;
    list->setObjectName("ListView1");
    list->setHeaderLabels(headers);
    list->setRootIsDecorated(false);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->header()->setSectionResizeMode(resize);
    return list;
}

QHBoxLayout* listWithSideButtons(QWidget* owner, QWidget* list, std::initializer_list<QPushButton*> buttons) {
    auto* column = new QVBoxLayout;
    for (QPushButton* b : buttons) column->addWidget(b);
    column->addStretch();
    auto* top = new QHBoxLayout(owner);
    top->addWidget(list, 1);
    top->addLayout(column);
    return top;
}

}  // namespace nv
