// The two windows as the user meets them: layout, focus, the port box's
// change event, the message window's modality, the file dialog, closing, and
// the port commands clicked through the real main window.

#include "app/handlers/Messages.h"
#include "app/widgets/Form1.h"
#include "app/widgets/Program.h"
#include "app/widgets/PromptForm.h"
#include "image/ImageFile.h"
#include "serial/sim/SimulatedLine.h"
#include "tests/support/LaidOutQtWindow.h"
#include "tests/support/MessageWindowFit.h"
#include "tests/support/WidgetApplication.h"

#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace isp {
namespace {

QApplication& application()
{
    return *qApp;
}

QPoint screenOrigin()
{
    return QGuiApplication::primaryScreen()->geometry().topLeft();
}

template <typename T>
T* child(const QWidget& parent, const char* name)
{
    T* found = parent.findChild<T*>(QString::fromLatin1(name), Qt::FindDirectChildrenOnly);
    EXPECT_NE(found, nullptr) << name << " missing or of another kind";
    return found;
}

// Runs `inside` from the event loop once the message window is up (in the
// nested loop of showMessage), handing it the window. A window that a failed
// check left open is closed after a while, so the test ends instead of
// hanging.
void whilePromptShows(std::function<void(PromptForm&)> inside)
{
    QTimer::singleShot(0, [inside = std::move(inside)] {
        auto* prompt = qobject_cast<PromptForm*>(QApplication::activeModalWidget());
        if (prompt == nullptr) {
            ADD_FAILURE() << "no message window is showing";
            return;
        }
        const QPointer<PromptForm> open(prompt);
        inside(*prompt);
        QTimer::singleShot(10000, [open] {
            if (open) {
                ADD_FAILURE() << "the message window was left open";
                open->close();
            }
        });
    });
}

void clickOk(PromptForm& prompt)
{
    auto* ok = prompt.findChild<QPushButton*>(QStringLiteral("Command1"));
    ASSERT_NE(ok, nullptr);
    QTest::mouseClick(ok, Qt::LeftButton);
}

// A click as the window system delivers it, into the window at the centre of
// `widget`: Qt's modality applies to these, as it does to a user's clicks.
void clickThroughWindow(QWidget& window, QWidget& widget)
{
    const QPoint at = widget.mapTo(&window, widget.rect().center());
    QTest::mouseClick(window.windowHandle(), Qt::LeftButton, Qt::NoModifier, at);
}

class QtWindowTest : public ::testing::Test {
protected:
    void SetUp() override { application(); }

    void showAndActivate(QWidget& window)
    {
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.windowHandle()));
    }
};

// ---------------------------------------------------------------- main window

TEST_F(QtWindowTest, MainWindowIsBuiltAsLaidOut)
{
    Form1 form;
    showAndActivate(form);
    test_support::expectBuiltAsLaidOut(form, layout::Form1Layout);
    EXPECT_FALSE(form.windowIcon().pixmap(32, 32).toImage().isNull());

    auto* bar = child<QProgressBar>(form, "ProgressBar1");
    auto* box = child<QComboBox>(form, "ComSelect");
    ASSERT_TRUE(bar && box);
    EXPECT_EQ(bar->minimum(), 0);
    EXPECT_EQ(bar->maximum(), 100);
    EXPECT_EQ(bar->value(), 0);
    EXPECT_EQ(box->count(), 0);
}

