#include "ui/WindowSetup.h"

#include <QFont>
#include <QGuiApplication>
#include <QIcon>
#include <QScreen>
#include <QWidget>

// The icon lives in a static library; nothing else would pull its resource into the program.
static void InitIconResource() {
    Q_INIT_RESOURCE(app);
}

namespace {

// The notes of the design use the classic nine-point size (12 px); a larger desktop default
// would push the longest note past its label.
constexpr int kFontPixelSize = 12;

}  // namespace

QString VersionCaption(const AppVersion& version) {
    return QStringLiteral(" ver.") + QString::number(version.Major) + QLatin1Char('.') +
           QString::number(version.Minor) + QLatin1Char('.') + QString::number(version.Revision);
}

void SetUpWindow(QWidget& window, const QString& caption) {
    InitIconResource();
    window.setWindowTitle(caption);
    window.setWindowIcon(QIcon(QStringLiteral(":/app.ico")));
    window.setFixedSize(kWindowSize);

    QFont font = window.font();
    font.setPixelSize(kFontPixelSize);
    window.setFont(font);
}

void CentreOnScreen(QWidget& window) {
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        window.move(screen->availableGeometry().center() - window.rect().center());
    }
}
