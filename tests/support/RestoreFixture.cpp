#include "support/RestoreFixture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "conversion/RunFolder.h"

RowCounts CountRows(const QString& file) {
    RowCounts counts;
    for (const Row& row :
         QueryRows(file, "SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name")) {
        const std::string table = row.at(0).value();
        counts[QString::fromStdString(table)] =
            std::stoll(QueryValue(file, "SELECT count(*) FROM \"" + table + "\""));
    }
    return counts;
}

void RestoreFixture::SetUp() {
    RunFixture::SetUp();
    platform.runsFolder = RunsRoot();
}

QString RestoreFixture::MakeRun(const QDateTime& started, const std::optional<QString>& outcome,
                                bool withReport) {
    QString why;
    const std::optional<QString> folder = CreateRunFolder(RunsRoot(), started, why);
    EXPECT_TRUE(folder.has_value()) << why.toStdString();
    if (!folder) {
        return {};
    }
    RunManifest manifest;
    manifest.started = started;
    manifest.version = QStringLiteral("1.0.4");
    for (const auto& [product, file] :
         {std::pair{kSourceProduct, SourceFile()}, std::pair{kDestProduct, DestFile()}}) {
        BackedUpFile backed;
        backed.product = product;
        backed.originalPath = QDir::cleanPath(QDir(file).absolutePath());
        backed.size = QFileInfo(file).size();
        backed.sha256 = FileSha256(file);
        backed.rowCounts = CountRows(file);
        const QString backup = QDir(*folder).filePath(backed.RelativeBackupPath());
        EXPECT_TRUE(QDir().mkpath(QFileInfo(backup).absolutePath()));
        EXPECT_TRUE(QFile::copy(file, backup));
        backed.backupSha256 = FileSha256(backup);
        manifest.files.push_back(backed);
    }
    EXPECT_TRUE(WriteManifest(*folder, manifest, why)) << why.toStdString();
    if (withReport) {
        QFile report(QDir(*folder).filePath(kReportName));
        EXPECT_TRUE(report.open(QIODevice::WriteOnly));
        QString text = QStringLiteral("작업 시작: ") + started.toString(Qt::ISODate) +
                       QStringLiteral("\n버전: 1.0.4\n");
        if (outcome) {
            text += kOutcomePrefix + *outcome + QLatin1Char('\n');
        }
        report.write(text.toUtf8());
    }
    return *folder;
}

void RestoreFixture::ChangeBoth() {
    ExecSql(DestFile(),
            "DELETE FROM product; INSERT INTO product(name, code, price, unit) VALUES "
            "('볼펜', 'P001', 500.5, '자루'), ('공책', 'P002', 1200, ' ');"
            "INSERT INTO pclass VALUES ('00001', '대분류명', 1);");
    ExecSql(SourceFile(), "UPDATE product SET unit = ' ' WHERE unit = '';");
}

QString RestoreFixture::Snapshot(const QString& file, const QString& name) {
    const QString copy = tmp.File(name);
    QFile::remove(copy);
    EXPECT_TRUE(QFile::copy(file, copy));
    return copy;
}
