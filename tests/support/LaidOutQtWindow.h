#pragma once

// The check that a Qt window was built as its layout table draws it: the
// caption and place, every control of the table and no other, each of its
// kind, name, text, place, size and focus rule, and what assistive technology
// reads for it. The label of the main window may only widen rightwards for
// its text; the message label's name is the message.

#include "app/layout/WindowLayout.h"
#include "app/widgets/LaidOutControls.h"
#include "app/widgets/Twips.h"

#include <gtest/gtest.h>

#include <QAccessible>
#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QStringList>
#include <QWidget>

namespace isp::test_support {

inline QString accessibleText(QWidget* widget, QAccessible::Text kind)
{
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(widget);
    return face != nullptr ? face->text(kind) : QString();
}

inline const char* qtClassOf(layout::Kind kind)
{
    switch (kind) {
    case layout::Kind::PushButton: return "QPushButton";
    case layout::Kind::Label: return "QLabel";
    case layout::Kind::DropDownList: return "QComboBox";
    case layout::Kind::ProgressBar: return "QProgressBar";
    }
    return "";
}

// `placed`: the window has been given its place on the screen (a window made
// and not yet shown has).
inline void expectBuiltAsLaidOut(QWidget& window, const layout::Window& layout)
{
    SCOPED_TRACE(std::string(layout.name));
    EXPECT_EQ(window.windowTitle(), qtText(layout.caption));
    EXPECT_EQ(window.geometry(), twips::onScreen(layout.clientArea));
    EXPECT_EQ(window.minimumSize(), twips::size(layout.clientArea));
    EXPECT_EQ(window.maximumSize(), twips::size(layout.clientArea));
    EXPECT_EQ(window.layout(), nullptr);
    EXPECT_TRUE(window.windowIcon().availableSizes().contains(QSize(layout.iconPixels, layout.iconPixels)));
    EXPECT_EQ(accessibleText(&window, QAccessible::Name), qtText(layout.accessibleName));

    // The table's controls and nothing else, in focus order.
    QStringList built;
    for (const QWidget* w : window.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
        built << w->objectName();
    QStringList drawn;
    for (const layout::Control& c : layout.controls)
        drawn << qtText(c.name);
    EXPECT_EQ(built, drawn);

    for (const layout::Control& c : layout.controls) {
        SCOPED_TRACE(std::string(c.name));
        auto* w = laidOutControl<QWidget>(window, c.name);
        ASSERT_NE(w, nullptr);
        EXPECT_STREQ(w->metaObject()->className(), qtClassOf(c.kind));
        const QRect drawnRect = twips::rect(c.rect);
        if (c.kind == layout::Kind::Label) {
            EXPECT_EQ(w->pos(), drawnRect.topLeft());
            EXPECT_EQ(w->height(), drawnRect.height());
            EXPECT_GE(w->width(), drawnRect.width());
        } else {
            EXPECT_EQ(w->geometry(), drawnRect);
        }
        EXPECT_EQ(w->focusPolicy(), layout::takesFocus(c.kind) ? Qt::StrongFocus : Qt::NoFocus);
        if (!c.accessibleName.empty()) {
            EXPECT_EQ(accessibleText(w, QAccessible::Name), qtText(c.accessibleName));
        }
        EXPECT_EQ(accessibleText(w, QAccessible::Description), qtText(c.accessibleDescription));
        if (auto* button = qobject_cast<QPushButton*>(w)) {
            EXPECT_EQ(button->text(), qtText(c.text));
            EXPECT_FALSE(button->autoDefault());
            EXPECT_FALSE(button->isDefault());
        }
        if (auto* label = qobject_cast<QLabel*>(w); label != nullptr && !c.text.empty()) {
            EXPECT_EQ(label->text(), qtText(c.text));
        }
        if (auto* box = qobject_cast<QComboBox*>(w)) {
            EXPECT_FALSE(box->isEditable());
        }
        if (auto* bar = qobject_cast<QProgressBar*>(w)) {
            EXPECT_EQ(bar->orientation(), Qt::Horizontal);
            EXPECT_FALSE(bar->isTextVisible());
        }
    }
}

// The names of the controls that take the focus, in focus order.
inline QStringList focusOrderOf(const layout::Window& layout)
{
    QStringList names;
    for (const layout::Control& c : layout.controls) {
        if (layout::takesFocus(c.kind))
            names << qtText(c.name);
    }
    return names;
}

} // namespace isp::test_support
