// Start-up's port scan and the port commands, on scripted ports.
#include "app/handlers/Messages.h"
#include "app/handlers/PortNumberText.h"
#include "tests/support/SimulatedRig.h"
#include "transfer/Protocol.h"

#include <gtest/gtest.h>

using namespace isp;
using namespace isp::test;

namespace {

std::vector<std::string> listed(const ScriptedForm1& form)
{
    std::vector<std::string> texts;
    for (const auto& entry : form.entries)
        texts.push_back(entry.text);
    return texts;
}

void expectStartingState(const SimulatedRig& rig)
{
    const SharedState& state = rig.shell.state();
    EXPECT_EQ(state.PageNumber, IdlePage);
    EXPECT_EQ(state.FileLoadedFlag, 0);
    EXPECT_EQ(state.PortOpenFlag, 0);
    EXPECT_EQ(rig.Timer1.Interval(), 0);
    EXPECT_FALSE(rig.Timer1.Enabled());
    EXPECT_EQ(rig.form.progressMinimum, 0);
    EXPECT_EQ(rig.form.progressMaximum, 223);
    EXPECT_EQ(rig.form.caption, "Uart:close");
    EXPECT_FALSE(rig.MSComm1.PortOpen());
    EXPECT_TRUE(rig.form.messages.empty());
}

} // namespace

TEST(StartUp, ListsThePortsThatOpenOrAreHeld)
{
    struct Case {
        std::vector<int> free;
        std::vector<int> held;
        std::vector<std::string> expected;
        int portNumber;
    };
    const std::vector<Case> cases{
        {{1, 3}, {}, {"COM1", "COM3"}, 1},
        {{6}, {4}, {"COM4", "COM6"}, 4},
        {{12}, {}, {"COM12"}, 12},
        {{16, 17, 20}, {}, {"COM16"}, 16},
        {{}, {}, {}, 0},
    };
    for (const Case& c : cases) {
        SimulatedRig rig;
        for (const int n : c.free)
            rig.line.addPort(n);
        for (const int n : c.held) {
            rig.line.addPort(n);
            rig.line.setHeldByOtherProgram(n, true);
        }
        rig.shell.Form1_Load();
        SCOPED_TRACE(c.expected.empty() ? "none" : c.expected.front());
        EXPECT_EQ(listed(rig.form), c.expected);
        EXPECT_EQ(rig.form.portText(), c.expected.empty() ? "" : c.expected.front());
        EXPECT_EQ(rig.shell.state().PortNumber, c.portNumber);
        expectStartingState(rig);
    }
}

TEST(StartUp, TriesOnlyComOneToSixteenAndLeavesEveryPortClosed)
{
    SimulatedRig rig;
    for (const int n : {2, 9, 17})
        rig.line.addPort(n);
    rig.line.setPermissionDenied(9, true);
    rig.shell.Form1_Load();
    std::vector<std::string> tried;
    for (const auto& op : rig.MSComm1.operations())
        if (op.rfind("CommPort=", 0) == 0)
            tried.push_back(op.substr(9));
    ASSERT_EQ(tried.size(), 16u);
    EXPECT_EQ(tried.front(), "1");
    EXPECT_EQ(tried.back(), "16");
    EXPECT_EQ(listed(rig.form), std::vector<std::string>{"COM2"}) << "a port without permission is not offered";
    EXPECT_EQ(rig.form.entries.front().location, "sim:COM2");
    for (const auto& op : rig.MSComm1.operations())
        EXPECT_EQ(op.find("Settings"), std::string::npos) << "the scan uses the starting settings";
    EXPECT_EQ(rig.form.portTextChanges, 1);
}

