#include "manager/OperatorUi.h"

#include <QApplication>
#include <QDesktopServices>
#include <QInputDialog>
#include <QMessageBox>

#include "manager/QtText.h"

namespace nv {

bool OperatorUi::askYesNo(const std::string& title, const std::string& text) {
    return showDialog(DialogKind::Confirmation, fromCp1252(text), {DialogButton::Yes, DialogButton::No},
                      fromCp1252(title)) == DialogButton::Yes;
}

void OperatorUi::inform(const std::string& title, const std::string& text) {
    showDialog(DialogKind::Information, fromCp1252(text), {DialogButton::Ok}, fromCp1252(title));
}

void OperatorUi::error(const std::string& title, const std::string& text) {
    showDialog(DialogKind::Error, fromCp1252(text), {DialogButton::Ok}, fromCp1252(title));
}

namespace {

QMessageBox::StandardButton toQt(DialogButton b) {
    switch (b) {
    case DialogButton::Ok: return QMessageBox::Ok;
    case DialogButton::Cancel: return QMessageBox::Cancel;
    case DialogButton::Yes: return QMessageBox::Yes;
    case DialogButton::No: return QMessageBox::No;
    case DialogButton::Help: return QMessageBox::Help;
    }
    return QMessageBox::Ok;
}

}  // namespace

DialogButton QtOperatorUi::showDialog(DialogKind kind, const QString& text,
                                      const QList<DialogButton>& buttons, const QString& title) {
    QMessageBox box(m_parent ? m_parent : QApplication::activeWindow());
    switch (kind) {
    case DialogKind::Information: box.setIcon(QMessageBox::Information); break;
    case DialogKind::Warning: box.setIcon(QMessageBox::Warning); break;
    case DialogKind::Error: box.setIcon(QMessageBox::Critical); break;
    case DialogKind::Confirmation: box.setIcon(QMessageBox::Question); break;
    }
    static const char* const kTitles[] = {"Information", "Warning", "Error", "Confirm"};
    box.setWindowTitle(title.isEmpty() ? QString::fromLatin1(kTitles[static_cast<int>(kind)]) : title);
    box.setText(text);
    QMessageBox::StandardButtons set;
    for (DialogButton b : buttons) set |= toQt(b);
    box.setStandardButtons(set);
    if (!buttons.isEmpty()) box.setDefaultButton(toQt(buttons.front()));
    const int r = box.exec();
    for (DialogButton b : buttons)
        if (r == toQt(b)) return b;
    return buttons.contains(DialogButton::No) ? DialogButton::No : DialogButton::Cancel;
}

std::optional<QString> QtOperatorUi::inputText(const QString& caption, const QString& prompt,
                                               const QString& initial) {
    bool ok = false;
    const QString text = QInputDialog::getText(m_parent ? m_parent : QApplication::activeWindow(), caption,
                                               prompt, QLineEdit::Normal, initial, &ok);
    if (!ok) return std::nullopt;
    return text;
}

void QtOperatorUi::beep(BeepKind) { QApplication::beep(); }

bool QtOperatorUi::openUrl(const QUrl& url) { return QDesktopServices::openUrl(url); }

}  // namespace nv
