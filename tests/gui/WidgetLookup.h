#pragma once
// Finding a window's controls by object name, and typing into them, for the
// window tests. A missing control fails the test without ending it.
#include <QComboBox>
#include <QLineEdit>
#include <QObject>
#include <gtest/gtest.h>

#include "tests/gui/QtPrint.h"

namespace nv::test {

template <class T>
T* child(QObject& parent, const char* name) {
    T* c = parent.findChild<T*>(name);
    EXPECT_NE(c, nullptr) << "no widget " << name;
    return c;
}
template <class T>
T* child(QObject* parent, const char* name) {
    return child<T>(*parent, name);
}

// The text of a line edit, or of a list: an editable one takes it as typed,
// a fixed one selects the entry.
inline void setText(QObject& parent, const char* name, const QString& text) {
    if (auto* e = parent.findChild<QLineEdit*>(name)) {
        e->setText(text);
        return;
    }
    auto* c = child<QComboBox>(parent, name);
    if (!c) return;
    if (c->isEditable()) c->setEditText(text);
    else c->setCurrentIndex(c->findText(text));
}
inline void setText(QObject* parent, const char* name, const QString& text) { setText(*parent, name, text); }

}  // namespace nv::test
