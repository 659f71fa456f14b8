#pragma once

#include "transfer/ProgressDisplay.h"

#include <functional>
#include <optional>
#include <string>

// What the event handlers need of the main window, without widgets: the real
// window implements it with Qt, the tests with a scripted stand-in.
namespace isp {

class Form1View : public ProgressDisplay {
public:
    // ComSelect, the port box: a drop-down list the user picks from.
    virtual void addPortEntry(const std::string& text, const std::string& location) = 0;
    virtual std::optional<std::string> portEntry(int index) const = 0;
    // Setting the text is a change of the box and raises its change event
    // (see setOnPortTextChanged) at once, like the user's pick does.
    virtual void setPortText(const std::string& text) = 0;
    virtual std::string portText() const = 0;
    void setOnPortTextChanged(std::function<void()> handler) { onPortTextChanged_ = std::move(handler); }

    // The caption of OpenUart: "Uart:close" or "Uart:open".
    virtual void setOpenUartCaption(const std::string& caption) = 0;
    virtual std::string openUartCaption() const = 0;

    // PromptForm: sets its label, shows it modally over the main window and
    // returns once the user has closed it. Ticks and serial notifications go
    // on being handled meanwhile.
    virtual void showMessage(const std::string& text) = 0;

    // CommonDialog1: asks for an image file to open; empty when cancelled.
    virtual std::string chooseImageFile() = 0;

    // Closes the main window, which ends the program.
    virtual void closeMainWindow() = 0;

protected:
    void raisePortTextChanged()
    {
        if (onPortTextChanged_)
            onPortTextChanged_();
    }

private:
    std::function<void()> onPortTextChanged_;
};

} // namespace isp
