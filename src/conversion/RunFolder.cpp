#include "conversion/RunFolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QTextStream>
#include <algorithm>
#include <utility>

#include "conversion/OpenClose.h"
#include "conversion/ProductSettings.h"

namespace {

const QString kStampFormat = QStringLiteral("yyyyMMdd-HHmmss");

QJsonObject ToJson(const BackedUpFile& file) {
    QJsonObject counts;
    for (const auto& [table, rows] : file.rowCounts) {
        counts.insert(table, static_cast<double>(rows));
    }
    return {{QStringLiteral("product"), file.product},
            // As the system writes paths, for a user who copies a backup back by hand.
            {QStringLiteral("originalPath"), QDir::toNativeSeparators(file.originalPath)},
            {QStringLiteral("size"), static_cast<double>(file.size)},
            {QStringLiteral("sha256"), QString::fromLatin1(file.sha256)},
            {QStringLiteral("rowCounts"), counts}};
}

std::optional<BackedUpFile> FileFromJson(const QJsonObject& object) {
    BackedUpFile file;
    file.product = object.value(QStringLiteral("product")).toString();
    file.originalPath =
        QDir::fromNativeSeparators(object.value(QStringLiteral("originalPath")).toString());
    if ((file.product != kSourceProduct && file.product != kDestProduct) ||
        file.originalPath.isEmpty()) {
        return std::nullopt;
    }
    file.size = static_cast<qint64>(object.value(QStringLiteral("size")).toDouble());
    file.sha256 = object.value(QStringLiteral("sha256")).toString().toLatin1();
    const QJsonObject counts = object.value(QStringLiteral("rowCounts")).toObject();
    for (auto it = counts.begin(); it != counts.end(); ++it) {
        file.rowCounts[it.key()] = static_cast<int64_t>(it.value().toDouble());
    }
    return file;
}

}  // namespace

QString BackedUpFile::RelativeBackupPath() const {
    return product + QLatin1Char('/') + kDbFileName;
}

bool IsRehearsalFolder(const QString& name) {
    const std::optional<RunFolderName> parsed = ParseRunFolderName(name);
    return parsed && parsed->suffix.startsWith(kRehearsalSuffix);
}

std::optional<QString> CreateRunFolder(const QString& root, const QDateTime& now, QString& why,
                                       const QString& kind) {
    QDir rootDir(root);
    if (!rootDir.mkpath(QStringLiteral("."))) {
        why = QStringLiteral("폴더를 만들 수 없습니다: %1").arg(QDir::toNativeSeparators(root));
        return std::nullopt;
    }
    const QString stamp =
        now.toString(kStampFormat) + (kind.isEmpty() ? QString() : QStringLiteral("-") + kind);
    // mkdir fails on a name that exists, so two runs in the same second, even in two
    // processes, never share a folder.
    for (int n = 1; n < 1000; ++n) {
        const QString name = n == 1 ? stamp : QStringLiteral("%1-%2").arg(stamp).arg(n);
        if (rootDir.exists(name)) {
            continue;
        }
        if (rootDir.mkdir(name)) {
            return QFileInfo(rootDir.filePath(name)).absoluteFilePath();
        }
        if (!rootDir.exists(name)) {
            break;
        }
    }
    why = QStringLiteral("폴더를 만들 수 없습니다: %1")
              .arg(QDir::toNativeSeparators(rootDir.filePath(stamp)));
    return std::nullopt;
}

bool WriteManifest(const QString& folder, const RunManifest& manifest, QString& why) {
    QJsonArray files;
    for (const BackedUpFile& file : manifest.files) {
        files.append(ToJson(file));
    }
    const QJsonObject root{
        {QStringLiteral("started"), manifest.started.toString(Qt::ISODate)},
        {QStringLiteral("version"), manifest.version},
        {QStringLiteral("files"), files},
    };
    QSaveFile out(QDir(folder).filePath(kRunManifestName));
    if (!out.open(QIODevice::WriteOnly) || out.write(QJsonDocument(root).toJson()) < 0 ||
        !out.commit()) {
        why = out.errorString();
        return false;
    }
    return true;
}