TEST_F(QtWindowTest, LabelShowsItsWholeTextWithoutReachingThePortBox)
{
    const QFont original = QApplication::font();
    // The desktop's font, then one far too wide for the room there is.
    for (const bool tripled : {false, true}) {
        SCOPED_TRACE(tripled ? "tripled font" : "desktop font");
        QFont font = original;
        if (tripled) {
            if (original.pointSizeF() > 0)
                font.setPointSizeF(3 * original.pointSizeF());
            else
                font.setPixelSize(3 * original.pixelSize());
        }
        QApplication::setFont(font);
        Form1 form;
        auto* label = child<QLabel>(form, "Label2");
        auto* box = child<QComboBox>(form, "ComSelect");
        ASSERT_TRUE(label && box);

        const QRect drawn = twips::rect(layout::Form1Layout.control("Label2").rect);
        EXPECT_EQ(label->pos(), drawn.topLeft());
        EXPECT_EQ(label->height(), drawn.height());
        EXPECT_GE(label->width(), drawn.width());
        EXPECT_LT(label->geometry().right(), box->x() - 1) << "the label runs into the port box";
        const bool fitsBetween = label->sizeHint().width() <= box->x() - 4 - label->x();
        if (fitsBetween) {
            EXPECT_GE(label->width(), label->sizeHint().width()) << "the text is cut off";
        }
        if (tripled) {
            EXPECT_FALSE(fitsBetween) << "the wide font does not test the limit";
        }
    }
    QApplication::setFont(original);
}

TEST_F(QtWindowTest, FocusStartsOnOpenFileAndTabCyclesThroughTheFourInputs)
{
    Form1 form;
    showAndActivate(form);
    const QStringList order = test_support::focusOrderOf(layout::Form1Layout);
    ASSERT_NE(QApplication::focusWidget(), nullptr);
    EXPECT_EQ(QApplication::focusWidget()->objectName(), order.front());

    // Round the window and back again.
    QStringList forward;
    for (qsizetype i = 0; i < order.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        forward << QApplication::focusWidget()->objectName();
    }
    EXPECT_EQ(forward, order.mid(1) + order.mid(0, 1));

    QStringList backward;
    for (qsizetype i = 0; i < order.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
        backward.prepend(QApplication::focusWidget()->objectName());
    }
    EXPECT_EQ(backward, order);
}

TEST_F(QtWindowTest, ButtonsAnswerSpaceAndClicksButNotEnter)
{
    Form1 form;
    showAndActivate(form);
    int clicks = 0;
    QObject::connect(form.openFileButton(), &QPushButton::clicked, [&] { ++clicks; });

    // No default button: Return and Enter click nothing, not even the
    // button that has the focus.
    QTest::keyClick(form.openFileButton(), Qt::Key_Return);
    QTest::keyClick(form.openFileButton(), Qt::Key_Enter);
    EXPECT_EQ(clicks, 0);

    QTest::keyClick(form.openFileButton(), Qt::Key_Space);
    EXPECT_EQ(clicks, 1);
    clickThroughWindow(form, *form.openFileButton());
    EXPECT_EQ(clicks, 2);
}

TEST_F(QtWindowTest, CaptionAndProgressReachTheirControls)
{
    Form1 form;
    auto* uart = child<QPushButton>(form, "OpenUart");
    auto* bar = child<QProgressBar>(form, "ProgressBar1");
    ASSERT_TRUE(uart && bar);

    form.setOpenUartCaption("Uart:open");
    EXPECT_EQ(uart->text(), "Uart:open");
    EXPECT_EQ(form.openUartCaption(), "Uart:open");

    form.setProgressRange(0, 223);
    form.setProgressValue(223);
    EXPECT_EQ(bar->minimum(), 0);
    EXPECT_EQ(bar->maximum(), 223);
    EXPECT_EQ(bar->value(), 223);
}

// ------------------------------------------------------------------ port box

class PortBoxTest : public QtWindowTest {
protected:
    void SetUp() override
    {
        QtWindowTest::SetUp();
        form = std::make_unique<Form1>();
        box = form->findChild<QComboBox*>(QStringLiteral("ComSelect"));
        ASSERT_NE(box, nullptr);
        // Records what the handler sees when it is called.
        Form1View::Events events;
        events.portTextChanged = [this] { seen.push_back(form->portText()); };
        form->setEvents(std::move(events));
    }

    std::unique_ptr<Form1> form;
    QComboBox* box = nullptr;
    std::vector<std::string> seen;
};

