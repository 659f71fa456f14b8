#pragma once

#include "app/handlers/Form1View.h"

#include <QString>
#include <QWidget>

#include <functional>
#include <optional>
#include <string>

class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;

// The main window. Six controls at fixed places, named as the event handlers
// know them: the port box ComSelect with its caption Label2, the buttons
// OpenFile ("open file"), OpenUart ("Uart:close"/"Uart:open") and
// ExitCommand ("exit"), and ProgressBar1, which counts the pages sent. The
// window only shows state and raises its events (Form1View::Events), which
// the handlers take.
namespace isp {

class Form1 final : public QWidget, public Form1View {
    Q_OBJECT

public:
    // Asks the user for an image file; returns its path, empty when cancelled.
    using FileChooser = std::function<std::string()>;

    explicit Form1(QWidget* parent = nullptr);
    ~Form1() override;

    void addPortEntry(const std::string& text, const std::string& location) override;
    std::optional<std::string> portEntry(int index) const override;
    void setPortText(const std::string& text) override;
    std::string portText() const override;

    void setOpenUartCaption(const std::string& caption) override;
    std::string openUartCaption() const override;

    void setProgressRange(int minimum, int maximum) override;
    void setProgressValue(int value) override;

    void showMessage(const std::string& text) override;
    std::string chooseImageFile() override;
    void closeMainWindow() override;

    // Replaces the file dialog (tests script the user's choice); an empty
    // function brings the dialog back.
    void setFileChooser(FileChooser chooser);

    QPushButton* openFileButton() const { return OpenFile_; }
    QPushButton* openUartButton() const { return OpenUart_; }
    QPushButton* exitButton() const { return ExitCommand_; }

protected:
    // Qt keeps the window system's input away from a window under a modal
    // one, but not input sent to a control directly (by automation, or an
    // accessibility tool); the controls turn that away here, so no click of
    // this window can reach a handler while a message or the file dialog
    // is open.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void fitLabelText();
    bool underModalWindow() const;
    std::string askWithFileDialog();
    // What the port box shows: the picked entry, or a text set with no entry
    // to match it.
    QString shownPortText() const;
    // Raises the change event if the shown text differs from the last one
    // reported; every path that changes the box ends here.
    void reportPortTextChange();

    QPushButton* OpenFile_;
    QProgressBar* ProgressBar1_;
    QPushButton* ExitCommand_;
    QComboBox* ComSelect_;
    QLabel* Label2_;
    QPushButton* OpenUart_;

    FileChooser chooseFile_;
    QString reportedPortText_;
    bool settingPortText_ = false;
};

} // namespace isp
