// Renders the main window into a PNG without a display, for the documentation:
//   window_screenshot docs/window.png [--empty]
// Without --empty the window shows the state after a short run (both boxes ticked, the log
// lines of a run and a full bar), so that the picture looks like the tool at work.

#include <QApplication>
#include <QCheckBox>
#include <QPixmap>
#include <QStringList>
#include <cstdio>

#include "ui/Form1.h"
#include "ui/QtPlatform.h"

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    const QStringList args = QApplication::arguments();
    if (args.size() < 2 || args.at(1).startsWith(QLatin1Char('-'))) {
        std::fprintf(stderr, "usage: window_screenshot OUT.png [--empty]\n");
        return 2;
    }
    const bool empty = args.contains(QStringLiteral("--empty"));

    QtPlatform platform;
    Form1 form(platform);
    platform.SetMainWindow(&form);
    form.Form_Load();
    if (!empty) {
        form.Check1(0)->setChecked(true);
        form.Check1(1)->setChecked(true);
        for (const QString& line :
             {QString(), QStringLiteral("작업 시작"), QString(),
              QStringLiteral("product 데이터복사완료"), QStringLiteral("trader 데이터복사완료"),
              QString(40, QLatin1Char('-')), QStringLiteral("자료 교체 완료"),
              QString(40, QLatin1Char('-'))}) {
            form.AddLog(line);
        }
        form.SetMax(1250);
        form.SetValue(1250);
    }
    form.show();
    QApplication::processEvents();

    const QPixmap shot = form.grab();
    if (!shot.save(args.at(1), "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(args.at(1)));
        return 1;
    }
    return 0;
}