TEST_F(PortBoxTest, EntriesKeepTheirOrderAndLocationWithoutChangingTheText)
{
    form->addPortEntry("COM1", "/dev/ttyS0");
    form->addPortEntry("COM3", "/dev/ttyUSB0");

    EXPECT_EQ(form->portEntry(0), "COM1");
    EXPECT_EQ(form->portEntry(1), "COM3");
    EXPECT_EQ(form->portEntry(2), std::nullopt);
    EXPECT_EQ(form->portEntry(-1), std::nullopt);
    EXPECT_EQ(box->itemData(0, Qt::ToolTipRole).toString(), "/dev/ttyS0");
    EXPECT_EQ(box->itemData(1, Qt::ToolTipRole).toString(), "/dev/ttyUSB0");

    // Adding to an empty list must not pick the first entry by itself.
    EXPECT_EQ(form->portText(), "");
    EXPECT_EQ(box->currentIndex(), -1);
    EXPECT_TRUE(seen.empty());
}

TEST_F(PortBoxTest, SettingTheTextRaisesTheChangeOnceAndOnlyForAChange)
{
    form->addPortEntry("COM1", "/dev/ttyS0");
    form->addPortEntry("COM2", "/dev/ttyS1");

    form->setPortText("COM2");
    EXPECT_EQ(seen, (std::vector<std::string>{"COM2"}));
    EXPECT_EQ(box->currentIndex(), 1);

    form->setPortText("COM2");
    EXPECT_EQ(seen.size(), 1u) << "unchanged text raised the change";

    form->setPortText("COM1");
    EXPECT_EQ(seen, (std::vector<std::string>{"COM2", "COM1"}));
    EXPECT_EQ(box->currentText(), "COM1");
}

TEST_F(PortBoxTest, TextWithoutAnEntryIsShownAndAnEntryAddedLaterMatchesIt)
{
    form->addPortEntry("COM1", "/dev/ttyS0");

    form->setPortText("COM9");
    EXPECT_EQ(form->portText(), "COM9");
    EXPECT_EQ(box->currentIndex(), -1);
    EXPECT_EQ(seen, (std::vector<std::string>{"COM9"}));

    form->addPortEntry("COM9", "/dev/ttyUSB3");
    EXPECT_EQ(box->currentIndex(), 1);
    EXPECT_EQ(form->portText(), "COM9");
    EXPECT_EQ(seen.size(), 1u) << "the shown text did not change";

    form->setPortText("COM1");
    form->setPortText("");
    EXPECT_EQ(form->portText(), "");
    EXPECT_EQ(seen, (std::vector<std::string>{"COM9", "COM1", ""}));
}

TEST_F(PortBoxTest, UsersPickRaisesTheChangeOnce)
{
    form->addPortEntry("COM1", "/dev/ttyS0");
    form->addPortEntry("COM2", "/dev/ttyS1");
    form->setPortText("COM1");
    seen.clear();
    showAndActivate(*form);
    box->setFocus();

    QTest::keyClick(box, Qt::Key_Down);
    EXPECT_EQ(seen, (std::vector<std::string>{"COM2"}));
    // At the end of the list there is nothing further to pick.
    QTest::keyClick(box, Qt::Key_Down);
    EXPECT_EQ(seen, (std::vector<std::string>{"COM2"}));
    QTest::keyClick(box, Qt::Key_Up);
    EXPECT_EQ(seen, (std::vector<std::string>{"COM2", "COM1"}));
}

TEST_F(PortBoxTest, EmptyBoxOffersNothingToPick)
{
    showAndActivate(*form);
    clickThroughWindow(*form, *box);
    QTest::keyClick(box, Qt::Key_Down);
    QTest::keyClick(box, Qt::Key_Escape);

    EXPECT_EQ(box->count(), 0);
    EXPECT_EQ(box->view()->model()->rowCount(), 0);
    EXPECT_EQ(form->portText(), "");
    EXPECT_TRUE(seen.empty());
}

// ------------------------------------------------------------ message window