std::optional<RunManifest> ReadManifest(const QString& folder) {
    QFile in(QDir(folder).filePath(kRunManifestName));
    if (!in.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(in.readAll(), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        return std::nullopt;
    }
    const QJsonObject root = document.object();
    RunManifest manifest;
    manifest.started =
        QDateTime::fromString(root.value(QStringLiteral("started")).toString(), Qt::ISODate);
    manifest.version = root.value(QStringLiteral("version")).toString();
    for (const QJsonValue value : root.value(QStringLiteral("files")).toArray()) {
        std::optional<BackedUpFile> file = FileFromJson(value.toObject());
        if (!file) {
            return std::nullopt;
        }
        manifest.files.push_back(std::move(*file));
    }
    return manifest;
}

std::optional<QString> ReadReportOutcome(const QString& folder) {
    QFile in(QDir(folder).filePath(kReportName));
    if (!in.open(QIODevice::ReadOnly | QIODevice::Text)) {
        return std::nullopt;
    }
    std::optional<QString> outcome;
    QTextStream stream(&in);
    stream.setEncoding(QStringConverter::Utf8);
    QString line;
    while (stream.readLineInto(&line)) {
        if (line.startsWith(kOutcomePrefix)) {
            outcome = line.mid(kOutcomePrefix.size()).trimmed();
        }
    }
    if (outcome && outcome->isEmpty()) {
        return std::nullopt;
    }
    return outcome;
}

QString RunFolderName::Text() const {
    QString text = started.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    if (!suffix.isEmpty()) {
        text += QStringLiteral(" (%1)").arg(suffix);
    }
    return text;
}

std::optional<RunFolderName> ParseRunFolderName(const QString& name) {
    if (name.size() < kStampFormat.size()) {
        return std::nullopt;
    }
    RunFolderName parsed;
    parsed.started = QDateTime::fromString(name.left(kStampFormat.size()), kStampFormat);
    if (!parsed.started.isValid()) {
        return std::nullopt;
    }
    parsed.suffix = name.mid(kStampFormat.size() + 1);
    parsed.number = parsed.suffix.isEmpty() ? 1 : parsed.suffix.toInt();
    return parsed;
}

QStringList ListRunFolders(const QString& root) {
    std::vector<std::pair<RunFolderName, QString>> runs;
    for (const QString& name :
         QDir(root).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
        std::optional<RunFolderName> parsed = ParseRunFolderName(name);
        if (parsed && !parsed->suffix.startsWith(kRehearsalSuffix)) {
            runs.emplace_back(std::move(*parsed), QDir(root).absoluteFilePath(name));
        }
    }
    // Newest first: a later "-N" of the same second was made later.
    std::sort(runs.begin(), runs.end(), [](const auto& a, const auto& b) {
        if (a.first.started != b.first.started) {
            return a.first.started > b.first.started;
        }
        return a.first.number > b.first.number;
    });
    QStringList paths;
    for (const auto& run : runs) {
        paths << run.second;
    }
    return paths;
}

int64_t TableRowCount(dao::DatabaseHandle& db, const QString& table) {
    dao::RecordsetHandle count(
        db->OpenRecordset(QStringLiteral("SELECT count(*) FROM ") + table, dao::dbOpenSnapshot));
    dao::Value rows;
    count->ReadFieldValue(0, rows);
    CloseObject(count);
    return rows.toInt();
}

std::optional<QString> VerifyDatabaseCopy(const QString& path, const RowCounts& expected) {
    dao::DatabaseHandle db;
    try {
        db = dao::DatabaseHandle(ProcessEngine().OpenDatabase(path));
        for (const auto& [table, rows] : expected) {
            const int64_t copied = TableRowCount(db, table);
            if (copied != rows) {
                CloseObject(db);
                return QStringLiteral("'%1' 테이블의 행 수가 다릅니다: 원본 %2건, 복사본 %3건")
                    .arg(table)
                    .arg(rows)
                    .arg(copied);
            }
        }
        CloseObject(db);
    } catch (...) {
        return ErrorText(DescribeError(std::current_exception()));
    }
    return std::nullopt;
}
