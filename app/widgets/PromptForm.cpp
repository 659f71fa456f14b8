#include "app/widgets/PromptForm.h"

#include "app/widgets/LaidOutControls.h"
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

constexpr const layout::Window& Layout = layout::PromptFormLayout;
constexpr QRect ContentRect = twips::rect(Layout.control("PromptContent").rect);
constexpr QRect Command1Rect = twips::rect(Layout.control("Command1").rect);

} // namespace

PromptForm::PromptForm(QWidget* parent) : QDialog(parent)
{
    setWindowIcon(QIcon(QStringLiteral(":/icons/prompt_16.png")));
    // Like every message box of the program: nothing else of it takes input
    // until the user has read this one.
    setWindowModality(Qt::ApplicationModal);
    // A message still open never keeps the program alive, nor does closing
    // it count as closing the program's last window.
    setAttribute(Qt::WA_QuitOnClose, false);

    buildLaidOutWindow(*this, Layout);
    PromptContent_ = laidOutControl<QLabel>(*this, "PromptContent");
    Command1_ = laidOutControl<QPushButton>(*this, "Command1");
    PromptContent_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    PromptContent_->setWordWrap(true);
    PromptContent_->setTextFormat(Qt::PlainText);
    // No default button, as in the main window: Enter and Return do
    // nothing, Space clicks "ok", which has the focus from the start.
    connect(Command1_, &QPushButton::clicked, this, &QDialog::accept);
    Command1_->setFocus();

    // setGeometry marks the window as placed, so showing it does not centre
    // it over the main window.
    setGeometry(twips::onScreen(Layout.clientArea));
    setFixedSize(twips::size(Layout.clientArea));
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
    setFixedSize(twips::size(Layout.clientArea) + QSize(0, extra));
}

} // namespace isp
