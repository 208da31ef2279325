#include <QApplication>
#include <QIcon>
#include <QStringList>

#include "ui/Form1.h"
#include "ui/QtPlatform.h"
#include "ui/RestoreWindow.h"

namespace {

// The restore window in place of the main one: "dorvik2solvane --restore".
const QString kRestoreOption = QStringLiteral("--restore");

int RunRestoreWindow(QApplication& app) {
    QtPlatform platform;
    RestoreWindow window(platform);
    platform.SetMainWindow(&window);
    QApplication::setWindowIcon(window.windowIcon());
    window.show();
    return app.exec();
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QGuiApplication::setDesktopFileName(QStringLiteral("dorvik2solvane"));
    InstallQtKoreanTranslation(app);

    if (QCoreApplication::arguments().mid(1).contains(kRestoreOption)) {
        return RunRestoreWindow(app);
    }

    QtPlatform platform;
    Form1 form(platform);
    platform.SetMainWindow(&form);
    // Dialogs carry the tool's icon too.
    QApplication::setWindowIcon(form.windowIcon());

    form.Form_Load();
    form.show();
    // Closing the window, by Close or the title bar, ends the program.
    return app.exec();
}
