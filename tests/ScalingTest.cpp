// The windows on dense screens. Qt scales every window by QT_SCALE_FACTOR,
// which it reads once, when the application starts; so CTest runs this
// program once per factor (1, 1.5 and 2, see tests/CMakeLists.txt). At every
// factor the windows keep their layout in device-independent pixels — the
// places and sizes drawn for them, hence their proportions — and every text
// fits the room its control gives it.

#include "app/widgets/Form1.h"
#include "app/widgets/PromptForm.h"
#include "tests/support/LaidOutQtWindow.h"
#include "tests/support/MessageWindowFit.h"
#include "tests/support/WidgetApplication.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QFontMetrics>
#include <QLabel>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionComboBox>
#include <QTest>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace isp {
namespace {

// The factor this run was started with; 1 when none was given.
double scaleFactor()
{
    const QByteArray given = qgetenv("QT_SCALE_FACTOR");
    return given.isEmpty() ? 1.0 : given.toDouble();
}

template <typename T>
T* child(const QWidget& parent, const char* name)
{
    T* found = parent.findChild<T*>(QString::fromLatin1(name), Qt::FindDirectChildrenOnly);
    EXPECT_NE(found, nullptr) << name << " missing or of another kind";
    return found;
}

void showExposed(QWidget& window)
{
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
}

// The room a push button gives its caption, as its style draws it.
QRect captionRoom(const QPushButton& button)
{
    QStyleOptionButton option;
    option.initFrom(&button);
    option.text = button.text();
    return button.style()->subElementRect(QStyle::SE_PushButtonContents, &option, &button);
}

void expectCaptionFits(const QPushButton& button)
{
    SCOPED_TRACE(button.text().toStdString());
    const QFontMetrics metrics(button.font());
    const QRect room = captionRoom(button);
    EXPECT_LE(metrics.horizontalAdvance(button.text()), room.width()) << "caption cut at the sides";
    EXPECT_LE(metrics.height(), room.height()) << "caption cut at top or bottom";
}

TEST(ScalingTest, TheFactorReachesTheWindowAndItsPictureKeepsItsProportions)
{
    const double factor = scaleFactor();
    Form1 form;
    showExposed(form);
    EXPECT_DOUBLE_EQ(form.devicePixelRatioF(), factor) << "QT_SCALE_FACTOR did not reach the window";

    // The window as drawn on the screen: its device pixels are its
    // device-independent size times the factor, in both directions alike.
    const QPixmap picture = form.grab();
    EXPECT_DOUBLE_EQ(picture.devicePixelRatio(), factor);
    EXPECT_EQ(picture.deviceIndependentSize().toSize(), twips::size(layout::Form1Layout.clientArea));
    EXPECT_NEAR(picture.width(), 256 * factor, 1.0);
    EXPECT_NEAR(picture.height(), 145 * factor, 1.0);
}

TEST(ScalingTest, MainWindowKeepsItsLayout)
{
    Form1 form;
    showExposed(form);
    test_support::expectBuiltAsLaidOut(form, layout::Form1Layout);
    // The label may only widen, rightwards, short of the port box.
    const auto* label = child<QLabel>(form, "Label2");
    const auto* box = child<QComboBox>(form, "ComSelect");
    ASSERT_TRUE(label && box);
    EXPECT_LT(label->geometry().right(), box->x() - 1);
}

TEST(ScalingTest, MainWindowTextsFitTheirControls)
{
    Form1 form;
    showExposed(form);

    expectCaptionFits(*form.openFileButton());
    expectCaptionFits(*form.exitButton());
    // Both captions of the port button.
    for (const char* caption : {"Uart:close", "Uart:open"}) {
        form.setOpenUartCaption(caption);
        expectCaptionFits(*form.openUartButton());
    }

    const auto* label = child<QLabel>(form, "Label2");
    ASSERT_NE(label, nullptr);
    EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()), label->contentsRect().width())
        << "the label's text is cut";
    EXPECT_LE(label->fontMetrics().height(), label->contentsRect().height());

    // The widest name the port box can show, in the room its style leaves
    // beside the drop-down arrow.
    auto* box = child<QComboBox>(form, "ComSelect");
    ASSERT_NE(box, nullptr);
    QStyleOptionComboBox option;
    option.initFrom(box);
    option.editable = false;
    option.frame = true;
    const QRect room = box->style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, box);
    int widest = 0;
    for (int n = 1; n <= 16; ++n)
        widest = std::max(widest, box->fontMetrics().horizontalAdvance(QStringLiteral("COM%1").arg(n)));
    EXPECT_LE(widest, room.width()) << "a port name is cut";
    EXPECT_LE(box->fontMetrics().height(), room.height());
}

TEST(ScalingTest, MessageWindowKeepsItsLayoutAndFitsEveryMessage)
{
    Form1 form;
    {
        PromptForm prompt(&form);
        prompt.setContent(QStringLiteral("ok"));
        showExposed(prompt);
        test_support::expectBuiltAsLaidOut(prompt, layout::PromptFormLayout);
        const auto* ok = child<QPushButton>(prompt, "Command1");
        ASSERT_NE(ok, nullptr);
        expectCaptionFits(*ok);
    }
    for (const std::string& text : test_support::everyMessageText()) {
        SCOPED_TRACE(text);
        PromptForm prompt(&form);
        test_support::expectMessageFits(prompt, QString::fromStdString(text));
    }
}

} // namespace
} // namespace isp
