#pragma once

#include <QDialog>
#include <QString>

class QLabel;
class QPushButton;

// The message window: one line of text (PromptContent) and an "ok" button
// (Command1). It opens application-modal over the main window, always at the
// same place on the screen, and is made afresh for every message, so nothing
// of an earlier showing (its text, a place the user dragged it to) carries
// over. "ok" and the frame's close control close it. It has no cancel
// button, so Escape does nothing, as Enter and Return do nothing: a message
// is dismissed on purpose, not by a key pressed for something else.
namespace isp {

class PromptForm final : public QDialog {
    Q_OBJECT

public:
    explicit PromptForm(QWidget* parent);

    // Sets the message. A text wider than the label wraps at its blanks; the
    // label then grows downwards, and the button and the window's bottom edge
    // move down with it, while the window's top-left and the label's left,
    // top and width stay where they are.
    void setContent(const QString& text);
    QString content() const;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void fitContent();

    QLabel* PromptContent_ = nullptr;
    QPushButton* Command1_ = nullptr;
};

} // namespace isp
