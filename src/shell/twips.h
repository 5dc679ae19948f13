#pragma once

// Window geometry in the classic unit: 1/1440 inch, 15 twips per pixel at 96 dpi.
// Qt's own device-pixel scaling takes care of high-DPI screens.
constexpr int TwipsPerPixel = 15;

constexpr int twips(int value)
{
    return value / TwipsPerPixel;
}

constexpr int toTwips(int pixels)
{
    return pixels * TwipsPerPixel;
}
