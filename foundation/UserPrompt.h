#pragma once
// Questions and messages raised inside shared code (record upgrades, errors).
// The manager answers through dialogs; the service logs the text and takes the
// safe answer, so nothing in the service ever waits for a person.
#include <functional>
#include <string>

namespace nv {

class UserPrompt {
public:
    virtual ~UserPrompt() = default;
    // True for Yes.
    virtual bool askYesNo(const std::string& title, const std::string& text) = 0;
    virtual void inform(const std::string& title, const std::string& text) = 0;
    virtual void error(const std::string& title, const std::string& text) = 0;
};

// Unattended answers: every question is No, every message is passed to `log`.
class UnattendedPrompt : public UserPrompt {
public:
    explicit UnattendedPrompt(std::function<void(const std::string&)> log) : m_log(std::move(log)) {}
    bool askYesNo(const std::string& title, const std::string& text) override {
        if (m_log) m_log(title + ": " + text + " (answered No)");
        return false;
    }
    void inform(const std::string& title, const std::string& text) override {
        if (m_log) m_log(title + ": " + text);
    }
    void error(const std::string& title, const std::string& text) override {
        if (m_log) m_log(title + ": " + text);
    }

private:
    std::function<void(const std::string&)> m_log;
};

}  // namespace nv
