#include "app/widgets/LaidOutControls.h"

#include "app/widgets/Twips.h"

#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

namespace isp {
namespace {

QWidget* makeWidget(const layout::Control& control, QWidget* parent)
{
    switch (control.kind) {
    case layout::Kind::PushButton: {
        auto* button = new QPushButton(qtText(control.text), parent);
        button->setAutoDefault(false);
        button->setDefault(false);
        return button;
    }
    case layout::Kind::Label: return new QLabel(qtText(control.text), parent);
    case layout::Kind::DropDownList: {
        auto* box = new QComboBox(parent);
        box->setEditable(false);
        return box;
    }
    case layout::Kind::ProgressBar: {
        auto* bar = new QProgressBar(parent);
        bar->setOrientation(Qt::Horizontal);
        bar->setTextVisible(false);
        bar->setRange(0, 100);
        bar->setValue(0);
        return bar;
    }
    }
    return new QWidget(parent);
}

} // namespace

void buildLaidOutWindow(QWidget& window, const layout::Window& layout)
{
    window.setWindowTitle(qtText(layout.caption));
    window.setAccessibleName(qtText(layout.accessibleName));
    window.setAccessibleDescription(qtText(layout.accessibleDescription));

    QWidget* previousInTab = nullptr;
    for (const layout::Control& control : layout.controls) {
        QWidget* widget = makeWidget(control, &window);
        widget->setObjectName(qtText(control.name));
        widget->setGeometry(twips::rect(control.rect));
        widget->setAccessibleName(qtText(control.accessibleName));
        widget->setAccessibleDescription(qtText(control.accessibleDescription));
        if (!layout::takesFocus(control.kind)) {
            widget->setFocusPolicy(Qt::NoFocus);
            continue;
        }
        widget->setFocusPolicy(Qt::StrongFocus);
        if (previousInTab != nullptr)
            QWidget::setTabOrder(previousInTab, widget);
        previousInTab = widget;
    }
}

} // namespace isp
