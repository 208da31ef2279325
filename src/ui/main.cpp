#include <QApplication>
#include <QIcon>
#include <QStringList>
#include <QTextStream>

#include "ui/Form1.h"
#include "ui/NoWindow.h"
#include "ui/QtPlatform.h"
#include "ui/RestoreWindow.h"

namespace {

// The restore window in place of the main one: "dorvik2solvane --restore".
const QString kRestoreOption = QStringLiteral("--restore");
// The main window rehearsing on copies: "dorvik2solvane --rehearse"; with "--no-window", no
// window at all.
const QString kRehearseOption = QStringLiteral("--rehearse");
const QString kNoWindowOption = QStringLiteral("--no-window");

bool HasOption(int argc, char** argv, const char* option) {
    for (int i = 1; i < argc; ++i) {
        if (qstrcmp(argv[i], option) == 0) {
            return true;
        }
    }
    return false;
}

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
    // Without a window there may be no display either: no GUI application at all.
    if (HasOption(argc, argv, "--no-window")) {
        QCoreApplication app(argc, argv);
        const QStringList arguments = QCoreApplication::arguments().mid(1);
        if (!arguments.contains(kRehearseOption)) {
            QTextStream(stderr) << kNoWindowOption << QStringLiteral(" works with ")
                                << kRehearseOption << QStringLiteral(" only.") << Qt::endl;
            return kRehearsalNotMade;
        }
        return RehearseWithoutWindow(arguments);
    }
    QApplication app(argc, argv);
    QGuiApplication::setDesktopFileName(QStringLiteral("dorvik2solvane"));
    InstallQtKoreanTranslation(app);

    if (QCoreApplication::arguments().mid(1).contains(kRestoreOption)) {
        return RunRestoreWindow(app);
    }

    QtPlatform platform;
    Form1 form(platform);
    form.SetRehearsal(QCoreApplication::arguments().mid(1).contains(kRehearseOption));
    platform.SetMainWindow(&form);
    // Dialogs carry the tool's icon too.
    QApplication::setWindowIcon(form.windowIcon());

    form.Form_Load();
    form.show();
    // Closing the window, by Close or the title bar, ends the program.
    return app.exec();
}
