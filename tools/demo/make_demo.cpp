// make_demo <folder>: writes a demo to try the tool on.
//
//   <folder>/Dorvik/dbbasic.mdb        the source, to copy from
//   <folder>/SolvanePlus/dbbasic.mdb   the destination, with some rows of its own
//   <folder>/config/...                the two folder settings; start the tool with
//                                      XDG_CONFIG_HOME=<folder>/config to use them
//
// Existing demo files are replaced. The data depends only on the sizes and the seed.

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTextStream>
#include <exception>
#include <optional>

#include "demo/DemoData.h"

namespace {

QTextStream& Out() {
    static QTextStream out(stdout);
    return out;
}

QTextStream& Err() {
    static QTextStream err(stderr);
    return err;
}

std::optional<int64_t> Count(const QCommandLineParser& parser, const QCommandLineOption& option,
                             int64_t fallback) {
    if (!parser.isSet(option)) {
        return fallback;
    }
    bool ok = false;
    const qlonglong value = parser.value(option).toLongLong(&ok);
    if (!ok || value < 0) {
        Err() << "make_demo: --" << option.names().constFirst()
              << " needs a whole number of rows, 0 or more\n";
        return std::nullopt;
    }
    return value;
}

QString FileSize(const QString& path) {
    const double mb = static_cast<double>(QFileInfo(path).size()) / (1024.0 * 1024.0);
    return QStringLiteral("%1 MB").arg(mb, 0, 'f', 1);
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("make_demo"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Writes demo databases for the tool: <folder>/Dorvik/dbbasic.mdb (source), "
        "<folder>/SolvanePlus/dbbasic.mdb (destination) and the folder settings under "
        "<folder>/config. Existing demo files are replaced."));
    parser.addHelpOption();
    const QCommandLineOption products(
        QStringLiteral("products"),
        QStringLiteral("Products in the source (default %1).").arg(kDemoSourceSize.products),
        QStringLiteral("N"));
    const QCommandLineOption traders(
        QStringLiteral("traders"),
        QStringLiteral("Traders in the source (default %1).").arg(kDemoSourceSize.traders),
        QStringLiteral("N"));
    const QCommandLineOption destProducts(
        QStringLiteral("dest-products"),
        QStringLiteral("Products the destination already holds (default %1).")
            .arg(kDemoDestSize.products),
        QStringLiteral("N"));
    const QCommandLineOption destTraders(
        QStringLiteral("dest-traders"),
        QStringLiteral("Traders the destination already holds (default %1).")
            .arg(kDemoDestSize.traders),
        QStringLiteral("N"));
    const QCommandLineOption longMemo(QStringLiteral("long-memo"),
                                      QStringLiteral("Give every product a long memo."));
    const QCommandLineOption seed(
        QStringLiteral("seed"),
        QStringLiteral("Seed of the invented data (default %1).").arg(kDemoSeed),
        QStringLiteral("S"));
    parser.addOptions({products, traders, destProducts, destTraders, longMemo, seed});
    parser.addPositionalArgument(QStringLiteral("folder"),
                                 QStringLiteral("Folder to write the demo into."));
    parser.process(app);

    if (parser.positionalArguments().size() != 1) {
        Err() << "make_demo: give exactly one folder\n\n" << parser.helpText();
        return 2;
    }
    const std::optional<int64_t> sourceProducts = Count(parser, products, kDemoSourceSize.products);
    const std::optional<int64_t> sourceTraders = Count(parser, traders, kDemoSourceSize.traders);
    const std::optional<int64_t> destProductCount =
        Count(parser, destProducts, kDemoDestSize.products);
    const std::optional<int64_t> destTraderCount =
        Count(parser, destTraders, kDemoDestSize.traders);
    if (!sourceProducts || !sourceTraders || !destProductCount || !destTraderCount) {
        return 2;
    }
    uint32_t seedValue = kDemoSeed;
    if (parser.isSet(seed)) {
        bool ok = false;
        seedValue = parser.value(seed).toUInt(&ok);
        if (!ok) {
            Err() << "make_demo: --seed needs a whole number from 0 to 4294967295\n";
            return 2;
        }
    }
    const DemoSize sourceSize{*sourceProducts, *sourceTraders, parser.isSet(longMemo)};
    const DemoSize destSize{*destProductCount, *destTraderCount, parser.isSet(longMemo)};