TEST_F(QtWindowTest, MessageWindowOpensAtItsPlaceEachTimeWithOnlyItsOwnText)
{
    Form1 form;
    showAndActivate(form);
    const QRect home = twips::onScreen(layout::PromptFormLayout.clientArea);

    int showings = 0;
    whilePromptShows([&](PromptForm& prompt) {
        ++showings;
        test_support::expectBuiltAsLaidOut(prompt, layout::PromptFormLayout);
        EXPECT_EQ(prompt.parentWidget(), &form);
        EXPECT_EQ(prompt.windowModality(), Qt::ApplicationModal);

        auto* content = prompt.findChild<QLabel*>(QStringLiteral("PromptContent"));
        auto* ok = prompt.findChild<QPushButton*>(QStringLiteral("Command1"));
        ASSERT_TRUE(content && ok);
        EXPECT_EQ(content->text(), "first message");
        // "ok" has the focus once the window system activates the window.
        EXPECT_EQ(prompt.focusWidget(), ok);
        EXPECT_TRUE(QTest::qWaitFor([ok] { return QApplication::focusWidget() == ok; }));

        // The user drags it away before closing it.
        prompt.move(prompt.pos() + QPoint(120, 80));
        clickOk(prompt);
    });
    form.showMessage("first message");
    EXPECT_EQ(showings, 1);
    EXPECT_TRUE(form.findChildren<PromptForm*>().isEmpty()) << "the window outlived its message";

    whilePromptShows([&](PromptForm& prompt) {
        ++showings;
        EXPECT_EQ(prompt.geometry(), home);
        EXPECT_EQ(prompt.content(), "second");
        clickOk(prompt);
    });
    form.showMessage("second");
    EXPECT_EQ(showings, 2);
}

TEST_F(QtWindowTest, MessageWindowClosesByOkOrFrameButNotByEnterOrEscape)
{
    Form1 form;
    showAndActivate(form);

    const std::vector<std::pair<const char*, std::function<void(PromptForm&)>>> ways = {
        {"ok by keyboard",
            [](PromptForm& p) {
                QTest::keyClick(p.findChild<QPushButton*>(QStringLiteral("Command1")), Qt::Key_Space);
            }},
        {"frame's close control", [](PromptForm& p) { p.close(); }},
    };
    for (const auto& [name, closeIt] : ways) {
        SCOPED_TRACE(name);
        bool stillOpenAfterEnter = false;
        whilePromptShows([&, closeIt = closeIt](PromptForm& prompt) {
            QPointer<PromptForm> guard(&prompt);
            QTest::keyClick(&prompt, Qt::Key_Return);
            QTest::keyClick(&prompt, Qt::Key_Enter);
            QTest::keyClick(&prompt, Qt::Key_Escape);
            QTest::keyClick(prompt.findChild<QPushButton*>(QStringLiteral("Command1")), Qt::Key_Escape);
            QCoreApplication::processEvents();
            stillOpenAfterEnter = guard && prompt.isVisible();
            if (guard)
                closeIt(prompt);
        });
        form.showMessage("closing");
        EXPECT_TRUE(stillOpenAfterEnter);
        EXPECT_TRUE(form.findChildren<PromptForm*>().isEmpty());
        EXPECT_TRUE(form.isVisible()) << "closing the message closed the main window";
    }
}

TEST_F(QtWindowTest, WhileTheMessageShowsTimersTickAndTheMainWindowTakesNoClicks)
{
    Form1 form;
    showAndActivate(form);
    int uartClicks = 0;
    QObject::connect(form.openUartButton(), &QPushButton::clicked, [&] { ++uartClicks; });

    // The same click reaches the button while no message shows.
    clickThroughWindow(form, *form.openUartButton());
    ASSERT_EQ(uartClicks, 1);

    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(5);

    int uartClicksWhileShowing = -1;
    whilePromptShows([&](PromptForm& prompt) {
        clickThroughWindow(form, *form.openUartButton());
        QTest::mouseClick(form.openUartButton(), Qt::LeftButton);
        QTest::keyClick(&form, Qt::Key_Space);
        uartClicksWhileShowing = uartClicks - 1;
        QPointer<PromptForm> guard(&prompt);
        QTimer::singleShot(100, [guard] {
            if (guard)
                clickOk(*guard);
        });
    });
    form.showMessage("busy");
    ticker.stop();

    EXPECT_EQ(uartClicksWhileShowing, 0);
    EXPECT_GT(ticks, 0);
}

