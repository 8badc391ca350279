#pragma once
// Every message box, question, input box, beep and URL the manager's windows
// raise goes through this interface, so tests script the answers and no window
// calls a static QMessageBox. Shared code's prompts (record upgrades, a newer
// file refused) reach it through the UserPrompt base.
#include <QList>
#include <QString>
#include <QUrl>
#include <optional>

#include "foundation/UserPrompt.h"

class QWidget;

namespace nv {

enum class DialogKind { Information, Warning, Error, Confirmation };
enum class DialogButton { Ok, Cancel, Yes, No, Help };
// The system sounds the windows use: MessageBeep's plain, question, asterisk
// (information), exclamation (warning) and hand (error).
enum class BeepKind { Plain, Question, Information, Warning, Error };

class OperatorUi : public UserPrompt {
public:
    // Shows `text` with `buttons` (the first is the default); the button pressed,
    // or Cancel/No when the dialog was closed otherwise.
    virtual DialogButton showDialog(DialogKind kind, const QString& text,
                                    const QList<DialogButton>& buttons, const QString& title = {}) = 0;
    // An input box; nullopt when cancelled.
    virtual std::optional<QString> inputText(const QString& caption, const QString& prompt,
                                             const QString& initial = {}) = 0;
    virtual void beep(BeepKind kind) = 0;
    // Opens a URL (file, http, https, mailto) with the desktop; false when nothing took it.
    virtual bool openUrl(const QUrl& url) = 0;

    // Shorthands for the usual dialogs.
    void information(const QString& text) { showDialog(DialogKind::Information, text, {DialogButton::Ok}); }
    void warning(const QString& text) { showDialog(DialogKind::Warning, text, {DialogButton::Ok}); }
    void errorBox(const QString& text) { showDialog(DialogKind::Error, text, {DialogButton::Ok}); }
    // Yes/No confirmation; true for Yes.
    bool confirm(const QString& text) {
        return showDialog(DialogKind::Confirmation, text, {DialogButton::Yes, DialogButton::No}) ==
               DialogButton::Yes;
    }

    // UserPrompt: shared code's texts are Windows-1252.
    bool askYesNo(const std::string& title, const std::string& text) override;
    void inform(const std::string& title, const std::string& text) override;
    void error(const std::string& title, const std::string& text) override;
};

// Real dialogs, parented to the active window (or `parent`).
class QtOperatorUi : public OperatorUi {
public:
    explicit QtOperatorUi(QWidget* parent = nullptr) : m_parent(parent) {}
    DialogButton showDialog(DialogKind kind, const QString& text, const QList<DialogButton>& buttons,
                            const QString& title = {}) override;
    std::optional<QString> inputText(const QString& caption, const QString& prompt,
                                     const QString& initial = {}) override;
    void beep(BeepKind kind) override;
    bool openUrl(const QUrl& url) override;

private:
    QWidget* m_parent;
};

}  // namespace nv