    const QDir folder(QDir(parser.positionalArguments().constFirst()).absolutePath());
    const QString sourceFolder = folder.filePath(QStringLiteral("Dorvik"));
    const QString destFolder = folder.filePath(QStringLiteral("SolvanePlus"));
    const QString configHome = folder.filePath(QStringLiteral("config"));
    const QString sourceDb = sourceFolder + QStringLiteral("/dbbasic.mdb");
    const QString destDb = destFolder + QStringLiteral("/dbbasic.mdb");

    // Read the settings back exactly as the tool will, started with this XDG_CONFIG_HOME. It
    // must be set before anything asks QSettings for its default paths.
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(configHome));

    QElapsedTimer timer;
    timer.start();
    try {
        WriteSourceDatabase(sourceDb, sourceSize, seedValue);
        const qint64 sourceMs = timer.elapsed();
        WriteDestDatabase(destDb, destSize, seedValue);
        WriteDemoSettings(configHome, sourceFolder, destFolder);

        const QString key = SettingsSection() + QLatin1Char('/') + SettingsKey();
        for (const auto& [application, expected] : {std::pair{SourceSettingsApp(), sourceFolder},
                                                    std::pair{DestSettingsApp(), destFolder}}) {
            const QSettings settings(QSettings::NativeFormat, QSettings::UserScope,
                                     SettingsOrganization(), application);
            if (settings.value(key).toString() != expected) {
                Err() << "make_demo: " << settings.fileName() << " does not read back " << expected
                      << "\n";
                return 1;
            }
        }

        QTextStream& out = Out();
        out << "Demo written to " << folder.path() << " (seed " << seedValue << ") in "
            << QString::number(static_cast<double>(timer.elapsed()) / 1000.0, 'f', 2)
            << " s (source " << QString::number(static_cast<double>(sourceMs) / 1000.0, 'f', 2)
            << " s)\n";
        out << "  Dorvik       " << sourceDb << "  (" << FileSize(sourceDb) << ")\n"
            << "               product " << CountDemoRows(sourceDb, QStringLiteral("product"))
            << " ("
            << CountDemoRows(sourceDb, QStringLiteral("product"), QStringLiteral("unit = ''"))
            << " with an empty unit), trader " << CountDemoRows(sourceDb, QStringLiteral("trader"))
            << " ("
            << CountDemoRows(sourceDb, QStringLiteral("trader"), QStringLiteral("hphone IS NULL"))
            << " without a mobile number), company "
            << CountDemoRows(sourceDb, QStringLiteral("company")) << ", dbinfo "
            << CountDemoRows(sourceDb, QStringLiteral("dbinfo")) << "\n";
        out << "  SolvanePlus  " << destDb << "  (" << FileSize(destDb) << ")\n"
            << "               Product " << CountDemoRows(destDb, QStringLiteral("Product"))
            << ", pclass " << CountDemoRows(destDb, QStringLiteral("pclass")) << ", Trader "
            << CountDemoRows(destDb, QStringLiteral("Trader")) << ", Company "
            << CountDemoRows(destDb, QStringLiteral("Company")) << ", dbinfo "
            << CountDemoRows(destDb, QStringLiteral("dbinfo")) << "\n";
        out << "  Settings     " << DemoSettingsFile(configHome, SourceSettingsApp()) << "\n"
            << "               [" << SettingsSection() << "] " << SettingsKey() << " = "
            << sourceFolder << "\n"
            << "               " << DemoSettingsFile(configHome, DestSettingsApp()) << "\n"
            << "               [" << SettingsSection() << "] " << SettingsKey() << " = "
            << destFolder << "\n";
        out << "Start the tool with XDG_CONFIG_HOME=" << configHome
            << " so that it reads these settings.\n";
        out.flush();
    } catch (const std::exception& e) {
        Err() << "make_demo: " << QString::fromLocal8Bit(e.what()) << "\n";
        return 1;
    }
    return 0;
}