TEST_F(QtWindowTest, LongMessageWrapsAndTheWindowGrowsDownwards)
{
    Form1 form;
    // The longest text the program shows, and a longer one.
    for (const QString& text :
        {QStringLiteral(" no permission to open this COM: join the dialout group and log in again! "),
            QStringLiteral(" the COM port failed during the upload (input/output error on the line), "
                           "it is closed now! ")}) {
        SCOPED_TRACE(text.toStdString());
        PromptForm prompt(&form);
        const QRect before = prompt.geometry();
        prompt.setContent(text);

        auto* content = prompt.findChild<QLabel*>(QStringLiteral("PromptContent"));
        auto* ok = prompt.findChild<QPushButton*>(QStringLiteral("Command1"));
        ASSERT_TRUE(content && ok);

        // Where the text starts and how wide it may be stay as laid out.
        EXPECT_EQ(content->pos(), QPoint(16, 16));
        EXPECT_EQ(content->width(), 129);
        EXPECT_EQ(prompt.pos(), before.topLeft());
        EXPECT_EQ(prompt.width(), 159);
        // All of the wrapped text fits, clear of the button, which keeps its
        // distance below the label and stays inside the window.
        const QFontMetrics metrics(content->font());
        const QRect needed = metrics.boundingRect(QRect(0, 0, 129, 10000), Qt::TextWordWrap, text);
        EXPECT_LE(needed.width(), 129);
        EXPECT_GE(content->height(), needed.height());
        EXPECT_GT(content->height(), 17);
        EXPECT_EQ(ok->y() - content->geometry().bottom(), 48 - (16 + 17 - 1));
        EXPECT_EQ(prompt.height() - ok->geometry().bottom(), 86 - (48 + 25 - 1));
        EXPECT_EQ(ok->x(), 48);
    }
}

TEST_F(QtWindowTest, EveryMessageTheProgramShowsFitsTheWindow)
{
    Form1 form;
    const std::vector<std::string> texts = test_support::everyMessageText();
    ASSERT_GT(texts.size(), 2u);
    int longestHeight = 0;
    for (const std::string& text : texts) {
        SCOPED_TRACE(text);
        PromptForm prompt(&form);
        const QPoint home = prompt.pos();
        test_support::expectMessageFits(prompt, QString::fromStdString(text));
        EXPECT_EQ(prompt.pos(), home);
        // The layout was drawn for screens of at least 1024 x 768: even the
        // longest message leaves the window's bottom edge on such a screen.
        EXPECT_LE(prompt.geometry().bottom() - screenOrigin().y(), 767);
        longestHeight = std::max(longestHeight, prompt.height());
    }
    // The longest texts really wrap, over several lines.
    const QFontMetrics metrics(QApplication::font());
    EXPECT_GE(longestHeight, 86 + 2 * metrics.lineSpacing());
}

TEST_F(QtWindowTest, ShortMessageKeepsTheLaidOutSize)
{
    Form1 form;
    PromptForm prompt(&form);
    EXPECT_EQ(prompt.content(), "");
    prompt.setContent(QStringLiteral("ok"));
    EXPECT_EQ(prompt.size(), QSize(159, 86));
    EXPECT_EQ(prompt.findChild<QLabel*>(QStringLiteral("PromptContent"))->geometry(), QRect(16, 16, 129, 17));
    EXPECT_EQ(prompt.findChild<QPushButton*>(QStringLiteral("Command1"))->pos(), QPoint(48, 48));
}

// --------------------------------------------------------------- file dialog

