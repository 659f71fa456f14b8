#include "app/widgets/Form1.h"

#include "app/widgets/LaidOutControls.h"
#include "app/widgets/PromptForm.h"
#include "app/widgets/Twips.h"

#include <QApplication>
#include <QComboBox>
#include <QEvent>
#include <QFile>
#include <QFileDialog>
#include <QGuiApplication>
#include <QIcon>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStringList>

#include <algorithm>

// The icons live in a static library; naming its resource initializer here
// keeps the linker from dropping it. It must be called outside any namespace.
static void initWindowResources()
{
    Q_INIT_RESOURCE(resources);
}

namespace isp {

Form1::Form1(QWidget* parent) : QWidget(parent)
{
    initWindowResources();
    setWindowIcon(QIcon(QStringLiteral(":/icons/form1_32.png")));

    buildLaidOutWindow(*this, layout::Form1Layout);
    OpenFile_ = laidOutControl<QPushButton>(*this, "OpenFile");
    ProgressBar1_ = laidOutControl<QProgressBar>(*this, "ProgressBar1");
    ExitCommand_ = laidOutControl<QPushButton>(*this, "ExitCommand");
    ComSelect_ = laidOutControl<QComboBox>(*this, "ComSelect");
    Label2_ = laidOutControl<QLabel>(*this, "Label2");
    OpenUart_ = laidOutControl<QPushButton>(*this, "OpenUart");
    // Also tells assistive technology which box the label names.
    Label2_->setBuddy(ComSelect_);
    fitLabelText();

    for (QWidget* control : findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
        control->installEventFilter(this);

    connect(OpenFile_, &QPushButton::clicked, this, [this] { raiseOpenFileClicked(); });
    connect(OpenUart_, &QPushButton::clicked, this, [this] { raiseOpenUartClicked(); });
    connect(ExitCommand_, &QPushButton::clicked, this, [this] { raiseExitClicked(); });
    // The user's pick changes the current text; so does setPortText, which
    // reports the change itself once it is complete.
    connect(ComSelect_, &QComboBox::currentTextChanged, this, [this] {
        if (!settingPortText_)
            reportPortTextChange();
    });

    setGeometry(twips::onScreen(layout::Form1Layout.clientArea));
    setFixedSize(twips::size(layout::Form1Layout.clientArea));

    // Given the focus once the window is first activated.
    OpenFile_->setFocus();
}

Form1::~Form1()
{
    // The box goes with the window; nothing it reports then may reach the
    // half-destroyed window.
    QObject::disconnect(ComSelect_, nullptr, this, nullptr);
}

void Form1::fitLabelText()
{
    // The layout was drawn for a narrower font than most desktops use: where
    // "select COM port:" does not fit its 97 pixels, the label widens
    // rightwards into the gap before the port box, as far as the text needs
    // and never closer than a few pixels to the box.
    constexpr int Gap = 4;
    const int room = ComSelect_->x() - Gap - Label2_->x();
    const int needed = Label2_->sizeHint().width();
    if (needed > Label2_->width())
        Label2_->resize(std::min(needed, room), Label2_->height());
}

bool Form1::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::Wheel:
    case QEvent::Shortcut:
        if (underModalWindow())
            return true;
        break;
    default: break;
    }
    return QWidget::eventFilter(watched, event);
}

bool Form1::underModalWindow() const
{
    // Every modal window of the program (the message, the file dialog)
    // stands over this one.
    const QWidget* modal = QApplication::activeModalWidget();
    return modal != nullptr && modal != this;
}

void Form1::addPortEntry(const std::string& text, const std::string& location)
{
    // A new entry never changes what the box shows: Qt would pick the first
    // entry of an empty list by itself, so the selection is put back. An
    // entry that matches a text already shown becomes the picked one.
    const QString shown = shownPortText();
    const QString entry = QString::fromStdString(text);
    settingPortText_ = true;
    const int previous = ComSelect_->currentIndex();
    ComSelect_->addItem(entry);
    const int added = ComSelect_->count() - 1;
    ComSelect_->setItemData(added, QString::fromStdString(location), Qt::ToolTipRole);
    if (previous < 0 && !shown.isEmpty() && entry == shown)
        ComSelect_->setCurrentIndex(added);
    else
        ComSelect_->setCurrentIndex(previous);
    settingPortText_ = false;
}

std::optional<std::string> Form1::portEntry(int index) const
{
    if (index < 0 || index >= ComSelect_->count())
        return std::nullopt;
    return ComSelect_->itemText(index).toStdString();
}

void Form1::setPortText(const std::string& text)
{
    const QString wanted = QString::fromStdString(text);
    settingPortText_ = true;
    const int index = ComSelect_->findText(wanted, Qt::MatchExactly);
    if (index >= 0) {
        ComSelect_->setCurrentIndex(index);
    } else {
        // A pick-only box cannot hold a text of its own; with nothing
        // picked it shows the placeholder instead. The placeholder goes
        // first: Qt picks the first entry when an empty placeholder is set
        // with nothing picked.
        ComSelect_->setPlaceholderText(wanted);
        ComSelect_->setCurrentIndex(-1);
    }
    settingPortText_ = false;
    reportPortTextChange();
}

std::string Form1::portText() const
{
    return shownPortText().toStdString();
}

QString Form1::shownPortText() const
{
    return ComSelect_->currentIndex() >= 0 ? ComSelect_->currentText() : ComSelect_->placeholderText();
}

void Form1::reportPortTextChange()
{
    const QString shown = shownPortText();
    if (shown == reportedPortText_)
        return;
    reportedPortText_ = shown;
    raisePortTextChanged();
}

void Form1::setOpenUartCaption(const std::string& caption)
{
    OpenUart_->setText(QString::fromStdString(caption));
    const layout::Description described = layout::openUartDescription(caption);
    OpenUart_->setAccessibleName(qtText(described.name));
    OpenUart_->setAccessibleDescription(qtText(described.description));
}

std::string Form1::openUartCaption() const
{
    return OpenUart_->text().toStdString();
}

void Form1::setProgressRange(int minimum, int maximum)
{
    ProgressBar1_->setRange(minimum, maximum);
}

void Form1::setProgressValue(int value)
{
    ProgressBar1_->setValue(value);
}

void Form1::showMessage(const std::string& text)
{
    // A window of its own for every message, gone when this returns. exec()
    // runs a nested event loop, so ticks and serial notifications go on.
    PromptForm prompt(this);
    prompt.setContent(QString::fromStdString(text));
    prompt.exec();
}

std::string Form1::chooseImageFile()
{
    return chooseFile_ ? chooseFile_() : askWithFileDialog();
}

void Form1::setFileChooser(FileChooser chooser)
{
    chooseFile_ = std::move(chooser);
}

std::string Form1::askWithFileDialog()
{
    QFileDialog dialog(this, QStringLiteral("open"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilter(QStringLiteral("*.bin"));
    dialog.setWindowModality(Qt::ApplicationModal);
    if (dialog.exec() != QDialog::Accepted)
        return {};
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty())
        return {};
    // The image reader opens the file with POSIX calls: hand it the bytes
    // of the name as the file system holds them.
    return QFile::encodeName(chosen.front()).toStdString();
}

void Form1::closeMainWindow()
{
    close();
}

} // namespace isp
