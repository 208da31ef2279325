#pragma once

// What the tool's two windows share, so that they look alike: the caption with the version, the
// program's icon, the main window's size and font, and the place on the screen.

#include <QSize>
#include <QString>

#include "conversion/Platform.h"

class QWidget;

// The client area of both windows: the main window's design, 8835 x 5685 twips at 15 twips a
// pixel.
inline constexpr QSize kWindowSize{589, 379};

// What a caption ends with: " ver.1.0.4".
QString VersionCaption(const AppVersion& version);

// Gives `window` its caption, the program's icon, the fixed size kWindowSize and the design's
// font size.
void SetUpWindow(QWidget& window, const QString& caption);

// Centres `window` on the primary screen, when there is one.
void CentreOnScreen(QWidget& window);