TEST_F(QtWindowTest, FileDialogOffersBinFilesAndReturnsTheChoiceOrNothing)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString image = dir.filePath(QStringLiteral("firmware.bin"));
    {
        QFile file(image);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }

    Form1 form;
    showAndActivate(form);

    auto inDialog = [&](std::function<void(QFileDialog&)> act) {
        QTimer::singleShot(0, [&, act = std::move(act)] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (dialog == nullptr) {
                ADD_FAILURE() << "no file dialog is showing";
                return;
            }
            EXPECT_EQ(dialog->windowTitle(), "open");
            EXPECT_TRUE(dialog->testOption(QFileDialog::DontUseNativeDialog));
            EXPECT_EQ(dialog->nameFilters(), QStringList({"*.bin"}));
            EXPECT_EQ(dialog->parentWidget(), &form);
            EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptOpen);
            act(*dialog);
        });
    };

    inDialog([&](QFileDialog& dialog) {
        dialog.setDirectory(dir.path());
        dialog.selectFile(image);
        QMetaObject::invokeMethod(&dialog, "accept");
    });
    EXPECT_EQ(form.chooseImageFile(), QFile::encodeName(image).toStdString());

    inDialog([](QFileDialog& dialog) { QTest::keyClick(&dialog, Qt::Key_Escape); });
    EXPECT_EQ(form.chooseImageFile(), "");

    // Tests of the handlers script the choice instead.
    form.setFileChooser([] { return std::string("/scripted/path.bin"); });
    EXPECT_EQ(form.chooseImageFile(), "/scripted/path.bin");
}

// ------------------------------------------------------------- accessibility

using test_support::accessibleText;

// Every control of a window, with the window itself first.
QList<QWidget*> windowAndControls(QWidget& window)
{
    QList<QWidget*> all = {&window};
    all += window.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly);
    return all;
}

// What assistive technology reads: a name and a description for every
// control, no two controls of a window under the same name.
void expectEveryControlDescribed(QWidget& window)
{
    QStringList names;
    for (QWidget* widget : windowAndControls(window)) {
        SCOPED_TRACE(widget->objectName().toStdString());
        const QString name = accessibleText(widget, QAccessible::Name);
        EXPECT_FALSE(name.trimmed().isEmpty()) << "no accessible name";
        EXPECT_FALSE(accessibleText(widget, QAccessible::Description).trimmed().isEmpty())
            << "no accessible description";
        EXPECT_FALSE(names.contains(name)) << "name taken by another control: " << name.toStdString();
        names << name;
    }
}

TEST_F(QtWindowTest, MainWindowControlsHaveAccessibleNamesAndDescriptions)
{
    Form1 form;
    expectEveryControlDescribed(form);

    // The label names the port box for assistive technology too.
    auto* box = child<QComboBox>(form, "ComSelect");
    auto* label = child<QLabel>(form, "Label2");
    ASSERT_TRUE(box && label);
    QAccessibleInterface* boxFace = QAccessible::queryAccessibleInterface(box);
    ASSERT_NE(boxFace, nullptr);
    bool labelled = false;
    for (const auto& [other, relation] : boxFace->relations(QAccessible::Label))
        labelled = labelled || other->object() == label;
    EXPECT_TRUE(labelled) << "the port box has no label";
}

TEST_F(QtWindowTest, MessageWindowReadsOutItsMessage)
{
    Form1 form;
    for (const char* text : {messages::PortHeld, messages::FileError}) {
        SCOPED_TRACE(text);
        PromptForm prompt(&form);
        prompt.setContent(QString::fromLatin1(text));
        expectEveryControlDescribed(prompt);
        auto* content = prompt.findChild<QLabel*>(QStringLiteral("PromptContent"));
        auto* ok = prompt.findChild<QPushButton*>(QStringLiteral("Command1"));
        ASSERT_TRUE(content && ok);
        EXPECT_EQ(accessibleText(content, QAccessible::Name), QString::fromLatin1(text));
    }
}

// ------------------------------------------------------------------- closing

TEST_F(QtWindowTest, ClosingTheMainWindowEndsTheProgramButClosingAMessageDoesNot)
{
    QApplication& app = application();
    ASSERT_TRUE(app.quitOnLastWindowClosed());

    for (const bool byFrame : {true, false}) {
        SCOPED_TRACE(byFrame ? "frame's close control" : "closeMainWindow");
        Form1 form;
        showAndActivate(form);
        bool stillRunningAfterMessage = false;
        QTimer::singleShot(0, [&] {
            whilePromptShows([](PromptForm& prompt) { prompt.close(); });
            form.showMessage("before closing");
            // The message is gone; the program must still be running.
            QTimer::singleShot(20, [&] {
                stillRunningAfterMessage = form.isVisible();
                if (byFrame)
                    form.close();
                else
                    form.closeMainWindow();
            });
        });
        // Only a hang guard: the loop must end by the close above.
        QTimer guard;
        guard.setSingleShot(true);
        QObject::connect(&guard, &QTimer::timeout, [&] { app.exit(7); });
        guard.start(30000);

        EXPECT_EQ(app.exec(), 0);
        EXPECT_TRUE(stillRunningAfterMessage);
        EXPECT_FALSE(form.isVisible());
    }
}

