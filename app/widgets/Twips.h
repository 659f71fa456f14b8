#pragma once

#include <QGuiApplication>
#include <QPoint>
#include <QRect>
#include <QScreen>
#include <QSize>

// The windows were laid out in twips, 1/1440 inch: 15 twips make one
// device-independent pixel at the 96-dpi reference density. Qt places widgets
// in device-independent pixels and scales them on dense screens itself, so a
// twip measure converts by a fixed factor. Fractions round to the nearest
// pixel (2172 twips, 144.8 px, become 145 px); with 15 an odd factor no
// whole number of twips ever lies halfway between two pixels.
namespace isp::twips {

inline constexpr int PerPixel = 15;

constexpr int toPixels(int twips)
{
    return twips >= 0 ? (2 * twips + PerPixel) / (2 * PerPixel) : -((-2 * twips + PerPixel) / (2 * PerPixel));
}

constexpr QPoint point(int left, int top)
{
    return {toPixels(left), toPixels(top)};
}

constexpr QSize size(int width, int height)
{
    return {toPixels(width), toPixels(height)};
}

// Left, top, width and height each convert on their own, so that two
// controls drawn to the same twip edge share the same pixel edge whenever
// their widths do too.
constexpr QRect rect(int left, int top, int width, int height)
{
    return {point(left, top), size(width, height)};
}

// A window's client area placed on the primary screen: left and top are
// measured from the screen's top-left corner.
inline QRect onScreen(int left, int top, int width, int height)
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QPoint origin = screen != nullptr ? screen->geometry().topLeft() : QPoint();
    return {origin + point(left, top), size(width, height)};
}

} // namespace isp::twips
