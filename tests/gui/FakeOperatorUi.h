#pragma once
// Scripted operator for the window tests: records every dialog, input box, beep
// and URL, and answers from queues (Yes/OK when nothing is queued).
#include <QString>
#include <deque>
#include <optional>
#include <vector>

#include "manager/OperatorUi.h"
#include "tests/gui/QtPrint.h"

namespace nv::test {

class FakeOperatorUi : public OperatorUi {
public:
    struct Shown {
        DialogKind kind;
        QString text;
        QList<DialogButton> buttons;
        QString title;
    };

    DialogButton showDialog(DialogKind kind, const QString& text, const QList<DialogButton>& buttons,
                            const QString& title = {}) override {
        shown.push_back({kind, text, buttons, title});
        if (!answers.empty()) {
            DialogButton a = answers.front();
            answers.pop_front();
            return a;
        }
        return buttons.isEmpty() ? DialogButton::Ok : buttons.front();
    }
    std::optional<QString> inputText(const QString& caption, const QString& prompt,
                                     const QString& initial = {}) override {
        inputs.push_back({caption, prompt, initial});
        // One return of one object: copying an optional out of the queue made GCC
        // warn that the QString might be used uninitialised.
        std::optional<QString> answer;
        if (!inputAnswers.empty()) {
            answer.swap(inputAnswers.front());
            inputAnswers.pop_front();
        }
        return answer;
    }
    void beep(BeepKind kind) override { beeps.push_back(kind); }
    bool openUrl(const QUrl& url) override {
        urls.push_back(url);
        return openUrlResult;
    }

    // The texts of the dialogs shown, in order.
    std::vector<QString> texts() const {
        std::vector<QString> t;
        for (const auto& s : shown) t.push_back(s.text);
        return t;
    }
    void clear() {
        shown.clear();
        inputs.clear();
        beeps.clear();
        urls.clear();
    }

    struct Input {
        QString caption, prompt, initial;
    };
    std::vector<Shown> shown;
    std::vector<Input> inputs;
    std::vector<BeepKind> beeps;
    std::vector<QUrl> urls;
    std::deque<DialogButton> answers;
    std::deque<std::optional<QString>> inputAnswers;
    bool openUrlResult = true;
};

}  // namespace nv::test