// ------------------------------------------- the whole program, through the window

// The program as main() builds it, but on the simulated line: the real main
// window and handlers, clicked as a user would.
class ProgramTest : public QtWindowTest {
protected:
    void start()
    {
        program = std::make_unique<Program>(
            std::make_unique<SimulatedSerialLine>(line), std::make_unique<SimulatedPortDirectory>());
        MSComm1 = &program->MSComm1();
        program->start();
        form = &program->form();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form));
        form->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(form->windowHandle()));
        openingsAtStart = line.openings();
    }

    void click(QPushButton* button) { clickThroughWindow(*form, *button); }

    // Openings since start-up.
    int openings() const { return line.openings() - openingsAtStart; }

    SimulatedScheduler scheduler;
    SimulatedLine line{scheduler};
    SerialComponent* MSComm1 = nullptr;
    int openingsAtStart = 0;
    std::unique_ptr<Program> program;
    Form1* form = nullptr;
};

TEST_F(ProgramTest, StartUpFillsThePortBoxBeforeTheWindowShows)
{
    line.addPort(1);
    line.addPort(3);
    line.setHeldByOtherProgram(3, true);
    start();

    auto* box = child<QComboBox>(*form, "ComSelect");
    auto* bar = child<QProgressBar>(*form, "ProgressBar1");
    ASSERT_TRUE(box && bar);
    EXPECT_EQ(box->count(), 2);
    EXPECT_EQ(box->itemText(1), "COM3");
    EXPECT_EQ(box->itemData(1, Qt::ToolTipRole).toString(), "sim:COM3");
    EXPECT_EQ(form->portText(), "COM1");
    EXPECT_EQ(program->shell().state().PortNumber, 1);
    EXPECT_EQ(bar->minimum(), 0);
    EXPECT_EQ(bar->maximum(), 223);
    EXPECT_EQ(form->openUartCaption(), "Uart:close");
    EXPECT_FALSE(MSComm1->PortOpen());
    EXPECT_EQ(QApplication::focusWidget(), form->openFileButton());
    EXPECT_FALSE(QApplication::windowIcon().isNull());
}

TEST_F(ProgramTest, OpenUartTogglesThePortAndItsCaption)
{
    line.addPort(1);
    line.addPort(2);
    start();

    // The user picks COM2 in the box, then opens and closes it.
    auto* box = child<QComboBox>(*form, "ComSelect");
    ASSERT_NE(box, nullptr);
    box->setFocus();
    QTest::keyClick(box, Qt::Key_Down);
    EXPECT_EQ(program->shell().state().PortNumber, 2);

    click(form->openUartButton());
    EXPECT_EQ(form->openUartCaption(), "Uart:open");
    EXPECT_TRUE(MSComm1->PortOpen());
    EXPECT_EQ(MSComm1->CommPort(), 2);

    // While the port is open the box keeps showing it: a pick goes back.
    box->setFocus();
    QTest::keyClick(box, Qt::Key_Up);
    EXPECT_EQ(box->currentText(), "COM2");
    EXPECT_EQ(program->shell().state().PortNumber, 2);

    click(form->openUartButton());
    EXPECT_EQ(form->openUartCaption(), "Uart:close");
    EXPECT_FALSE(MSComm1->PortOpen());

    click(form->openUartButton());
    EXPECT_EQ(form->openUartCaption(), "Uart:open");
    EXPECT_EQ(openings(), 2);
}

