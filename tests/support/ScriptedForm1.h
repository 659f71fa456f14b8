#pragma once

#include "app/handlers/Form1View.h"
#include "serial/Clock.h"

#include <deque>
#include <functional>
#include <string>
#include <vector>

// The main window as the handlers see it, for tests. A message "shows" by
// running the event loop until the scripted user presses "ok", so ticks and
// notifications go on meanwhile, as with a modal window.
namespace isp::test {

class ScriptedForm1 final : public Form1View {
public:
    // Runs the test's event loop for a while.
    using LoopRunner = std::function<void(Clock::Duration)>;
    explicit ScriptedForm1(LoopRunner runLoop = {}) : runLoop_(std::move(runLoop)) {}

    struct Entry {
        std::string text;
        std::string location;
    };

    void addPortEntry(const std::string& text, const std::string& location) override
    {
        entries.push_back({text, location});
    }
    std::optional<std::string> portEntry(int index) const override
    {
        if (index < 0 || static_cast<std::size_t>(index) >= entries.size())
            return std::nullopt;
        return entries[static_cast<std::size_t>(index)].text;
    }
    void setPortText(const std::string& text) override
    {
        if (text == portText_)
            return;
        portText_ = text;
        ++portTextChanges;
        raisePortTextChanged();
    }
    // The user picks an entry of the list.
    void pickPort(const std::string& text) { setPortText(text); }
    std::string portText() const override { return portText_; }

    void setOpenUartCaption(const std::string& text) override { caption = text; }
    std::string openUartCaption() const override { return caption; }

    void setProgressRange(int minimum, int maximum) override
    {
        progressMinimum = minimum;
        progressMaximum = maximum;
    }
    void setProgressValue(int value) override
    {
        progressValue = value;
        progressHistory.push_back(value);
    }

    void showMessage(const std::string& text) override
    {
        messages.push_back(text);
        ++showing;
        if (onMessageShown)
            onMessageShown(text);
        if (runLoop_)
            runLoop_(messageReadingTime);
        --showing;
    }

    std::string chooseImageFile() override
    {
        ++chooserShown;
        if (chosenFiles.empty())
            return {};
        std::string next = chosenFiles.front();
        chosenFiles.pop_front();
        return next;
    }

    void closeMainWindow() override { closed = true; }

    std::vector<Entry> entries;
    std::string caption = "Uart:close";
    int progressMinimum = 0;
    int progressMaximum = 100;
    int progressValue = 0;
    std::vector<int> progressHistory;
    std::vector<std::string> messages;
    int showing = 0;
    std::function<void(const std::string&)> onMessageShown;
    Clock::Duration messageReadingTime = std::chrono::milliseconds(500);
    std::deque<std::string> chosenFiles;
    int chooserShown = 0;
    int portTextChanges = 0;
    bool closed = false;

private:
    LoopRunner runLoop_;
    std::string portText_;
};

} // namespace isp::test