TEST(PortNumberText, FourCharactersUseOneDigitLongerTextsTwo)
{
    EXPECT_EQ(portNumberFromText("COM1"), 1);
    EXPECT_EQ(portNumberFromText("COM7"), 7);
    EXPECT_EQ(portNumberFromText("COM10"), 10);
    EXPECT_EQ(portNumberFromText("COM16"), 16);
    EXPECT_EQ(portNumberFromText("COM123"), 12);
    EXPECT_EQ(portNumberFromText("XYZ5"), 5) << "the first three characters are not examined";
    EXPECT_EQ(portNumberFromText(""), std::nullopt);
    EXPECT_EQ(portNumberFromText("COM"), std::nullopt);
    EXPECT_EQ(portNumberFromText("COMx"), std::nullopt);
    EXPECT_EQ(portNumberFromText("COM1x"), std::nullopt);
}

TEST(PortCommands, OpenWritesTheLineSettingsInOrderAndCloseUndoesIt)
{
    SimulatedRig rig;
    for (const int n : {1, 3})
        rig.line.addPort(n);
    rig.shell.Form1_Load();
    rig.form.pickPort("COM3");
    ASSERT_EQ(rig.shell.state().PortNumber, 3);
    rig.MSComm1.clearOperations();

    rig.shell.OpenUart_Click();
    EXPECT_EQ(rig.MSComm1.operations(),
        (std::vector<std::string>{"CommPort=3", "Settings=38400,M,8,1", "InBufferSize=400", "OutBufferSize=400",
            "InputLen=0", "RThreshold=2", "SThreshold=0", "PortOpen=true", "LowLatency=requested"}));
    EXPECT_TRUE(rig.MSComm1.PortOpen());
    EXPECT_EQ(rig.shell.state().PortOpenFlag, 1);
    EXPECT_EQ(rig.form.caption, "Uart:open");

    rig.shell.state().PageNumber = 17;
    rig.shell.OpenUart_Click();
    EXPECT_FALSE(rig.MSComm1.PortOpen());
    EXPECT_EQ(rig.shell.state().PortOpenFlag, 0);
    EXPECT_EQ(rig.form.caption, "Uart:close");
    EXPECT_EQ(rig.shell.state().PageNumber, 17) << "closing leaves a pending page alone";
}

TEST(PortCommands, APortHeldByAnotherProgramIsReportedAndStaysClosed)
{
    SimulatedRig rig;
    rig.line.addPort(1);
    rig.shell.Form1_Load();
    rig.line.setHeldByOtherProgram(1, true);

    rig.shell.OpenUart_Click();
    EXPECT_EQ(rig.form.messages, std::vector<std::string>{" this COM have already be opened by other program! "});
    EXPECT_EQ(rig.shell.state().PortOpenFlag, 0);
    EXPECT_EQ(rig.form.caption, "Uart:close");

    // The next click tries to open again, rather than to close.
    rig.line.setHeldByOtherProgram(1, false);
    rig.shell.OpenUart_Click();
    EXPECT_EQ(rig.form.caption, "Uart:open");
    EXPECT_EQ(rig.form.messages.size(), 1u);
}

TEST(PortCommands, PortsOnlyAboveCom16AreNamedWhenTheUserOpens)
{
    SimulatedRig rig;
    rig.line.addPort(17);
    rig.line.addPort(20);
    rig.ports.setNumbers({17, 20});
    rig.shell.Form1_Load();
    EXPECT_TRUE(rig.form.entries.empty());
    EXPECT_TRUE(rig.form.messages.empty()) << "start-up tells nothing";
    rig.shell.OpenUart_Click();
    EXPECT_EQ(rig.form.messages,
        std::vector<std::string>{" no COM port from COM1 to COM16 was found when the program started, only COM17 and "
                                 "COM20: give the adapter a number from 1 to 16 and start the program again! "});
    EXPECT_FALSE(rig.MSComm1.PortOpen());
}