TEST_F(ProgramTest, OpenUartsAccessibleNameSaysWhatAClickDoes)
{
    line.addPort(1);
    line.addPort(2);
    line.setHeldByOtherProgram(2, true);
    start();
    QPushButton* uart = form->openUartButton();
    const auto name = [uart] { return accessibleText(uart, QAccessible::Name); };
    const auto description = [uart] { return accessibleText(uart, QAccessible::Description); };

    EXPECT_EQ(name(), "Open serial port");
    EXPECT_EQ(description(), "Open the selected serial port");
    click(uart);
    ASSERT_TRUE(MSComm1->PortOpen());
    EXPECT_EQ(name(), "Close serial port");
    EXPECT_EQ(description(), "Close the serial port");
    click(uart);
    ASSERT_FALSE(MSComm1->PortOpen());
    EXPECT_EQ(name(), "Open serial port");
    EXPECT_EQ(description(), "Open the selected serial port");

    // A failed opening leaves the port closed, and the name says so.
    auto* box = child<QComboBox>(*form, "ComSelect");
    ASSERT_NE(box, nullptr);
    box->setFocus();
    QTest::keyClick(box, Qt::Key_Down);
    ASSERT_EQ(program->shell().state().PortNumber, 2);
    whilePromptShows([](PromptForm& prompt) { clickOk(prompt); });
    click(uart);
    EXPECT_FALSE(MSComm1->PortOpen());
    EXPECT_EQ(name(), "Open serial port");
}

TEST_F(ProgramTest, PortHeldByAnotherProgramShowsTheMessageModally)
{
    line.addPort(1);
    line.setHeldByOtherProgram(1, true);
    start();

    int showings = 0;
    whilePromptShows([&](PromptForm& prompt) {
        ++showings;
        EXPECT_EQ(prompt.content().toStdString(), " this COM have already be opened by other program! ");
        EXPECT_EQ(prompt.content().toStdString(), messages::PortHeld);
        auto* content = prompt.findChild<QLabel*>(QStringLiteral("PromptContent"));
        ASSERT_NE(content, nullptr);
        EXPECT_GE(content->height(), content->heightForWidth(content->width())) << "message cut off";

        // The main window is out of reach while the message shows.
        const int before = openings();
        clickThroughWindow(*form, *form->openUartButton());
        QTest::mouseClick(form->openUartButton(), Qt::LeftButton);
        QTest::mouseClick(form->exitButton(), Qt::LeftButton);
        EXPECT_EQ(openings(), before);
        EXPECT_TRUE(form->isVisible());
        EXPECT_EQ(form->openUartCaption(), "Uart:close");
        clickOk(prompt);
    });
    click(form->openUartButton());

    EXPECT_EQ(showings, 1);
    EXPECT_EQ(form->openUartCaption(), "Uart:close");
    EXPECT_FALSE(MSComm1->PortOpen());
    EXPECT_TRUE(form->findChildren<PromptForm*>().isEmpty());

    // Once the other program lets go, the same click opens it.
    line.setHeldByOtherProgram(1, false);
    click(form->openUartButton());
    EXPECT_EQ(showings, 1);
    EXPECT_EQ(form->openUartCaption(), "Uart:open");
}

TEST_F(ProgramTest, OpenFileReadsTheChosenImageAndExitClosesTheWindow)
{
    line.addPort(1);
    start();

    std::vector<std::string> read;
    program->shell().setImageLoader([&](const std::string& path) {
        read.push_back(path);
        ImageLoadResult result;
        result.outcome = ImageLoadResult::Outcome::Loaded;
        result.length = ImageSize;
        result.bytes.fill(0x5a);
        return result;
    });

    form->setFileChooser([] { return std::string(); });
    click(form->openFileButton());
    EXPECT_TRUE(read.empty()) << "a cancelled choice was read";
    EXPECT_EQ(program->shell().state().FileLoadedFlag, 0);

    form->setFileChooser([] { return std::string("/images/firmware.bin"); });
    click(form->openFileButton());
    EXPECT_EQ(read, (std::vector<std::string>{"/images/firmware.bin"}));
    EXPECT_EQ(program->shell().state().FileLoadedFlag, 1);
    EXPECT_EQ(program->shell().state().ImageBuffer[0], 0x5a);

    click(form->exitButton());
    EXPECT_FALSE(form->isVisible());
}

} // namespace
} // namespace isp
