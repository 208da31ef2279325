#include <QApplication>
#include <QIcon>

#include "ui/Form1.h"
#include "ui/QtPlatform.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QGuiApplication::setDesktopFileName(QStringLiteral("dorvik2solvane"));
    InstallQtKoreanTranslation(app);

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
