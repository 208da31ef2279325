#include "conversion/RunFolder.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSaveFile>
#include <QTextStream>
#include <algorithm>
#include <utility>

#include "conversion/OpenClose.h"
#include "conversion/ProductSettings.h"

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

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
            {QStringLiteral("backupSha256"), QString::fromLatin1(file.backupSha256)},
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
    // Without the backup's hash a restore could not tell the run's backup from another file.
    static const QRegularExpression sha(QStringLiteral("^[0-9a-f]{64}$"));
    file.backupSha256 = object.value(QStringLiteral("backupSha256")).toString().toLatin1();
    if (!sha.match(QString::fromLatin1(file.backupSha256)).hasMatch()) {
        return std::nullopt;
    }
    // Row counts are part of what proves a backup whole: missing, the record is damaged.
    const QJsonValue countsValue = object.value(QStringLiteral("rowCounts"));
    if (!countsValue.isObject()) {
        return std::nullopt;
    }
    const QJsonObject counts = countsValue.toObject();
    for (auto it = counts.begin(); it != counts.end(); ++it) {
        const double rows = it.value().toDouble(-1);
        if (!it.value().isDouble() || rows < 0 ||
            rows != static_cast<double>(static_cast<int64_t>(rows))) {
            return std::nullopt;
        }
        file.rowCounts[it.key()] = static_cast<int64_t>(rows);
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
    const bool rootExisted = rootDir.exists();
    if (!rootDir.mkpath(QStringLiteral("."))) {
        why = QStringLiteral("폴더를 만들 수 없습니다: %1").arg(QDir::toNativeSeparators(root));
        return std::nullopt;
    }
    if (!rootExisted) {
        MakePrivate(root);
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
            MakePrivate(rootDir.filePath(name));
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
    MakePrivate(QDir(folder).filePath(kRunManifestName));
    return true;
}

std::optional<RunManifest> ReadManifest(const QString& folder) {
    const std::optional<QByteArray> bytes = ReadRunFile(QDir(folder).filePath(kRunManifestName));
    if (!bytes) {
        return std::nullopt;
    }
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(*bytes, &error);
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
        // A product named twice would have its second backup restored over its first, and its
        // before-restore copy overwritten by the restored file.
        if (!file ||
            std::any_of(manifest.files.begin(), manifest.files.end(),
                        [&](const BackedUpFile& f) { return f.product == file->product; })) {
            return std::nullopt;
        }
        manifest.files.push_back(std::move(*file));
    }
    return manifest;
}

std::optional<QString> ReadReportOutcome(const QString& folder) {
    const std::optional<QByteArray> bytes = ReadRunFile(QDir(folder).filePath(kReportName));
    if (!bytes) {
        return std::nullopt;
    }
    std::optional<QString> outcome;
    QTextStream stream(*bytes);
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
                    .arg(table, QString::number(rows), QString::number(copied));
            }
        }
        CloseObject(db);
    } catch (...) {
        return ErrorText(DescribeError(std::current_exception()));
    }
    return std::nullopt;
}

namespace {

bool IsLink(const QFileInfo& info) {
#ifdef Q_OS_WIN
    return info.isSymLink() || info.isJunction();
#else
    return info.isSymLink();
#endif
}

}  // namespace

QString LinkedPathIn(const QString& folder, const RunManifest& manifest) {
    const auto native = [](const QString& path) { return QDir::toNativeSeparators(path); };
    for (const BackedUpFile& file : manifest.files) {
        const QFileInfo productFolder(QDir(folder).filePath(file.product));
        if (productFolder.exists() && (IsLink(productFolder) || !productFolder.isDir())) {
            return QStringLiteral("백업 폴더가 폴더가 아니거나 다른 곳을 가리키는 링크입니다: ") +
                   native(productFolder.filePath());
        }
        const QFileInfo backup(QDir(folder).filePath(file.RelativeBackupPath()));
        if (backup.exists() && (IsLink(backup) || !backup.isFile())) {
            return QStringLiteral("백업 파일이 일반 파일이 아니거나 링크입니다: ") +
                   native(backup.filePath());
        }
    }
    const QFileInfo saved(QDir(folder).filePath(kBeforeRestoreFolder));
    if ((saved.exists() || IsLink(saved)) && (IsLink(saved) || !saved.isDir())) {
        return QStringLiteral("복원 전 파일을 보관할 폴더가 폴더가 아니거나 링크입니다: ") +
               native(saved.filePath());
    }
    return {};
}

std::optional<QByteArray> ReadRunFile(const QString& path, qint64 limit) {
    const QFileInfo info(path);
    if (IsLink(info) || !info.isFile() || info.size() > limit) {
        return std::nullopt;
    }
    QFile in;
#ifdef Q_OS_UNIX
    // Opened without waiting and without following a link, then asked again what it is: a pipe
    // put in its place meanwhile would keep a plain open waiting for a writer.
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    struct stat st {};
    if (fd < 0) {
        return std::nullopt;
    }
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > limit ||
        !in.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return std::nullopt;
    }
#else
    in.setFileName(path);
    if (!in.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
#endif
    QByteArray bytes = in.read(limit + 1);
    if (bytes.size() > limit || in.error() != QFileDevice::NoError) {
        return std::nullopt;
    }
    return bytes;
}

void MakePrivate(const QString& path) {
#ifdef Q_OS_UNIX
    const QFileInfo info(path);
    if (IsLink(info)) {
        return;
    }
    ::chmod(QFile::encodeName(path).constData(), info.isDir() ? 0700 : 0600);
#else
    Q_UNUSED(path);
#endif
}

qint64 FolderSize(const QString& folder) {
    qint64 size = 0;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System | QDir::NoSymLinks,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info = it.nextFileInfo();
        if (info.isFile() && !IsLink(info)) {
            size += info.size();
        }
    }
    return size;
}