TEST(PortCommands, OtherOpeningFailuresAreToldInPlainWords)
{
    {
        SimulatedRig rig; // no port at all: PortNumber 0 names none
        rig.shell.Form1_Load();
        rig.line.addPort(1); // plugged in too late: only a new start-up lists it
        rig.shell.OpenUart_Click();
        ASSERT_EQ(rig.form.messages.size(), 1u);
        EXPECT_EQ(rig.form.messages[0], messages::NoPortListed);
        EXPECT_EQ(rig.form.caption, "Uart:close");
        EXPECT_FALSE(rig.MSComm1.PortOpen()) << "the port the scan tried last must not be opened instead";
    }
    {
        SimulatedRig rig;
        rig.line.addPort(1);
        rig.shell.Form1_Load();
        rig.line.setPermissionDenied(1, true);
        rig.shell.OpenUart_Click();
        EXPECT_EQ(
            rig.form.messages.at(0), " no permission to open this COM: join the dialout group and log in again! ");
        rig.line.setPermissionDenied(1, false);
        rig.line.setRejectsMarkSpace(1, true);
        rig.shell.OpenUart_Click();
        EXPECT_EQ(rig.form.messages.at(1), " this COM cannot send mark and space parity: use another adapter! ");
        // Another refused setting is named for what it is.
        EXPECT_EQ(messages::openFailed(CommResult(commSettingsRejected, "", "run at 38400 baud")),
            " this COM cannot run at 38400 baud: use another adapter! ");
        EXPECT_EQ(rig.shell.state().PortOpenFlag, 0);
        EXPECT_EQ(rig.form.caption, "Uart:close");
    }
}

TEST(PortCommands, APickCountsOnlyWhileThePortIsClosed)
{
    SimulatedRig rig;
    for (const int n : {1, 5, 7})
        rig.line.addPort(n);
    rig.shell.Form1_Load();

    rig.form.pickPort("COM5");
    EXPECT_EQ(rig.shell.state().PortNumber, 5);
    rig.shell.OpenUart_Click();
    EXPECT_EQ(rig.MSComm1.CommPort(), 5);

    // While open, a pick changes nothing, is not remembered, and is refused
    // visibly: the box goes back to the port in use.
    rig.MSComm1.clearOperations();
    rig.form.pickPort("COM7");
    EXPECT_EQ(rig.shell.state().PortNumber, 5);
    EXPECT_EQ(rig.form.portText(), "COM5");
    EXPECT_TRUE(rig.MSComm1.operations().empty());
    EXPECT_EQ(rig.form.caption, "Uart:open");
    rig.shell.OpenUart_Click();
    rig.shell.OpenUart_Click();
    EXPECT_EQ(rig.MSComm1.CommPort(), 5);
    rig.shell.OpenUart_Click();
    // Closed, the same pick is taken.
    rig.form.pickPort("COM7");
    EXPECT_EQ(rig.shell.state().PortNumber, 7);
    rig.form.pickPort("COM5");

    // The same port again: no serial operation, caption untouched.
    rig.MSComm1.clearOperations();
    rig.form.setOpenUartCaption("unchanged");
    rig.form.pickPort("COM5");
    EXPECT_TRUE(rig.MSComm1.operations().empty());
    EXPECT_EQ(rig.form.caption, "unchanged");
}

TEST(PortCommands, ExitClosesTheWindowWithoutAMessage)
{
    SimulatedRig rig;
    rig.line.addPort(1);
    rig.shell.Form1_Load();
    rig.shell.OpenUart_Click();
    rig.shell.ExitCommand_Click();
    EXPECT_TRUE(rig.form.closed);
    EXPECT_TRUE(rig.form.messages.empty());
}

TEST(Messages, AComponentsSentenceSitsInsideTheProgramsOwn)
{
    EXPECT_EQ(messages::openFailed(CommResult(commIoError, "Could not open COM3 (EIO).")),
        " this COM could not be opened: Could not open COM3 (EIO)! ");
    EXPECT_EQ(messages::lineFailed(CommResult(commIoError, "the driver said no. ")),
        " the COM port failed during the upload (the driver said no), it is closed now! ");
    EXPECT_EQ(
        messages::openFailed(CommResult(commPortHeld, "held")), " this COM have already be opened by other program! ");
}
