#pragma once

#include "app/layout/WindowLayout.h"

#include <QString>
#include <QWidget>

#include <string_view>

// Qt widgets made as the layout tables draw them.
namespace isp {

inline QString qtText(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// Gives `window` its caption and accessible texts and makes its controls, in
// focus order, each the widget of its kind with its name, text, place and
// accessible texts: push buttons that no Enter or Return presses, labels and
// a bar that take no focus, a drop-down list the user cannot type into, the
// progress bar ranged 0 to 100 and empty. Tab follows the table's order.
void buildLaidOutWindow(QWidget& window, const layout::Window& layout);

// The control of that name that buildLaidOutWindow made.
template <typename T>
T* laidOutControl(const QWidget& window, std::string_view name)
{
    return window.findChild<T*>(qtText(name), Qt::FindDirectChildrenOnly);
}

} // namespace isp
