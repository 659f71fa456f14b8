#pragma once

#include "app/layout/WindowLayout.h"

#include <QGuiApplication>
#include <QPoint>
#include <QRect>
#include <QScreen>
#include <QSize>

// The layout's twips in Qt's device-independent pixels. Qt places widgets in
// those and scales them on dense screens itself, so a twip measure converts
// at the 96-dpi reference density, whatever the screen.
namespace isp::twips {

constexpr QRect rect(const layout::TwipsRect& r)
{
    return {layout::toPixels(r.left), layout::toPixels(r.top), layout::toPixels(r.width), layout::toPixels(r.height)};
}

constexpr QSize size(const layout::TwipsRect& r)
{
    return {layout::toPixels(r.width), layout::toPixels(r.height)};
}

// A window's client area placed on the primary screen: left and top are
// measured from the screen's top-left corner.
inline QRect onScreen(const layout::TwipsRect& r)
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QPoint origin = screen != nullptr ? screen->geometry().topLeft() : QPoint();
    return rect(r).translated(origin);
}

} // namespace isp::twips
