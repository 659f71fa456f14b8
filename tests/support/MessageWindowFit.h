#pragma once

// Every text the message window can show (app/Messages.cpp), filled with the
// longest details the program puts into them, and the check that a text fits
// the window: all of it visible, no word running past the label's edge, the
// button below it at its distance and the window around both.

#include "app/handlers/Messages.h"
#include "app/widgets/PromptForm.h"
#include "serial/CommError.h"
#include "serial/posix/TermiosLine.h"

#include <gtest/gtest.h>

#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QString>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace isp::test_support {

// The longest "ECONSTANT, description" the backend can put into a text.
inline std::string longestErrnoName()
{
    std::string longest;
    for (int error = 1; error < 200; ++error) {
        std::string name = errnoName(error);
        if (name.size() > longest.size())
            longest = std::move(name);
    }
    return longest;
}

// Failure texts as the serial backend words them, for the widest port name
// (COM16 on a two-digit USB adapter) and the longest errno.
inline std::vector<std::string> longFailureTexts()
{
    const std::string port = "COM16 (/dev/ttyUSB10)";
    const std::string error = longestErrnoName();
    return {
        "Could not open " + port + " (" + error + ").",
        "Could not read back the line settings of " + port + " (" + error + ").",
        "The serial driver of " + port
            + " does not support mark and space parity (asked for 38400,M,8,1); "
              "the boot loader needs it, so this adapter cannot be used.",
        "The serial driver of " + port + " refused the settings 38400,S,8,1 (" + error + ").",
        port + " is in use by another program (process 4194304, lock file /run/lock/LCK..ttyUSB10).",
        std::string("\"38400,M,8,1\" is not a settings string of the form baud,parity,data bits,stop bits "
                    "(for example 38400,M,8,1)."),
        "The device of " + port + " vanished before its last bytes were sent.",
        "the bytes of a page did not leave the port in time",
    };
}

// Reasons the image reader gives, with the longest system description.
inline std::vector<std::string> fileReasons()
{
    std::string longest;
    for (int error = 1; error < 200; ++error) {
        std::string text = std::strerror(error);
        if (text.size() > longest.size())
            longest = std::move(text);
    }
    return {"the file does not exist", "no permission to read the file", "the name is a loop of symbolic links",
        "the name is a folder, not a file", "the name is too long", "the name is not a regular file",
        "the file became shorter while it was read", longest};
}

// Every message, each once, longest first.
inline std::vector<std::string> everyMessageText()
{
    std::vector<std::string> texts = {messages::PortHeld, messages::FileError, messages::NoPortListed,
        messages::noPortListed({17, 18, 100, 255}),
        messages::openFailed(CommResult(commSettingsRejected, "", "send 8 data bits"))};
    const int numbers[] = {commPortIsOpen, commNoSuchPort, commPortHeld, commNotOpen, commSettingsRejected,
        commBadSettings, commNoPermission, commDeviceGone, commIoError, commTransmitStalled, 9999};
    for (const int number : numbers) {
        for (const std::string& detail : longFailureTexts()) {
            texts.push_back(messages::openFailed(CommResult(number, detail)));
            texts.push_back(messages::lineFailed(CommResult(number, detail)));
        }
    }
    for (const std::string& reason : fileReasons())
        texts.push_back(messages::fileUnreadable(reason));
    std::sort(texts.begin(), texts.end(),
        [](const std::string& a, const std::string& b) { return a.size() != b.size() ? a.size() > b.size() : a < b; });
    texts.erase(std::unique(texts.begin(), texts.end()), texts.end());
    return texts;
}

// Shows `text` in `prompt` and checks that it fits.
inline void expectMessageFits(PromptForm& prompt, const QString& text)
{
    // The laid-out places, in device-independent pixels.
    constexpr QRect Content(16, 16, 129, 17);
    constexpr QRect Ok(48, 48, 57, 25);
    constexpr QSize Window(159, 86);

    prompt.setContent(text);
    const auto* content = prompt.findChild<QLabel*>(QStringLiteral("PromptContent"));
    const auto* ok = prompt.findChild<QPushButton*>(QStringLiteral("Command1"));
    ASSERT_TRUE(content && ok);

    // Where the text starts and how wide it may be stay as laid out.
    EXPECT_EQ(content->pos(), Content.topLeft());
    EXPECT_EQ(content->width(), Content.width());
    EXPECT_EQ(prompt.width(), Window.width());

    // Wrapped at the label's width, the text needs no more room than the
    // label has: no word runs past its right edge, no line below its bottom.
    const QFontMetrics metrics(content->font());
    const QRect needed = metrics.boundingRect(QRect(0, 0, Content.width(), 100000), Qt::TextWordWrap, text);
    EXPECT_LE(needed.width(), content->width()) << "a word runs past the label's edge";
    EXPECT_GE(content->height(), needed.height()) << "lines are cut off at the bottom";
    EXPECT_GE(content->height(), content->heightForWidth(content->width()));

    // The button keeps its distance below the text and the window's bottom
    // edge its distance below the button.
    EXPECT_EQ(ok->x(), Ok.x());
    EXPECT_EQ(ok->size(), Ok.size());
    EXPECT_EQ(ok->y() - content->geometry().bottom(), Ok.y() - Content.bottom());
    EXPECT_EQ(prompt.height() - ok->geometry().bottom(), Window.height() - Ok.bottom());
}

} // namespace isp::test_support
