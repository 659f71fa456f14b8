#include "app/widgets/PromptForm.h"

#include "app/widgets/Twips.h"

#include <QGuiApplication>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

#include <algorithm>

namespace isp {

namespace {

// Client area, and its top-left from the screen's top-left, in twips.
constexpr int FormLeft = 9720;
constexpr int FormTop = 6312;
constexpr int FormWidth = 2388;
constexpr int FormHeight = 1284;

constexpr QRect ContentRect = twips::rect(240, 240, 1935, 255);
constexpr QRect Command1Rect = twips::rect(720, 720, 855, 375);

} // namespace

PromptForm::PromptForm(QWidget* parent)
    : QDialog(parent), PromptContent_(new QLabel(this)), Command1_(new QPushButton(QStringLiteral("ok"), this))
{
    setWindowTitle(QStringLiteral("prompt"));
    setWindowIcon(QIcon(QStringLiteral(":/icons/prompt_16.png")));
    // Like every message box of the program: nothing else of it takes input
    // until the user has read this one.
    setWindowModality(Qt::ApplicationModal);
    // A message still open never keeps the program alive, nor does closing
    // it count as closing the program's last window.
    setAttribute(Qt::WA_QuitOnClose, false);

    PromptContent_->setObjectName(QStringLiteral("PromptContent"));
    PromptContent_->setGeometry(ContentRect);
    PromptContent_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    PromptContent_->setWordWrap(true);
    PromptContent_->setTextFormat(Qt::PlainText);
    PromptContent_->setFocusPolicy(Qt::NoFocus);

    Command1_->setObjectName(QStringLiteral("Command1"));
    Command1_->setGeometry(Command1Rect);
    // No default button, as in the main window: Enter and Return do
    // nothing, Space clicks "ok", which has the focus from the start.
    Command1_->setAutoDefault(false);
    Command1_->setDefault(false);
    connect(Command1_, &QPushButton::clicked, this, &QDialog::accept);
    Command1_->setFocus();

    // For a screen reader: the label is named by the message itself (see
    // setContent), so reading the window reads the message.
    setAccessibleName(QStringLiteral("Message"));
    setAccessibleDescription(QStringLiteral("A message from Velmora ISP2"));
    PromptContent_->setAccessibleDescription(QStringLiteral("The message"));
    Command1_->setAccessibleName(QStringLiteral("OK"));
    Command1_->setAccessibleDescription(QStringLiteral("Close this message"));

    // setGeometry marks the window as placed, so showing it does not centre
    // it over the main window.
    setGeometry(twips::onScreen(FormLeft, FormTop, FormWidth, FormHeight));
    setFixedSize(twips::size(FormWidth, FormHeight));
}

void PromptForm::keyPressEvent(QKeyEvent* event)
{
    // A dialog takes Escape for its cancel button; this one has none.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void PromptForm::setContent(const QString& text)
{
    PromptContent_->setText(text);
    PromptContent_->setAccessibleName(text);
    fitContent();
}

QString PromptForm::content() const
{
    return PromptContent_->text();
}

void PromptForm::fitContent()
{
    const int needed = PromptContent_->heightForWidth(ContentRect.width());
    const int extra = std::max(0, needed - ContentRect.height());
    PromptContent_->resize(ContentRect.width(), ContentRect.height() + extra);
    Command1_->move(Command1Rect.topLeft() + QPoint(0, extra));
    setFixedSize(twips::size(FormWidth, FormHeight) + QSize(0, extra));
}

} // namespace isp
