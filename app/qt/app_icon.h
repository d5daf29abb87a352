// The program icon, resource 128: a 32 x 32 and a 16 x 16 image, drawn by icon_art.cpp and
// shipped as PNG files in the Qt resources.
#pragma once
#include <QIcon>
#include <QImage>

namespace fg::app {

// The icon with its 16 x 16 and 32 x 32 images (and the larger ones for the desktop).
QIcon LoadAppIcon();

// Draws the icon at size x size pixels (the artwork behind the committed PNG files).
QImage DrawAppIcon(int size);

}  // namespace fg::app
