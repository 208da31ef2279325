// Whole runs under bad input and faults, on real files: what the user is told, what the log says,
// and what both files hold afterwards. The source may only have had its empty units made a single
// space; the destination either holds every source row except those reported as failed, or the
// rows it had. A fault that shows before the destination's rows are deleted never empties it.
//
// Linux only: the faults are made with its file attributes and processes.

#ifdef __linux__

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <functional>
#include <memory>
#include <random>

#include "conversion/Conversion.h"
#include "conversion/Recipes.h"
#include "conversion/RunFolder.h"
#include "core/EngineDrivers.h"
#include "data/Drivers.h"
#include "data/EngineOptions.h"
#include "demo/DemoData.h"
#include "support/FailedRows.h"
#include "support/FakeForm.h"
#include "support/FileContents.h"
#include "support/OtherProgramLock.h"
#include "support/RunFixture.h"
#include "support/ScriptedPlatform.h"
#include "support/SqliteFixture.h"
#include "support/TestJournal.h"

namespace {

const QString kStartLines = QStringLiteral("\r\n작업 시작\r\n\r\n");
const QString kRule = QString(40, QLatin1Char('-'));
const QString kDoneLines =
    kRule + QStringLiteral("\r\n자료 교체 완료\r\n") + kRule + QStringLiteral("\r\n");
const QString kDoneWithErrorsLines =
    kRule + QStringLiteral("\r\n자료 교체 완료 (오류 있음: 작업 기록을 확인하세요)\r\n") + kRule +
    QStringLiteral("\r\n");
const QString kDone = QStringLiteral("자료 교체가 완료 되었습니다.");
const QString kDoneWithErrors =
    QStringLiteral("자료 교체가 끝났지만 오류가 있었습니다.\r\n작업 기록을 확인하세요.");
const QString kInCopyData = QStringLiteral(" in procedure CopyData of Form Form1");

// The demo databases at a size that runs fast: 60 products and 24 traders to copy into a
// destination that holds 25 and 10 of its own.
constexpr DemoSize kSourceSize{60, 24};
constexpr DemoSize kDestSize{25, 10};
constexpr uint32_t kSeed = 4242;

// Texts compare as UTF-8, so that a failure shows them readably.
std::string Str(const QString& text) {
    return text.toStdString();
}

std::string Quoted(const QString& name) {
    return "\"" + name.toStdString() + "\"";
}

// The names of a table's columns, in table order.
std::vector<QString> ColumnNames(const QString& path, const std::string& table) {
    std::vector<QString> names;
    for (const Row& row : QueryRows(path, "PRAGMA table_info(" + table + ")")) {
        names.push_back(QString::fromStdString(row.at(1).value_or("")));
    }
    return names;
}

// Re-creates a table from its own CREATE text changed by `edit`, keeping its rows.
void RebuildTable(const QString& path, const std::string& table,
                  const std::function<std::string(std::string)>& edit) {
    const std::string create =
        QueryValue(path, "SELECT sql FROM sqlite_master WHERE type = 'table' AND name = '" + table +
                             "' COLLATE NOCASE");
    const std::string changed = edit(create);
    ASSERT_NE(changed, create) << "the edit changed nothing";
    ExecSql(path, "ALTER TABLE " + table + " RENAME TO old_" + table + "; " + changed +
                      "; INSERT INTO " + table + " SELECT * FROM old_" + table +
                      "; DROP TABLE old_" + table + ";");
}

std::string Replaced(std::string text, const std::string& what, const std::string& with) {
    const size_t at = text.find(what);
    EXPECT_NE(at, std::string::npos) << what;
    return at == std::string::npos ? text : text.replace(at, what.size(), with);
}

std::string Texts(const std::vector<ScriptedPlatform::Call>& boxes) {
    std::string texts;
    for (const auto& box : boxes) {
        texts += box.text.toStdString() + "\n";
    }
    return texts;
}

// ---- Making a file or folder unwritable, even for root

bool SetImmutable(const QString& path, bool on) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    int flags = 0;
    bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (ok) {
        flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
        ok = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    ::close(fd);
    return ok;
}

// Whether this process can write the file, or create a file in the folder.
bool Writable(const QString& path) {
    if (QFileInfo(path).isDir()) {
        const QByteArray probe = QFile::encodeName(path + QStringLiteral("/.probe"));
        const int fd = ::open(probe.constData(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600);
        if (fd < 0) {
            return false;
        }
        ::close(fd);
        ::unlink(probe.constData());
        return true;
    }
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    ::close(fd);
    return true;
}

// ---- Another program holding a lock

// Takes a lock on one file as soon as a connection of this process commits a write to another:
// a product started while a run is under way. SQLite calls the installer for every connection
// that the process opens, the engine's included.
struct LockOnCommit {
    QString committing;  // canonical path
    QString target;
    const char* begin = "BEGIN IMMEDIATE";
    std::unique_ptr<OtherProgramLock> lock;
};
LockOnCommit* g_lockOnCommit = nullptr;

int TakeLockOnCommit(void*) {
    if (g_lockOnCommit != nullptr && !g_lockOnCommit->lock) {
        g_lockOnCommit->lock =
            std::make_unique<OtherProgramLock>(g_lockOnCommit->target, g_lockOnCommit->begin);
    }
    return 0;  // the commit goes on
}

int InstallLockOnCommit(sqlite3* db, const char**, const sqlite3_api_routines*) {
    const char* file = sqlite3_db_filename(db, "main");
    if (g_lockOnCommit != nullptr && file != nullptr &&
        QFileInfo(QString::fromUtf8(file)).canonicalFilePath() == g_lockOnCommit->committing) {
        sqlite3_commit_hook(db, TakeLockOnCommit, nullptr);
    }
    return SQLITE_OK;
}

// The window's controls, with a look at every progress value the copy writes.
class WatchedForm : public FakeForm {
public:
    void SetValue(float v) override {
        FakeForm::SetValue(v);
        if (onValue) {
            onValue(v);
        }
    }
    std::function<void(float)> onValue;
};

// ---- The fixture: the demo databases in their product folders, a scripted user

class FaultRun : public ::testing::Test {
public:
    void SetUp() override {
        WriteSourceDatabase(SourceFile(), kSourceSize, kSeed);
        WriteDestDatabase(DestFile(), kDestSize, kSeed);
        SetFolders(SourceFolder(), DestFolder());
        platform.runsFolder = tmp.File(QStringLiteral("runs"));
        Keep();
    }

    void TearDown() override {
        lock.reset();
        g_lockOnCommit = nullptr;
        sqlite3_cancel_auto_extension(reinterpret_cast<void (*)()>(&InstallLockOnCommit));
        for (const QString& path : unwritable_) {
            SetImmutable(path, false);
            QFile::setPermissions(path, QFileInfo(path).isDir() ? QFileDevice::Permissions(0x7755)
                                                                : QFileDevice::Permissions(0x6644));
        }
    }

    // A lock is given up on quickly, so that the lock cases do not wait the full time.
    static dao::EngineOptions QuickLocks() {
        dao::EngineOptions options;
        options.busyTimeout = std::chrono::milliseconds(100);
        return options;
    }

    QString SourceFolder() const { return tmp.File(QStringLiteral("Dorvik")); }
    QString DestFolder() const { return tmp.File(QStringLiteral("SolvanePlus")); }
    QString SourceFile() const { return SourceFolder() + QStringLiteral("/dbbasic.mdb"); }
    QString DestFile() const { return DestFolder() + QStringLiteral("/dbbasic.mdb"); }
    QString SourceBefore() const { return tmp.File(QStringLiteral("source-before.mdb")); }
    QString StartedLines() const { return StartedLinesOf(conversion); }
    QString RunFolderLines() const { return RunFolderLinesOf(conversion); }
    QString DestBefore() const { return tmp.File(QStringLiteral("dest-before.mdb")); }

    void SetFolders(const QString& source, const QString& dest) {
        platform.SetSetting(QStringLiteral("세금계산서"), QStringLiteral("환경설정"),
                            QStringLiteral("db경로"), source);
        platform.SetSetting(QStringLiteral("Solvane2"), QStringLiteral("환경설정"),
                            QStringLiteral("db경로"), dest);
    }

    // Takes the files as they are now as the state a run starts from.
    void Keep() {
        sourceBytes_ = FileBytes(SourceFile());
        destBytes_ = FileBytes(DestFile());
        for (const auto& [from, to] :
             {std::pair{SourceFile(), SourceBefore()}, std::pair{DestFile(), DestBefore()}}) {
            QFile::remove(to);
            if (QFileInfo(from).isFile()) {
                ASSERT_TRUE(QFile::copy(from, to));
            }
        }
    }

    // A run that gets through the guards, with the tables ticked.
    void Run(int16_t products, int16_t traders) {
        form.check = {products, traders};
        platform.inputAnswers.push_back(kRunPassword);
        platform.msgBoxAnswers.push_back(vbYes);
        conversion.Command1_Click();
    }

    // The message boxes shown after the confirmation.
    std::vector<ScriptedPlatform::Call> Boxes() const {
        std::vector<ScriptedPlatform::Call> boxes;
        for (const auto& box : platform.MessageBoxes()) {
            if (box.flags != vbYesNo + vbQuestion + vbDefaultButton2) {
                boxes.push_back(box);
            }
        }
        return boxes;
    }
    int Beeps() const {
        int beeps = 0;
        for (const auto& call : platform.calls) {
            beeps += call.kind == ScriptedPlatform::Kind::Beep ? 1 : 0;
        }
        return beeps;
    }

    // The source as a run must leave it: its empty units a single space when products were
    // copied, nothing else changed.
    QString ExpectedSource(bool products) {
        const QString path = tmp.File(QStringLiteral("source-expected.mdb"));
        QFile::remove(path);
        EXPECT_TRUE(QFile::copy(SourceBefore(), path));
        if (products) {
            ExecSql(path, "UPDATE product SET unit = ' ' WHERE unit = ''");
        }
        return path;
    }

    // The destination after the copies and the statements of the ticked recipes, made with
    // SQLite alone from the files as they were before the run. `products` and `traders` select
    // the source rows that must have been copied (by default all of them).
    QString ExpectedDest(bool copyProducts, bool copyTraders, const std::string& products = "1",
                         const std::string& traders = "1", bool adapted = true) {
        const QString source = ExpectedSource(copyProducts);
        const QString path = tmp.File(QStringLiteral("dest-expected.mdb"));
        QFile::remove(path);
        EXPECT_TRUE(QFile::copy(DestBefore(), path));
        std::string sql = "ATTACH DATABASE '" + source.toStdString() + "' AS src;";
        const auto copy = [&](const std::string& table, const std::string& which) {
            std::string columns;
            for (const QString& name : ColumnNames(source, table)) {
                columns += (columns.empty() ? "" : ", ") + Quoted(name);
            }
            sql += "DELETE FROM main." + table + "; INSERT INTO main." + table + " (" + columns +
                   ") SELECT " + columns + " FROM src." + table + " WHERE " + which +
                   " ORDER BY rowid;";
        };
        if (copyProducts) {
            copy("product", products);
            if (adapted) {
                sql +=
                    "INSERT OR IGNORE INTO pclass (Code, ClassName, Used) "
                    "VALUES ('00001', '대분류명', 1);"
                    "UPDATE product SET classcode = '00001', ptax = 1, reserve1 = '', "
                    "reserve2 = '', reserve3 = '', BManage = 1;";
            }
        }
        if (copyTraders) {
            copy("trader", traders);
            sql +=
                "UPDATE trader SET section = 1, MultyCostNo = 0, SaleDC = 0, TradeStop = 0, "
                "U_Name2 = U_Name; UPDATE trader SET HPhone = '' WHERE HPhone IS NULL;";
        }
        ExecSql(path, sql);
        return path;
    }

    void ExpectNoFileLeftOpen() {
        EXPECT_EQ(ProcessEngine().OpenDatabaseCount(), 0);
        for (const QString& folder : {SourceFolder(), DestFolder()}) {
            for (const QString& name :
                 QDir(folder).entryList({QStringLiteral("*-journal"), QStringLiteral("*-wal")},
                                        QDir::Files | QDir::Hidden)) {
                ADD_FAILURE() << "left behind: " << name.toStdString();
            }
        }
    }
    void ExpectSourceBytesUnchanged() {
        EXPECT_TRUE(FileBytes(SourceFile()) == sourceBytes_) << "the source was changed";
    }
    void ExpectDestBytesUnchanged() {
        EXPECT_TRUE(FileBytes(DestFile()) == destBytes_) << "the destination was changed";
    }

    // Makes a file or folder unwritable: the immutable attribute, which holds even for root,
    // else the permission bits. False when neither does.
    bool MakeUnwritable(const QString& path) {
        unwritable_.push_back(path);
        if (!SetImmutable(path, true)) {
            QFile::setPermissions(path, QFileInfo(path).isDir()
                                            ? QFileDevice::ReadOwner | QFileDevice::ExeOwner
                                            : QFileDevice::ReadOwner);
        }
        return !Writable(path);
    }

    // A journal that watches the run from now on: it is told what the run's own record is told
    // (its list of failed rows goes to a file of the test's, beside the run's own).
    TestJournal& Journal() {
        if (!journal_) {
            std::vector<FailedRowsTable> tables;
            for (const char* table : {"product", "trader"}) {
                FailedRowsTable columns{QString::fromLatin1(table), {}};
                for (const QString& name : ColumnNames(SourceFile(), table)) {
                    columns.columns << name;
                }
                tables.push_back(columns);
            }
            journal_ = std::make_unique<TestJournal>(
                tmp.File(QStringLiteral("observed-failed-rows.csv")), tables);
            conversion.SetJournal(journal_.get());
        }
        return *journal_;
    }
    // The run's own list, in its run folder.
    QString FailedRowsFilePath() const {
        return QDir(conversion.LastRunFolder()).filePath(QStringLiteral("failed-rows.csv"));
    }
    // What a table's failure line adds when its rows were listed.
    QString FailedRowsNote() const {
        return QStringLiteral(" (실패한 행: %1)")
            .arg(QDir::toNativeSeparators(FailedRowsFilePath()));
    }

    // The rows listed for `table` plus the rows the destination holds (none when the copy was
    // refused and the destination kept its own) are exactly the source's rows (by code, each as
    // often as the source has it), and each listed row is the source row at its position.
    void ExpectListedPlusCopiedIsTheSource(const std::string& table, const FailedRowsFile& listed,
                                           bool copied = true) {
        const auto codes = [&](const QString& path) {
            std::vector<std::string> all;
            for (const Row& row : QueryRows(path, "SELECT code FROM " + table)) {
                all.push_back(row.at(0).value_or(""));
            }
            return all;
        };
        std::vector<std::string> together = copied ? codes(DestFile()) : std::vector<std::string>{};
        for (const FailedRow& row : listed.Of(QString::fromStdString(table))) {
            const std::string code = Str(row.Value(QStringLiteral("code")).text);
            together.push_back(code);
            EXPECT_EQ(code, QueryValue(SourceFile(),
                                       "SELECT code FROM " + table +
                                           " WHERE rowid = " + std::to_string(row.position)))
                << table << " row " << row.position;
        }
        std::vector<std::string> source = codes(SourceFile());
        std::sort(together.begin(), together.end());
        std::sort(source.begin(), source.end());
        EXPECT_EQ(together, source) << table;
    }

    // Locks `target` as soon as the `committing` file has a write committed.
    void LockOnNextCommit(const QString& committing, const QString& target,
                          const char* begin = "BEGIN IMMEDIATE") {
        lockOnCommit_.committing = QFileInfo(committing).canonicalFilePath();
        lockOnCommit_.target = target;
        lockOnCommit_.begin = begin;
        g_lockOnCommit = &lockOnCommit_;
        ASSERT_EQ(sqlite3_auto_extension(reinterpret_cast<void (*)()>(&InstallLockOnCommit)),
                  SQLITE_OK);
    }

    const dao::EngineOptionsScope quickLocks{QuickLocks()};
    TempFolder tmp;
    ScriptedPlatform platform;
    WatchedForm form;
    Conversion conversion{platform, form, form, form};
    std::unique_ptr<OtherProgramLock> lock;

protected:
    QByteArray sourceBytes_;
    QByteArray destBytes_;
    std::vector<QString> unwritable_;
    LockOnCommit lockOnCommit_;
    std::unique_ptr<TestJournal> journal_;
};

// The positions from `first` to `last`.
std::vector<int64_t> Positions(int64_t first, int64_t last) {
    std::vector<int64_t> positions;
    for (int64_t position = first; position <= last; ++position) {
        positions.push_back(position);
    }
    return positions;
}

// ---- A database that cannot be opened, or not for writing

enum class Side { Source, Dest };

void PrintTo(Side side, std::ostream* os) {
    *os << (side == Side::Source ? "Source" : "Dest");
}

struct OpenFault {
    const char* name;
    int32_t number;
    std::vector<QString> words;  // besides the file's path
    // Spoils the file of one side; false when this machine cannot do it.
    bool (*make)(FaultRun& run, const QString& file);
};

bool Resize(const QString& file, qint64 size) {
    return QFile::resize(file, size);
}

bool WriteBytes(const QString& file, const QByteArray& bytes) {
    QFile f(file);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

const OpenFault kOpenFaults[] = {
    {"FileMissing",
     3024,
     {QStringLiteral("찾을 수 없습니다")},
     [](FaultRun&, const QString& file) { return QFile::remove(file); }},
    {"FolderMissing",
     3024,
     {QStringLiteral("찾을 수 없습니다")},
     [](FaultRun&, const QString& file) {
         return QDir(QFileInfo(file).absolutePath()).removeRecursively();
     }},
    {"FolderInsteadOfFile",
     3343,
     {QStringLiteral("폴더")},
     [](FaultRun&, const QString& file) { return QFile::remove(file) && QDir().mkdir(file); }},
    {"EmptyFile",
     3343,
     {QStringLiteral("비어 있습니다")},
     [](FaultRun&, const QString& file) { return Resize(file, 0); }},
    {"TruncatedToHalf",
     3343,
     {QStringLiteral("손상"), QStringLiteral("잘린")},
     [](FaultRun&, const QString& file) { return Resize(file, QFileInfo(file).size() / 2); }},
    {"TruncatedToItsHeader",
     3343,
     {QStringLiteral("손상"), QStringLiteral("잘린")},
     [](FaultRun&, const QString& file) { return Resize(file, 100); }},
    {"RandomBytes",
     3343,
     {QStringLiteral("인식할 수 없는")},
     [](FaultRun&, const QString& file) {
         std::mt19937 random(7);
         QByteArray bytes(16384, '\0');
         for (char& c : bytes) {
             c = static_cast<char>(random() & 0xff);
         }
         return WriteBytes(file, bytes);
     }},
    {"JetHeaderWithoutItsDriver",
     3170,
     {QStringLiteral("Access"), QStringLiteral("드라이버")},
     [](FaultRun&, const QString& file) {
         QByteArray bytes(4096, '\0');
         bytes.replace(4, 15, "Standard Jet DB");
         return WriteBytes(file, bytes);
     }},
    {"ReadOnlyFile",
     3051,
     {QStringLiteral("읽기 전용")},
     [](FaultRun& run, const QString& file) { return run.MakeUnwritable(file); }},
    {"ReadOnlyFolder",
     3051,
     {QStringLiteral("폴더"), QStringLiteral("쓸 수 없습니다")},
     [](FaultRun& run, const QString& file) {
         return run.MakeUnwritable(QFileInfo(file).absolutePath());
     }},
    {"LockedForWriting",
     3006,
     {QStringLiteral("잠겨"), QStringLiteral("닫은 뒤")},
     [](FaultRun& run, const QString& file) {
         run.lock = std::make_unique<OtherProgramLock>(file, "BEGIN IMMEDIATE");
         return run.lock->Locked();
     }},
    {"LockedExclusively",
     3006,
     {QStringLiteral("잠겨"), QStringLiteral("닫은 뒤")},
     [](FaultRun& run, const QString& file) {
         run.lock = std::make_unique<OtherProgramLock>(file, "BEGIN EXCLUSIVE");
         return run.lock->Locked();
     }},
};

void PrintTo(const OpenFault& fault, std::ostream* os) {
    *os << fault.name;
}

class OpenFaultRun : public FaultRun,
                     public ::testing::WithParamInterface<std::tuple<Side, OpenFault>> {};

// What a path is: missing, a folder, or a file with these bytes.
QByteArray PathState(const QString& path) {
    const QFileInfo info(path);
    if (!info.exists()) {
        return "missing";
    }
    return info.isDir() ? QByteArray("folder") : FileBytes(path);
}

TEST_P(OpenFaultRun, IsReportedByNameAndNeitherFileChanges) {
    const auto& [side, fault] = GetParam();
    const QString file = side == Side::Source ? SourceFile() : DestFile();
    const QString other = side == Side::Source ? DestFile() : SourceFile();
    if (!fault.make(*this, file)) {
        GTEST_SKIP() << "this machine cannot make the fault " << fault.name;
    }
    const QByteArray faultyBefore = PathState(file);
    const QByteArray otherBefore = FileBytes(other);

    Run(1, 1);

    const auto boxes = Boxes();
    ASSERT_EQ(boxes.size(), 1u) << Texts(boxes);
    const QString text = boxes[0].text;
    EXPECT_TRUE(text.startsWith(QString::number(fault.number) + QLatin1Char(' ')))
        << text.toStdString();
    EXPECT_TRUE(text.contains(file)) << text.toStdString();
    for (const QString& word : fault.words) {
        EXPECT_TRUE(text.contains(word)) << word.toStdString() << " in " << text.toStdString();
    }
    EXPECT_EQ(boxes[0].flags, vbOKOnly);
    EXPECT_FALSE(boxes[0].title.has_value());
    EXPECT_EQ(Beeps(), 0);
    // Nothing ran past the open: no recipe, no closing lines; the log names the cause.
    const QString number = QString::number(fault.number);
    EXPECT_EQ(
        Str(form.text),
        Str(kStartLines + QStringLiteral("작업 안 함: 데이터베이스 열기 실패: Error ") + number +
            QStringLiteral(" (") + text.mid(number.size() + 1) + QStringLiteral(")\r\n")));

    lock.reset();
    EXPECT_TRUE(PathState(file) == faultyBefore) << "the spoilt file was changed";
    // A destination that cannot be opened ends the run before the source's units are touched.
    EXPECT_TRUE(FileBytes(other) == otherBefore) << "the other file was changed";
    ExpectNoFileLeftOpen();
}

INSTANTIATE_TEST_SUITE_P(Faults, OpenFaultRun,
                         ::testing::Combine(::testing::Values(Side::Source, Side::Dest),
                                            ::testing::ValuesIn(kOpenFaults)),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param) == Side::Source ? "Source"
                                                                                        : "Dest") +
                                    std::get<1>(info.param).name;
                         });

// ---- A table or column that the run needs is missing

struct MissingPart {
    const char* name;
    Side side;
    const char* sql;
    std::vector<QString> words;
};

const MissingPart kMissingParts[] = {
    {"DestWithoutPclass",
     Side::Dest,
     "DROP TABLE pclass",
     {QStringLiteral("SolvanePlus"), QStringLiteral("'pclass' 테이블이 없습니다")}},
    {"DestWithoutTrader",
     Side::Dest,
     "DROP TABLE trader",
     {QStringLiteral("SolvanePlus"), QStringLiteral("'trader' 테이블이 없습니다")}},
    {"DestWithoutProduct",
     Side::Dest,
     "DROP TABLE product",
     {QStringLiteral("SolvanePlus"), QStringLiteral("'product' 테이블이 없습니다")}},
    {"DestProductWithoutAColumnAStatementSets",
     Side::Dest,
     "ALTER TABLE product DROP COLUMN BManage",
     {QStringLiteral("SolvanePlus"), QStringLiteral("'product' 테이블에 다음 열이 없습니다"),
      QStringLiteral("BManage")}},
    {"DestTraderWithoutAColumnAStatementSets",
     Side::Dest,
     "ALTER TABLE trader DROP COLUMN U_Name2",
     {QStringLiteral("SolvanePlus"), QStringLiteral("'trader' 테이블에 다음 열이 없습니다"),
      QStringLiteral("U_Name2")}},
    {"DestProductWithoutASourceColumn",
     Side::Dest,
     "ALTER TABLE product DROP COLUMN Memo; ALTER TABLE product DROP COLUMN Origin",
     {QStringLiteral("SolvanePlus"), QStringLiteral("'product' 테이블에 다음 열이 없습니다"),
      QStringLiteral("origin, memo")}},
    {"SourceWithoutProduct",
     Side::Source,
     "DROP TABLE product",
     {QStringLiteral("Dorvik"), QStringLiteral("'product' 테이블이 없습니다")}},
    {"SourceWithoutTrader",
     Side::Source,
     "DROP TABLE trader",
     {QStringLiteral("Dorvik"), QStringLiteral("'trader' 테이블이 없습니다")}},
    {"SourceProductWithoutUnit",
     Side::Source,
     "ALTER TABLE product DROP COLUMN unit",
     {QStringLiteral("Dorvik"), QStringLiteral("'product' 테이블에 다음 열이 없습니다"),
      QStringLiteral("unit")}},
};

void PrintTo(const MissingPart& part, std::ostream* os) {
    *os << part.name;
}

class MissingPartRun : public FaultRun, public ::testing::WithParamInterface<MissingPart> {};

TEST_P(MissingPartRun, IsNamedBeforeAnythingChanges) {
    const MissingPart& part = GetParam();
    const QString file = part.side == Side::Source ? SourceFile() : DestFile();
    ExecSql(file, part.sql);
    Keep();

    Run(1, 1);

    const auto boxes = Boxes();
    ASSERT_EQ(boxes.size(), 1u) << Texts(boxes);
    const QString text = boxes[0].text;
    for (const QString& word : part.words) {
        EXPECT_TRUE(text.contains(word)) << word.toStdString() << " in " << text.toStdString();
    }
    EXPECT_TRUE(text.contains(file)) << text.toStdString();
    EXPECT_TRUE(text.endsWith(QStringLiteral("아무 자료도 바꾸지 않았습니다.")))
        << text.toStdString();
    const QString firstLine = text.left(text.indexOf(QStringLiteral("\r\n")));
    EXPECT_EQ(Str(form.text), Str(kStartLines + QStringLiteral("작업 안 함: ") + firstLine +
                                  QStringLiteral("\r\n")));
    // Not even the source's units: nothing is changed when a part is missing.
    ExpectSourceBytesUnchanged();
    ExpectDestBytesUnchanged();
    ExpectNoFileLeftOpen();
}

INSTANTIATE_TEST_SUITE_P(Faults, MissingPartRun, ::testing::ValuesIn(kMissingParts),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- Another program locks the destination after the run has started

// The lock shows only at the destination's first write, after the source's units were changed:
// the trial of the first row meets it, so the table is not emptied and no row is written, and
// the run stops at the next statement. Once the other program is closed, a second run completes.
TEST_F(FaultRun, ADestinationLockedAfterTheSourceChangedKeepsItsRowsAndTheRunStops) {
    LockOnNextCommit(SourceFile(), DestFile());
    Journal();

    Run(1, 1);

    ASSERT_TRUE(lockOnCommit_.lock && lockOnCommit_.lock->Locked());
    const auto boxes = Boxes();
    ASSERT_EQ(boxes.size(), 2u) << Texts(boxes);
    const QString head = QStringLiteral(
        "'product' 자료를 복사하지 않았습니다.\r\n원본의 첫 행을 대상 테이블에 시험으로 넣어 "
        "보았지만, 행의 값과 관계없는 이유로 거절되었습니다: ");
    const QString tail = QStringLiteral("\r\n대상 테이블의 자료는 그대로 두었습니다.");
    ASSERT_TRUE(boxes[0].text.startsWith(head + QStringLiteral("Error 3260 (")))
        << boxes[0].text.toStdString();
    ASSERT_TRUE(boxes[0].text.endsWith(tail));
    const QString error =
        boxes[0].text.mid(head.size(), boxes[0].text.size() - head.size() - tail.size());
    for (const QString& text : {error, boxes[1].text}) {
        EXPECT_TRUE(text.contains(DestFile()) && text.contains(QStringLiteral("잠겨")))
            << text.toStdString();
    }
    EXPECT_TRUE(boxes[1].text.endsWith(
        QStringLiteral("오류로 작업을 중단했습니다. 작업 기록을 확인하세요.") + RunFolderLines()));
    EXPECT_EQ(Str(form.text),
              Str(StartedLines() +
                  QStringLiteral("product 복사 안 함: 원본의 첫 행을 대상 테이블에 넣을 수 "
                                 "없습니다: %1. 대상 테이블에 아무 행도 넣지 않았습니다.\r\n")
                      .arg(error) +
                  QStringLiteral("product 데이터복사 중 오류: 60건 중 0건 복사, 60건 실패") +
                  FailedRowsNote() + QStringLiteral("\r\n") +
                  QStringLiteral("오류로 작업 중단: %1\r\n").arg(error)));
    ExpectSameContents(SourceFile(), ExpectedSource(true));
    ExpectDestBytesUnchanged();
    ExpectNoFileLeftOpen();
    // Every source row is listed, with the trial's error and the refusal's reason.
    const FailedRowsFile listed = ReadFailedRows(FailedRowsFilePath());
    EXPECT_EQ(listed.Positions(QStringLiteral("product")), Positions(1, 60));
    for (const FailedRow& row : listed.rows) {
        EXPECT_EQ(row.number, 3260);
        EXPECT_EQ(Str(row.description),
                  Str(QStringLiteral("원본의 첫 행을 대상 테이블에 넣을 수 없습니다: ") + error));
    }
    ExpectListedPlusCopiedIsTheSource("product", listed, false);
    ASSERT_EQ(Journal().tables.size(), 1u);
    EXPECT_EQ(Journal().tables[0].sourceRows, 60);
    EXPECT_EQ(Journal().tables[0].destBefore, 25);
    EXPECT_EQ(Journal().tables[0].copied, 0);
    EXPECT_EQ(Journal().tables[0].failed, 60);
    EXPECT_EQ(Journal().tables[0].destAfter, 25);

    lockOnCommit_.lock.reset();
    g_lockOnCommit = nullptr;
    platform.calls.clear();
    Run(1, 1);
    ASSERT_EQ(Boxes().size(), 1u) << Texts(Boxes());
    EXPECT_EQ(Str(Boxes()[0].text), Str(kDone));
    ExpectSameContents(SourceFile(), ExpectedSource(true));
    ExpectSameContents(DestFile(), ExpectedDest(true, true));
}

// A lock that comes after the check before the run and is gone again once its box is shown: the
// destination table cannot be opened for the copy, the rest of the run goes on, and the run
// does not end as if everything had been copied.
TEST_F(FaultRun, ACopyWhoseTableCannotBeOpenedEndsTheRunWithErrors) {
    LockOnNextCommit(SourceFile(), DestFile(), "BEGIN EXCLUSIVE");
    platform.onMsgBox = [&](const ScriptedPlatform::Call&) { lockOnCommit_.lock.reset(); };

    Run(1, 1);

    const auto boxes = Boxes();
    ASSERT_EQ(boxes.size(), 2u) << Texts(boxes);
    EXPECT_TRUE(boxes[0].text.contains(QStringLiteral("SELECT * FROM product")))
        << boxes[0].text.toStdString();
    EXPECT_EQ(Str(boxes[1].text), Str(kDoneWithErrors + RunFolderLines()));
    EXPECT_EQ(Str(form.text),
              Str(StartedLines() +
                  QStringLiteral("파일 교체중 대상열기에서 오류발생 SELECT * FROM product\r\n") +
                  QStringLiteral("trader 데이터복사완료\r\n") + kDoneWithErrorsLines));
    EXPECT_TRUE(conversion.LastRunHadErrors());
    ExpectNoFileLeftOpen();
}

// The destination file is moved away while the copy writes into it: what was saved went into a
// file the products no longer see, so none of it counts as copied, and the log says why.
TEST_F(FaultRun, ADestinationMovedDuringTheCopyCountsNothingAsCopied) {
    // Small batches, so that writes go on into the moved file after it has gone.
    dao::EngineOptions options = QuickLocks();
    options.batches = {5, std::chrono::minutes(10)};
    const dao::EngineOptionsScope batches(options);
    const QString movedTo = DestFile() + QStringLiteral(".moved");
    bool moved = false;
    form.onValue = [&](float value) {
        if (value == 10.0f && !moved) {
            moved = QFile::rename(DestFile(), movedTo);
        }
    };
    Journal();

    Run(1, 0);

    ASSERT_TRUE(moved);
    const auto boxes = Boxes();
    ASSERT_GE(boxes.size(), 1u);
    EXPECT_TRUE(boxes[0].text.endsWith(kInCopyData)) << boxes[0].text.toStdString();
    EXPECT_TRUE(form.text.contains(
        QStringLiteral("product 복사 중단: 대상 파일이 작업 중에 옮겨지거나 지워져, 저장한 행을 "
                       "복사한 것으로 세지 않았습니다.\r\n")))
        << Str(form.text);
    EXPECT_TRUE(
        form.text.contains(QStringLiteral("product 데이터복사 중 오류: 60건 중 0건 복사, "
                                          "60건 실패")))
        << Str(form.text);
    EXPECT_FALSE(form.text.contains(QStringLiteral("자료 교체 완료\r\n"))) << Str(form.text);
    ExpectNoFileLeftOpen();
    // Every row is listed: the ones saved into the moved file with the error that said so.
    const FailedRowsFile listed = ReadFailedRows(FailedRowsFilePath());
    EXPECT_EQ(listed.Positions(QStringLiteral("product")), Positions(1, 60));
    int64_t movedRows = 0;
    for (const FailedRow& row : listed.rows) {
        movedRows += row.number == dao::errFileMoved ? 1 : 0;
    }
    EXPECT_GE(movedRows, 10);
    EXPECT_TRUE(form.text.contains(QStringLiteral("60건 실패 (첫 오류: ")) &&
                form.text.contains(FailedRowsNote() + QStringLiteral("\r\n")))
        << Str(form.text);
    ASSERT_EQ(Journal().tables.size(), 1u);
    EXPECT_EQ(Journal().tables[0].copied, 0);
    EXPECT_EQ(Journal().tables[0].failed, 60);
}

// Another program takes the destination while the copy runs: a writer's lock blocks the next
// save, and a reader that keeps its read open blocks the next commit, whose batch is then taken
// back. Either way the copy stops at once instead of waiting out the lock for every remaining
// row, the rows it reports as copied are the rows the file holds, and the run stops at its next
// statement.
struct LockDuringCopy {
    const char* name;
    const char* begin;  // what the other program runs on the destination
    int64_t rowsPerCommit;
    float from;         // the progress value at which it starts
    const char* error;  // how the copy's error goes on after the file's path
    int64_t saved;      // the products that the destination holds afterwards
    bool rowsLeft;      // whether rows were still to be read when the copy stopped
};

void PrintTo(const LockDuringCopy& lock, std::ostream* os) {
    *os << lock.name;
}

class LockDuringCopyRun : public FaultRun, public ::testing::WithParamInterface<LockDuringCopy> {};

TEST_P(LockDuringCopyRun, StopsTheCopyAndReportsWhatTheFileHolds) {
    const LockDuringCopy& other = GetParam();
    dao::EngineOptions options = QuickLocks();
    options.batches = {other.rowsPerCommit, std::chrono::minutes(10)};
    const dao::EngineOptionsScope batches(options);
    form.onValue = [&](float value) {
        if (value == other.from && !lock) {
            lock = std::make_unique<OtherProgramLock>(DestFile(), other.begin);
            EXPECT_TRUE(lock->Locked());
        }
    };
    Journal();

    Run(1, 1);

    const auto boxes = Boxes();
    ASSERT_EQ(boxes.size(), 2u) << Texts(boxes);
    const QString text = boxes[0].text;
    EXPECT_TRUE(text.startsWith(QStringLiteral("Error 3260 ('") + DestFile() +
                                QString::fromUtf8(other.error)))
        << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("잠겨"))) << text.toStdString();
    const QString error = text.left(text.size() - kInCopyData.size());
    const QString stop = boxes[1].text.left(boxes[1].text.indexOf(QStringLiteral("\r\n")));
    EXPECT_TRUE(stop.contains(QStringLiteral("잠겨"))) << stop.toStdString();
    EXPECT_EQ(Str(form.text),
              Str(StartedLines() +
                  (other.rowsLeft ? QStringLiteral("product 복사 중단: 다른 프로그램이 파일을 "
                                                   "잠그고 있어 나머지 행을 복사하지 "
                                                   "않았습니다.\r\n")
                                  : QString()) +
                  QStringLiteral("product 데이터복사 중 오류: 60건 중 %1건 복사, %2건 실패 (첫 "
                                 "오류: %3)")
                      .arg(other.saved)
                      .arg(60 - other.saved)
                      .arg(error) +
                  FailedRowsNote() + QStringLiteral("\r\n") +
                  QStringLiteral("오류로 작업 중단: %1\r\n").arg(stop)));
    ASSERT_EQ(Journal().tables.size(), 1u);
    EXPECT_EQ(Journal().tables[0].sourceRows, 60);
    EXPECT_EQ(Journal().tables[0].destBefore, 25);
    EXPECT_EQ(Journal().tables[0].copied, other.saved);
    EXPECT_EQ(Journal().tables[0].failed, 60 - other.saved);
    EXPECT_EQ(Journal().tables[0].destAfter, other.saved);
    lock.reset();
    // The rows taken back by the failed commit and those never reached, each by its position.
    const FailedRowsFile listed = ReadFailedRows(FailedRowsFilePath());
    EXPECT_EQ(listed.Positions(QStringLiteral("product")), Positions(other.saved + 1, 60));
    for (const FailedRow& row : listed.rows) {
        EXPECT_EQ(row.number, 3260) << row.position;
    }
    ASSERT_FALSE(listed.rows.empty());
    EXPECT_EQ(Str(QStringLiteral("Error 3260 (%1)").arg(listed.rows.front().description)),
              Str(error));
    ExpectListedPlusCopiedIsTheSource("product", listed);
    ExpectSameContents(SourceFile(), ExpectedSource(true));
    // The first products, not yet adapted: the run stopped at the statement after the copy.
    ExpectSameContents(
        DestFile(),
        ExpectedDest(true, false, "rowid <= " + std::to_string(other.saved), "1", false));
    ExpectNoFileLeftOpen();
}

const LockDuringCopy kLocksDuringCopy[] = {
    {"WriterBetweenBatches", "BEGIN IMMEDIATE", 10, 10.0f, "' 파일이 잠겨 있습니다.", 10, true},
    {"ReaderAcrossACommit", "BEGIN; SELECT count(*) FROM product;", 10, 15.0f,
     "' 파일에 저장한 행 10개를 확정하지 못해 취소했습니다.", 10, true},
    {"ReaderAcrossTheLastCommit", "BEGIN; SELECT count(*) FROM product;", 25, 55.0f,
     "' 파일에 저장한 행 10개를 확정하지 못해 취소했습니다.", 50, false},
};

INSTANTIATE_TEST_SUITE_P(Faults, LockDuringCopyRun, ::testing::ValuesIn(kLocksDuringCopy),
                         [](const auto& info) { return std::string(info.param.name); });

// A batch whose commit fails at the close, over either driver: the rows it took back are listed by
// their own positions (over ODBC the whole copy is one batch of fewer than 1,000 rows).
class LastCommitRun : public FaultRun, public ::testing::WithParamInterface<enginetest::Driver> {};

TEST_P(LastCommitRun, ListsEachRowTheFailedCommitTookBack) {
    dao::EngineOptions options = enginetest::OptionsFor(GetParam());
    options.busyTimeout = QuickLocks().busyTimeout;
    options.batches = {25, std::chrono::minutes(10)};
    const dao::EngineOptionsScope scope(options);
    form.onValue = [&](float value) {
        if (value == 55.0f && !lock) {
            lock = std::make_unique<OtherProgramLock>(DestFile(),
                                                      "BEGIN; SELECT count(*) FROM product;");
            EXPECT_TRUE(lock->Locked());
        }
    };
    Journal();

    Run(1, 1);

    lock.reset();
    const int64_t saved = std::stoll(QueryValue(DestFile(), "SELECT count(*) FROM product"));
    EXPECT_LT(saved, 60);
    EXPECT_TRUE(form.text.contains(QStringLiteral("product 데이터복사 중 오류: 60건 중 %1건 복사, "
                                                  "%2건 실패 (첫 오류: Error 3260 (")
                                       .arg(saved)
                                       .arg(60 - saved)))
        << Str(form.text);
    EXPECT_TRUE(form.text.contains(FailedRowsNote() + QStringLiteral("\r\n"))) << Str(form.text);
    const FailedRowsFile listed = ReadFailedRows(FailedRowsFilePath());
    EXPECT_EQ(listed.Positions(QStringLiteral("product")), Positions(saved + 1, 60));
    for (const FailedRow& row : listed.rows) {
        EXPECT_EQ(row.number, 3260) << row.position;
    }
    ExpectListedPlusCopiedIsTheSource("product", listed);
    ASSERT_FALSE(Journal().tables.empty());
    EXPECT_EQ(Journal().tables[0].copied, saved);
    EXPECT_EQ(Journal().tables[0].failed, 60 - saved);
    EXPECT_EQ(Journal().tables[0].destAfter, saved);
    ExpectNoFileLeftOpen();
}

INSTANTIATE_TEST_SUITE_P(Faults, LastCommitRun, ::testing::ValuesIn(enginetest::DriversToRun()),
                         [](const auto& info) { return enginetest::DriverName(info.param); });

// ---- The destination refuses some of the rows

// The product codes of the rows that `where` selects, quoted and comma-separated.
std::string CodesWhere(const QString& path, const std::string& where) {
    std::string codes;
    for (const Row& row : QueryRows(path, "SELECT code FROM product WHERE " + where)) {
        codes += (codes.empty() ? "'" : ", '") + row.at(0).value_or("") + "'";
    }
    return codes;
}

struct Refusal {
    const char* name;
    int32_t number;
    std::vector<QString> words;
    void (*make)(const QString& source, const QString& dest);
    const char* refused;  // the source rows that the destination refuses
    // Over ODBC, when it differs: the number, and the words instead of `words`.
    int32_t odbcNumber = 0;
    std::vector<QString> odbcWords = {};
};

const Refusal kRefusals[] = {
    {"NotNullColumn",
     3314,
     {QStringLiteral("Product.Barcode"), QStringLiteral("Null")},
     [](const QString& source, const QString& dest) {
         ExecSql(dest, "UPDATE product SET Barcode = coalesce(Barcode, '880' || Code);");
         RebuildTable(dest, "product", [](std::string sql) {
             return Replaced(sql, "Barcode TEXT,", "Barcode TEXT NOT NULL,");
         });
         ExecSql(source,
                 "UPDATE product SET barcode = coalesce(barcode, '880' || code);"
                 "UPDATE product SET barcode = NULL WHERE rowid IN (5, 17, 33);");
     },
     "rowid IN (5, 17, 33)"},
    {"CheckConstraint",
     3317,
     {QStringLiteral("'product'"), QStringLiteral("OutPrice >= 0")},
     [](const QString& source, const QString& dest) {
         RebuildTable(dest, "product", [](std::string sql) {
             return Replaced(sql, "OutPrice REAL NOT NULL DEFAULT 0,",
                             "OutPrice REAL NOT NULL DEFAULT 0 CHECK (OutPrice >= 0),");
         });
         ExecSql(source, "UPDATE product SET outprice = -1 WHERE rowid IN (5, 17, 33);");
     },
     "rowid IN (5, 17, 33)"},
    {"StrictColumnType",
     3421,
     {QStringLiteral("'product.InPrice'"), QStringLiteral("REAL"), QStringLiteral("TEXT")},
     [](const QString& source, const QString& dest) {
         RebuildTable(dest, "product", [](std::string sql) { return sql + " STRICT"; });
         ExecSql(source, "UPDATE product SET inprice = '미정' WHERE rowid IN (5, 17, 33);");
     },
     "rowid IN (5, 17, 33)",
     // Through ODBC too the text is read as the text it is (high-precision mode) and refused by
     // the column's type, in the driver's words.
     3421,
     {QStringLiteral("Product.InPrice"), QStringLiteral("REAL")}},
    {"IgnoredByTrigger",
     3157,
     {QStringLiteral("무시했습니다")},
     [](const QString& source, const QString& dest) {
         ExecSql(dest, "CREATE TRIGGER keep BEFORE INSERT ON product WHEN new.Code IN (" +
                           CodesWhere(source, "rowid IN (5, 17, 33)") +
                           ") BEGIN SELECT RAISE(IGNORE); END;");
     },
     "rowid IN (5, 17, 33)"},
    {"DuplicateCodesInTheSource",
     3022,
     {QStringLiteral("'product'"), QStringLiteral("Code")},
     [](const QString& source, const QString&) {
         RebuildTable(source, "product", [](std::string sql) {
             return Replaced(sql, "TEXT NOT NULL PRIMARY KEY", "TEXT NOT NULL");
         });
         ExecSql(source,
                 "INSERT INTO product SELECT * FROM product WHERE rowid IN (5, 17, 33);"
                 "UPDATE product SET name = name || ' (중복)' WHERE rowid > 60;");
     },
     "rowid > 60"},
};

void PrintTo(const Refusal& refusal, std::ostream* os) {
    *os << refusal.name;
}

// Over both drivers: the Access path counts refused rows as the SQLite one does.
class RefusalRun : public FaultRun,
                   public ::testing::WithParamInterface<std::tuple<Refusal, enginetest::Driver>> {};

TEST_P(RefusalRun, FailsThoseRowsOnlyAndSaysSo) {
    const auto& [refusal, driver] = GetParam();
    refusal.make(SourceFile(), DestFile());
    Keep();
    Journal();
    dao::EngineOptions options = enginetest::OptionsFor(driver);
    options.busyTimeout = QuickLocks().busyTimeout;
    const dao::EngineOptionsScope scope(options);
    const std::string total = QueryValue(SourceFile(), "SELECT count(*) FROM product");

    Run(1, 1);

    // One box for the error, however many rows it hit; then the run's own warning.
    const auto boxes = Boxes();
    ASSERT_EQ(boxes.size(), 2u) << Texts(boxes);
    const QString text = boxes[0].text;
    const bool odbcDiffers = driver == enginetest::Driver::Odbc && refusal.odbcNumber != 0;
    EXPECT_TRUE(text.startsWith(
        QStringLiteral("Error %1 (").arg(odbcDiffers ? refusal.odbcNumber : refusal.number)))
        << text.toStdString();
    EXPECT_TRUE(text.endsWith(kInCopyData)) << text.toStdString();
    for (const QString& word : odbcDiffers ? refusal.odbcWords : refusal.words) {
        EXPECT_TRUE(text.contains(word)) << word.toStdString() << " in " << text.toStdString();
    }
    EXPECT_EQ(Str(boxes[1].text), Str(kDoneWithErrors + RunFolderLines()));
    const QString error = text.left(text.size() - kInCopyData.size());
    EXPECT_EQ(Str(form.text),
              Str(StartedLines() +
                  QStringLiteral("product %1: 같은 오류 3건 (메시지는 처음 한 번만 표시)\r\n")
                      .arg(error) +
                  QStringLiteral("product 데이터복사 중 오류: %1건 중 %2건 복사, 3건 실패 (첫 "
                                 "오류: %3)")
                      .arg(QString::fromStdString(total))
                      .arg(QString::fromStdString(total).toInt() - 3)
                      .arg(error) +
                  FailedRowsNote() + QStringLiteral("\r\n") +
                  QStringLiteral("trader 데이터복사완료\r\n") + kDoneWithErrorsLines));
    EXPECT_TRUE(conversion.LastRunHadErrors());
    ExpectSameContents(SourceFile(), ExpectedSource(true));
    ExpectSameContents(DestFile(),
                       ExpectedDest(true, true, std::string("NOT (") + refusal.refused + ")"));
    ExpectNoFileLeftOpen();

    // Exactly the refused rows are listed, by their positions, with the error shown.
    const FailedRowsFile listed = ReadFailedRows(FailedRowsFilePath());
    std::vector<int64_t> refused;
    for (const Row& row : QueryRows(SourceFile(), std::string("SELECT rowid FROM product WHERE ") +
                                                      refusal.refused + " ORDER BY rowid")) {
        refused.push_back(std::stoll(row.at(0).value_or("0")));
    }
    EXPECT_EQ(listed.Positions(QStringLiteral("product")), refused);
    EXPECT_TRUE(listed.Of(QStringLiteral("trader")).empty());
    for (const FailedRow& row : listed.rows) {
        EXPECT_EQ(row.number, odbcDiffers ? refusal.odbcNumber : refusal.number) << row.position;
    }
    ASSERT_FALSE(listed.rows.empty());
    // The log shows the same wording, and beside it the driver's own diagnostic where there is
    // one.
    const std::string shown = Str(QStringLiteral("Error %1 (%2)")
                                      .arg(listed.rows.front().number)
                                      .arg(listed.rows.front().description));
    EXPECT_TRUE(Str(error) == shown ||
                Str(error).rfind(shown + Str(QStringLiteral(" [드라이버 진단: SQLSTATE ")), 0) == 0)
        << Str(error);
    ExpectListedPlusCopiedIsTheSource("product", listed);
    ExpectListedPlusCopiedIsTheSource("trader", listed);
    // The counts the run's report states.
    const auto& tables = Journal().tables;
    ASSERT_EQ(tables.size(), 2u);
    const int64_t rows = std::stoll(total);
    EXPECT_EQ(Str(tables[0].tableName), "product");
    EXPECT_EQ(tables[0].sourceRows, rows);
    EXPECT_EQ(tables[0].destBefore, 25);
    EXPECT_EQ(tables[0].copied, rows - 3);
    EXPECT_EQ(tables[0].failed, 3);
    EXPECT_EQ(tables[0].destAfter, rows - 3);
    EXPECT_EQ(Str(tables[1].tableName), "trader");
    EXPECT_EQ(tables[1].sourceRows, 24);
    EXPECT_EQ(tables[1].destBefore, 10);
    EXPECT_EQ(tables[1].copied, 24);
    EXPECT_EQ(tables[1].failed, 0);
    EXPECT_EQ(tables[1].destAfter, 24);
    // The copies' deletes, among the recipes' statements, each with the rows it removed.
    std::vector<TestJournal::Statement> statements;
    for (const auto& statement : Journal().statements) {
        if (statement.sql.startsWith(QStringLiteral("delete from "))) {
            statements.push_back(statement);
        }
    }
    size_t recipeStatements = 0;
    for (const Recipe& recipe : AllRecipes()) {
        for (const RecipeStep& step : recipe.steps) {
            recipeStatements += step.statement.isEmpty() ? 0 : 1;
        }
    }
    EXPECT_EQ(Journal().statements.size(), recipeStatements + statements.size());
    ASSERT_EQ(statements.size(), 2u);
    EXPECT_EQ(Str(statements[0].sql), "delete from product");
    EXPECT_EQ(statements[0].rows, 25);
    EXPECT_EQ(Str(statements[1].sql), "delete from trader");
    EXPECT_EQ(statements[1].rows, 10);
}

INSTANTIATE_TEST_SUITE_P(Faults, RefusalRun,
                         ::testing::Combine(::testing::ValuesIn(kRefusals),
                                            ::testing::ValuesIn(enginetest::DriversToRun())),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) +
                                    enginetest::DriverName(std::get<1>(info.param));
                         });

// ---- Recipe statements that leave rows out

// A statement leaves out the rows its database refuses and the run goes on, but every row left
// out is logged with its statement and makes the run end with errors, over both drivers.
struct SkippingStatement {
    const char* name;
    void (*make)(const QString& source, const QString& dest);
    const char* statement;  // the recipe statement that leaves rows out
    int leftOut;
    const char* reason;  // how the log line's reason begins
};

void PrintTo(const SkippingStatement& skip, std::ostream* os) {
    *os << skip.name;
}

const SkippingStatement kSkippingStatements[] = {
    {"RefusedBySourceRule",
     [](const QString& source, const QString&) {
         const std::string codes = CodesWhere(source, "unit = '' LIMIT 2");
         RebuildTable(source, "product", [&](std::string sql) {
             return Replaced(sql, "unit TEXT NOT NULL DEFAULT ''",
                             "unit TEXT NOT NULL DEFAULT '' CHECK (unit <> ' ' OR code NOT IN (" +
                                 codes + "))");
         });
     },
     "UPDATE product SET unit = ' ' where unit = ''", 2, "Error 3317 ("},
    {"RefusedByDestRule",
     [](const QString& source, const QString& dest) {
         const std::string codes = CodesWhere(source, "rowid IN (5, 17, 33)");
         RebuildTable(dest, "product", [&](std::string sql) {
             return Replaced(
                 sql, "ptax INTEGER NOT NULL DEFAULT 0",
                 "ptax INTEGER NOT NULL DEFAULT 0 CHECK (ptax = 0 OR Code NOT IN (" + codes + "))");
         });
     },
     "UPDATE product SET ptax = 1", 3, "Error 3317 ("},
    {"IgnoredByDestTrigger",
     [](const QString&, const QString& dest) {
         ExecSql(dest,
                 "CREATE TRIGGER keep BEFORE UPDATE OF reserve1 ON product WHEN old.rowid IN "
                 "(5, 17) BEGIN SELECT RAISE(IGNORE); END;");
     },
     "UPDATE product SET reserve1 = ''", 2, ""},
    {"ClassRowIgnored",
     [](const QString&, const QString& dest) {
         ExecSql(dest,
                 "CREATE TRIGGER keep BEFORE INSERT ON pclass BEGIN SELECT RAISE(IGNORE); END;");
     },
     "Insert Into pclass (Code, ClassName,Used) values ('00001', '대분류명', true)", 1, ""},
};

class SkippingStatementRun
    : public FaultRun,
      public ::testing::WithParamInterface<std::tuple<SkippingStatement, enginetest::Driver>> {};

TEST_P(SkippingStatementRun, IsLoggedAndTheRunEndsWithErrors) {
    const auto& [skip, driver] = GetParam();
    skip.make(SourceFile(), DestFile());
    Keep();
    dao::EngineOptions options = enginetest::OptionsFor(driver);
    options.busyTimeout = QuickLocks().busyTimeout;
    const dao::EngineOptionsScope scope(options);

    Run(1, 0);

    const auto boxes = Boxes();
    ASSERT_EQ(boxes.size(), 1u) << Texts(boxes);
    EXPECT_EQ(Str(boxes[0].text), Str(kDoneWithErrors + RunFolderLines()));
    const QString prefix = QString::fromUtf8(skip.statement) + QStringLiteral(" 실행 중 오류: ");
    const qsizetype at = form.text.indexOf(prefix);
    ASSERT_GE(at, 0) << Str(form.text);
    const QString line = form.text.mid(at, form.text.indexOf(QStringLiteral("\r\n"), at) - at);
    EXPECT_TRUE(line.contains(QStringLiteral("건 적용, %1건 빠짐 (첫 오류: %2")
                                  .arg(skip.leftOut)
                                  .arg(QString::fromUtf8(skip.reason))))
        << Str(line);
    EXPECT_TRUE(form.text.endsWith(kDoneWithErrorsLines)) << Str(form.text);
    ExpectNoFileLeftOpen();
}

INSTANTIATE_TEST_SUITE_P(Faults, SkippingStatementRun,
                         ::testing::Combine(::testing::ValuesIn(kSkippingStatements),
                                            ::testing::ValuesIn(enginetest::DriversToRun())),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) +
                                    enginetest::DriverName(std::get<1>(info.param));
                         });

// ---- A rehearsal predicts the run

// Rehearsed first, then run on the same files: the rehearsal must have met exactly what the run
// then meets, and left the files as they were.
struct Rehearsed {
    const char* name;
    std::function<void(const QString& source, const QString& dest)> make;
};

void PrintTo(const Rehearsed& rehearsed, std::ostream* os) {
    *os << rehearsed.name;
}

const Rehearsed kRehearsed[] = {
    {"Demo", [](const QString&, const QString&) {}},
    {"RefusedRows", kRefusals[0].make},
    {"StatementLeavesRowsOut", kSkippingStatements[1].make},
    {"FirstRowRefused",
     [](const QString&, const QString& dest) {
         ExecSql(dest, "UPDATE trader SET U_Name = 'nobody'");
         RebuildTable(dest, "trader", [](std::string sql) {
             return Replaced(sql, "U_Name TEXT", "U_Name TEXT CHECK (U_Name = 'nobody')");
         });
     }},
};

class RehearsalRun
    : public FaultRun,
      public ::testing::WithParamInterface<std::tuple<Rehearsed, enginetest::Driver>> {
protected:
    // What a run met, as its journal, failed rows, report and log tell it; the log without the
    // lines that name its folders.
    struct Met {
        std::vector<TestJournal::Statement> statements;
        std::vector<TableCopyCounts> tables;
        std::vector<std::pair<int64_t, int32_t>> failedRows;  // position, number
        bool hadErrors = false;
        std::optional<QString> outcome;
        QString log;
    };
    Met Observe() {
        Met met;
        met.statements = std::exchange(Journal().statements, {});
        met.tables = std::exchange(Journal().tables, {});
        const QString csv = FailedRowsFilePath();
        if (QFileInfo::exists(csv)) {
            for (const FailedRow& row : ReadFailedRows(csv).rows) {
                met.failedRows.emplace_back(row.position, row.number);
            }
        }
        met.hadErrors = conversion.LastRunHadErrors();
        met.outcome = ReadReportOutcome(conversion.LastRunFolder());
        for (const QString& line : form.text.split(kCrLf)) {
            if (!line.contains(conversion.LastRunFolder()) &&
                !line.contains(QDir::toNativeSeparators(conversion.LastRunFolder())) &&
                !line.startsWith(QStringLiteral("미리 해보기")) &&
                !line.startsWith(QStringLiteral("백업: "))) {
                met.log += line + QLatin1Char('\n');
            }
        }
        return met;
    }
};

TEST_P(RehearsalRun, PredictsWhatTheRunThenDoesAndChangesNothing) {
    const auto& [rehearsed, driver] = GetParam();
    rehearsed.make(SourceFile(), DestFile());
    Keep();
    const dao::EngineOptionsScope scope(enginetest::OptionsFor(driver));
    Journal();

    conversion.SetRehearsal(true);
    form.check = {1, 1};
    conversion.Command1_Click();

    ASSERT_TRUE(conversion.LastRehearsal().has_value());
    const RehearsalResult rehearsal = *conversion.LastRehearsal();
    // No password, no confirmation; the rehearsal's own box at its end.
    for (const auto& call : platform.calls) {
        EXPECT_NE(call.kind, ScriptedPlatform::Kind::InputBox);
    }
    ASSERT_FALSE(platform.MessageBoxes().empty());
    EXPECT_EQ(Str(platform.MessageBoxes().back().text), Str(rehearsal.Summary()));
    EXPECT_TRUE(rehearsal.Summary().endsWith(QStringLiteral("실제 파일은 바뀌지 않았습니다.")));
    EXPECT_TRUE(form.text.startsWith(kRehearsalFirstLine + kCrLf));
    EXPECT_TRUE(rehearsal.originalsUnchanged);
    EXPECT_TRUE(FileBytes(SourceFile()) == sourceBytes_) << "the source was changed";
    EXPECT_TRUE(FileBytes(DestFile()) == destBytes_) << "the destination was changed";
    ExpectNoFileLeftOpen();
    // The copies are gone, the report stays, and there is nothing to restore.
    EXPECT_FALSE(QFileInfo::exists(rehearsal.folder + QStringLiteral("/Dorvik")));
    EXPECT_FALSE(QFileInfo::exists(rehearsal.folder + QStringLiteral("/SolvanePlus")));
    EXPECT_FALSE(QFileInfo::exists(rehearsal.folder + QStringLiteral("/run.json")));
    EXPECT_TRUE(QString::fromUtf8(FileBytes(rehearsal.folder + QStringLiteral("/report.txt")))
                    .contains(QStringLiteral("\n") + kRehearsalReportMark + QStringLiteral("\n")));
    EXPECT_TRUE(ListRunFolders(tmp.File(QStringLiteral("runs"))).isEmpty());
    const Met predicted = Observe();

    conversion.SetRehearsal(false);
    Run(1, 1);
    const Met done = Observe();

    ASSERT_EQ(predicted.statements.size(), done.statements.size());
    for (size_t i = 0; i < done.statements.size(); ++i) {
        EXPECT_EQ(Str(predicted.statements[i].sql), Str(done.statements[i].sql));
        EXPECT_EQ(predicted.statements[i].rows, done.statements[i].rows)
            << done.statements[i].sql.toStdString();
    }
    ASSERT_EQ(predicted.tables.size(), done.tables.size());
    for (size_t i = 0; i < done.tables.size(); ++i) {
        const TableCopyCounts& a = predicted.tables[i];
        const TableCopyCounts& b = done.tables[i];
        EXPECT_EQ(
            std::tie(a.tableName, a.sourceRows, a.destBefore, a.copied, a.failed, a.destAfter),
            std::tie(b.tableName, b.sourceRows, b.destBefore, b.copied, b.failed, b.destAfter));
    }
    EXPECT_EQ(predicted.failedRows, done.failedRows);
    EXPECT_EQ(predicted.hadErrors, done.hadErrors);
    EXPECT_EQ(rehearsal.outcome == RehearsalResult::Outcome::CompletesWithErrors, done.hadErrors);
    EXPECT_EQ(predicted.outcome, done.outcome);
    EXPECT_EQ(Str(predicted.log), Str(done.log));
}

INSTANTIATE_TEST_SUITE_P(Faults, RehearsalRun,
                         ::testing::Combine(::testing::ValuesIn(kRehearsed),
                                            ::testing::ValuesIn(enginetest::DriversToRun())),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) +
                                    enginetest::DriverName(std::get<1>(info.param));
                         });

// A second run finds its class row in place: that row left out is what the recipe means.
TEST_F(FaultRun, AClassRowAlreadyThereIsNoFailure) {
    ExecSql(DestFile(),
            "INSERT INTO pclass (Code, ClassName, Used, ParentCode, SortNo) "
            "VALUES ('00001', '대분류명', 1, '', 9);");
    Keep();
    for (const enginetest::Driver driver : enginetest::DriversToRun()) {
        platform.calls.clear();
        const dao::EngineOptionsScope scope(enginetest::OptionsFor(driver));
        Run(1, 1);
        ASSERT_EQ(Boxes().size(), 1u) << Texts(Boxes());
        EXPECT_EQ(Str(Boxes()[0].text), Str(kDone)) << enginetest::DriverName(driver);
    }
}

// ---- Folder settings as users have them

struct FolderForm {
    const char* name;
    // The setting, and the folder that it names, under the temporary folder.
    const char* setting;
    const char* folder;
};

const FolderForm kFolderForms[] = {
    {"Spaces", "/Dorvik 회계 자료/db 폴더", "/Dorvik 회계 자료/db 폴더"},
    {"SpacesAtBothEnds", "/ 자료 ", "/ 자료 "},
    {"TrailingSeparator", "/Dorvik/", "/Dorvik"},
    {"DotDot", "/a/b/../../Dorvik", "/Dorvik"},
    {"KoreanNames", "/도르빅/세금계산서 데이터", "/도르빅/세금계산서 데이터"},
};

void PrintTo(const FolderForm& form, std::ostream* os) {
    *os << form.name;
}

class FolderFormRun : public FaultRun, public ::testing::WithParamInterface<FolderForm> {};

TEST_P(FolderFormRun, IsUsedAsItStandsAndTheRunCompletes) {
    const FolderForm& form_ = GetParam();
    const auto place = [&](const QString& file, const QString& under) {
        const QString folder = under + QString::fromUtf8(form_.folder);
        EXPECT_TRUE(QDir().mkpath(folder));
        EXPECT_TRUE(QDir().mkpath(under + QStringLiteral("/a/b")));
        EXPECT_TRUE(QFile::rename(file, folder + QStringLiteral("/dbbasic.mdb")));
        return under + QString::fromUtf8(form_.setting);
    };
    // Each product in a folder of its own form.
    const QString source = place(SourceFile(), tmp.File(QStringLiteral("원본")));
    const QString dest = place(DestFile(), tmp.File(QStringLiteral("대상")));
    SetFolders(source, dest);

    Run(1, 1);

    const auto boxes = Boxes();
    ASSERT_EQ(boxes.size(), 1u) << Texts(boxes);
    EXPECT_EQ(Str(boxes[0].text), Str(kDone));
    EXPECT_EQ(Str(form.text), Str(StartedLines() + QStringLiteral("product 데이터복사완료\r\n") +
                                  QStringLiteral("trader 데이터복사완료\r\n") + kDoneLines));
    EXPECT_EQ(conversion.SourceDbPath, source);
    EXPECT_EQ(conversion.DestDbPath, dest);
    const auto file = [](const QString& under, const char* folder) {
        return under + QString::fromUtf8(folder) + QStringLiteral("/dbbasic.mdb");
    };
    ExpectSameContents(file(tmp.File(QStringLiteral("원본")), form_.folder), ExpectedSource(true));
    ExpectSameContents(file(tmp.File(QStringLiteral("대상")), form_.folder),
                       ExpectedDest(true, true));
    EXPECT_EQ(ProcessEngine().OpenDatabaseCount(), 0);
}

INSTANTIATE_TEST_SUITE_P(Faults, FolderFormRun, ::testing::ValuesIn(kFolderForms),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- Many rows with every kind of text

// Every control character but NUL: 1 to 31 and 127.
std::string ControlCharacters() {
    std::string text;
    for (char c = 1; c < 32; ++c) {
        text += c;
    }
    return text + '\x7f';
}

// Texts that a careless copy would change: Korean, emoji (outside the basic plane, with a skin
// tone and a joiner), quotes, a backslash, the control characters and NUL, decomposed Hangul and
// text that reads like SQL.
std::string TrickyText(int64_t row) {
    static const std::string kParts[] = {
        "한글 상품명",
        "😀👍🏽👩‍💻",
        "O'Reilly \"큰따옴표\" `백틱` [대괄호]",
        "C:\\경로\\파일.mdb",
        "줄\r\n바꿈\n과\t탭",
        ControlCharacters(),
        std::string("널\0문자", 10),
        "\xe1\x84\x92\xe1\x85\xa1\xe1\x86\xab",  // 한, decomposed
        "'); DELETE FROM product; --",
        "",
        " ",
    };
    constexpr int64_t kCount = sizeof kParts / sizeof kParts[0];
    return kParts[row % kCount] + std::to_string(row) + kParts[(row / kCount) % kCount];
}

// 64 KiB of Korean and emoji, ending in an ASCII character: exactly 65,536 bytes.
std::string LongText(int64_t row) {
    std::string text;
    const std::string unit = "가나다라마바사😀";  // 7 Hangul (21 bytes) and an emoji (4 bytes)
    while (text.size() + unit.size() <= 65535) {
        text += unit;
    }
    text += std::string(65535 - text.size(), 'x');
    text += static_cast<char>('0' + row % 10);
    return text;
}

TEST_F(FaultRun, AHundredThousandRowsOfAnyTextRoundTripByteForByte) {
    constexpr int64_t kRows = 100000;
    constexpr int64_t kLongEvery = 2500;  // 36 texts of 64 KiB, and 4 nulls
    int64_t longTexts = 0;
    const char* const schema = R"sql(
        CREATE TABLE product(code TEXT PRIMARY KEY, name TEXT, unit TEXT NOT NULL DEFAULT '',
                             memo TEXT, price REAL, qty INTEGER, photo BLOB);
        CREATE TABLE trader(code TEXT PRIMARY KEY, u_name TEXT, hphone TEXT);
    )sql";
    QFile::remove(SourceFile());
    QFile::remove(DestFile());
    ExecSql(SourceFile(), schema);
    ExecSql(DestFile(), R"sql(
        CREATE TABLE product(Code TEXT PRIMARY KEY, Name TEXT, Unit TEXT, Memo TEXT, Price REAL,
                             Qty INTEGER, Photo BLOB, classcode TEXT, ptax INTEGER, reserve1 TEXT,
                             reserve2 TEXT, reserve3 TEXT, BManage INTEGER);
        CREATE TABLE pclass(Code TEXT PRIMARY KEY, ClassName TEXT, Used INTEGER);
        INSERT INTO product(Code, Name) VALUES ('OLD', '옛 상품');
    )sql");
    {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(QFile::encodeName(SourceFile()).constData(), &db), SQLITE_OK);
        sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
        sqlite3_stmt* insert = nullptr;
        ASSERT_EQ(sqlite3_prepare_v2(db, "INSERT INTO product VALUES (?, ?, ?, ?, ?, ?, ?)", -1,
                                     &insert, nullptr),
                  SQLITE_OK);
        std::string bytes(256, '\0');
        for (int i = 0; i < 256; ++i) {
            bytes[static_cast<size_t>(i)] = static_cast<char>(i);
        }
        const int64_t extremes[] = {INT64_MIN, INT64_MAX, 0, -1};
        for (int64_t row = 0; row < kRows; ++row) {
            const std::string code = "P" + std::to_string(1000000 + row);
            const std::string name = TrickyText(row);
            const std::string memo = row % kLongEvery == 0 ? LongText(row) : TrickyText(row + 3);
            sqlite3_bind_text(insert, 1, code.data(), static_cast<int>(code.size()),
                              SQLITE_TRANSIENT);
            sqlite3_bind_text(insert, 2, name.data(), static_cast<int>(name.size()),
                              SQLITE_TRANSIENT);
            sqlite3_bind_text(insert, 3, row % 7 == 0 ? "" : "개", -1, SQLITE_STATIC);
            if (row % 11 == 0) {
                sqlite3_bind_null(insert, 4);
            } else {
                longTexts += memo.size() == 65536 ? 1 : 0;
                sqlite3_bind_text(insert, 4, memo.data(), static_cast<int>(memo.size()),
                                  SQLITE_TRANSIENT);
            }
            sqlite3_bind_double(insert, 5, row % 13 == 0 ? 1.7976931348623157e308 : row * 0.01);
            sqlite3_bind_int64(insert, 6, row % 17 == 0 ? extremes[row % 4] : row);
            if (row % 5 == 0) {
                sqlite3_bind_blob(insert, 7, bytes.data(), static_cast<int>(row % 257),
                                  SQLITE_TRANSIENT);
            } else {
                sqlite3_bind_null(insert, 7);
            }
            ASSERT_EQ(sqlite3_step(insert), SQLITE_DONE) << sqlite3_errmsg(db);
            sqlite3_reset(insert);
        }
        sqlite3_finalize(insert);
        ASSERT_EQ(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(db);
    }
    Keep();

    Run(1, 0);

    const auto boxes = Boxes();
    ASSERT_EQ(boxes.size(), 1u) << Texts(boxes);
    EXPECT_EQ(Str(boxes[0].text), Str(kDone));
    EXPECT_EQ(Str(form.text),
              Str(StartedLines() + QStringLiteral("product 데이터복사완료\r\n") + kDoneLines));
    EXPECT_EQ(form.max, static_cast<float>(kRows));
    EXPECT_EQ(form.value, static_cast<float>(kRows));

    // Every value as the source holds it after the run, type and bytes; and the source as it was
    // but for the units.
    const auto same = [](const char* a, const char* b) {
        std::string test;
        for (const char* column : {"code", "name", "unit", "memo", "price", "qty", "photo"}) {
            const std::string x = std::string(a) + "." + column;
            const std::string y = std::string(b) + "." + column;
            test += std::string(test.empty() ? "" : " AND ") + "typeof(" + x + ") = typeof(" + y +
                    ") AND " + x + " IS " + y + " AND CAST(" + x + " AS BLOB) IS CAST(" + y +
                    " AS BLOB)";
        }
        return test;
    };
    ExecSql(SourceBefore(), "UPDATE product SET unit = ' ' WHERE unit = ''");
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(QFile::encodeName(SourceFile()).constData(), &db), SQLITE_OK);
    const std::string attach = "ATTACH DATABASE '" + DestFile().toStdString() +
                               "' AS d; ATTACH DATABASE '" + SourceBefore().toStdString() +
                               "' AS b;";
    ASSERT_EQ(sqlite3_exec(db, attach.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    const auto count = [db](const std::string& sql) {
        sqlite3_stmt* stmt = nullptr;
        EXPECT_EQ(sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr), SQLITE_OK)
            << sqlite3_errmsg(db);
        const int64_t n = sqlite3_step(stmt) == SQLITE_ROW ? sqlite3_column_int64(stmt, 0) : -1;
        sqlite3_finalize(stmt);
        return n;
    };
    EXPECT_EQ(count("SELECT count(*) FROM d.product"), kRows);
    EXPECT_EQ(count("SELECT count(*) FROM main.product s JOIN d.product t ON t.code = s.code "
                    "WHERE " +
                    same("s", "t")),
              kRows);
    EXPECT_EQ(count("SELECT count(*) FROM main.product s JOIN b.product t ON t.rowid = s.rowid "
                    "WHERE " +
                    same("s", "t")),
              kRows);
    // The tricky values are there, not lost on both sides alike.
    EXPECT_EQ(count("SELECT count(*) FROM d.product WHERE length(CAST(memo AS BLOB)) = 65536"),
              longTexts);
    EXPECT_EQ(count("SELECT count(*) FROM d.product WHERE instr(CAST(name AS BLOB), x'00') > 0"),
              count("SELECT count(*) FROM b.product WHERE instr(CAST(name AS BLOB), x'00') > 0"));
    EXPECT_GT(count("SELECT count(*) FROM d.product WHERE instr(CAST(name AS BLOB), x'00') > 0"),
              0);
    EXPECT_EQ(count("SELECT count(*) FROM d.product WHERE unit = ''"), 0);
    EXPECT_EQ(count("SELECT count(*) FROM d.product WHERE unit = ' '"), (kRows + 6) / 7);
    sqlite3_close(db);
    ExpectNoFileLeftOpen();
}

// ---- A run killed in the middle of a copy

// Runs a query on the file as the next program to open it would: waiting for a writer's lock, and
// with the right to roll back what a killed writer left in its journal.
std::string QueryPatiently(const QString& path, const char* sql) {
    sqlite3* db = nullptr;
    std::string value = "(cannot open)";
    if (sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READWRITE, nullptr) ==
        SQLITE_OK) {
        sqlite3_busy_timeout(db, 2000);
        sqlite3_stmt* stmt = nullptr;
        value = "(" + std::string(sqlite3_errstr(sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr)));
        if (stmt != nullptr) {
            const int rc = sqlite3_step(stmt);
            value = rc == SQLITE_ROW ? reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0))
                                     : "(" + std::string(sqlite3_errmsg(db)) + ")";
        }
        sqlite3_finalize(stmt);
    }
    sqlite3_close(db);
    return value;
}

struct Kill {
    const char* name;
    bool stopped;  // stopped inside the commit, else killed while it goes on copying
};

void PrintTo(const Kill& kill, std::ostream* os) {
    *os << kill.name;
}

class KilledRun : public FaultRun, public ::testing::WithParamInterface<Kill> {};

TEST_P(KilledRun, LeavesBothFilesSoundAndASecondRunCompletes) {
    constexpr int64_t kProducts = 2000;
    constexpr int64_t kRowsPerCommit = 20;
    // The destination's first commit ends the trial of the first row, the second is the delete,
    // every later one a batch: the fifth commit saves rows 41 to 60.
    constexpr int kCommit = 5;
    WriteSourceDatabase(SourceFile(), DemoSize{kProducts, 300}, kSeed);
    Keep();
    const bool stopped = GetParam().stopped;

    const QByteArray source = QFile::encodeName(SourceFolder());
    const QByteArray dest = QFile::encodeName(DestFolder());
    const std::string rows = std::to_string(kRowsPerCommit);
    const std::string commit = std::to_string(kCommit);
    const QByteArray marker =
        stopped ? QByteArray("-") : QFile::encodeName(tmp.File(QStringLiteral("copying")));
    char* const args[] = {const_cast<char*>(CRASH_CHILD),
                          const_cast<char*>(source.data()),
                          const_cast<char*>(dest.data()),
                          const_cast<char*>(rows.c_str()),
                          const_cast<char*>(commit.c_str()),
                          const_cast<char*>(marker.data()),
                          nullptr};
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, CRASH_CHILD, nullptr, nullptr, args, environ), 0);
    int status = 0;
    if (stopped) {
        ASSERT_EQ(waitpid(pid, &status, WUNTRACED), pid);
        ASSERT_TRUE(WIFSTOPPED(status)) << "the run ended with status " << status;
    } else {
        // The marker says the copy is under way; it goes on while the kill is on its way.
        QElapsedTimer waited;
        waited.start();
        while (!QFileInfo::exists(QFile::decodeName(marker))) {
            ASSERT_EQ(waitpid(pid, &status, WNOHANG), 0) << "the run ended before it was killed";
            ASSERT_LT(waited.elapsed(), 60000) << "the copy never got under way";
            usleep(1000);
        }
    }
    ASSERT_EQ(::kill(pid, SIGKILL), 0);
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;

    EXPECT_EQ(QueryPatiently(SourceFile(), "PRAGMA integrity_check"), "ok");
    EXPECT_EQ(QueryPatiently(DestFile(), "PRAGMA integrity_check"), "ok");
    // Whole batches only, and the copy was cut short: the batch being committed when the run
    // stopped is rolled back, later ones were never saved.
    const int64_t copied = std::stoll(QueryPatiently(DestFile(), "SELECT count(*) FROM product"));
    if (stopped) {
        EXPECT_EQ(copied, (kCommit - 3) * kRowsPerCommit);
    } else {
        EXPECT_GE(copied, (kCommit - 3) * kRowsPerCommit);
        EXPECT_LT(copied, kProducts);
        EXPECT_EQ(copied % kRowsPerCommit, 0);
    }
    // The units were made a single space before the copy; nothing else in the source changed.
    ExpectSameContents(SourceFile(), ExpectedSource(true));

    // The run folder holds both files as they were before the run, and the report as far as the
    // run got: its statement on the source, but no outcome.
    const QStringList runs = ListRunFolders(tmp.File(QStringLiteral("runs")));
    ASSERT_EQ(runs.size(), 1);
    ExpectSameContents(runs[0] + QStringLiteral("/Dorvik/dbbasic.mdb"), SourceBefore());
    ExpectSameContents(runs[0] + QStringLiteral("/SolvanePlus/dbbasic.mdb"), DestBefore());
    EXPECT_FALSE(ReadReportOutcome(runs[0]).has_value());
    QFile report(runs[0] + QStringLiteral("/report.txt"));
    ASSERT_TRUE(report.open(QIODevice::ReadOnly));
    const QString reported = QString::fromUtf8(report.readAll());
    EXPECT_TRUE(reported.contains(QStringLiteral("[진행]\n")));
    EXPECT_TRUE(reported.contains(QStringLiteral(" Dorvik: UPDATE "))) << reported.toStdString();

    Run(1, 1);

    const auto boxes = Boxes();
    ASSERT_EQ(boxes.size(), 1u) << Texts(boxes);
    EXPECT_EQ(Str(boxes[0].text), Str(kDone));
    EXPECT_EQ(Str(form.text), Str(StartedLines() + QStringLiteral("product 데이터복사완료\r\n") +
                                  QStringLiteral("trader 데이터복사완료\r\n") + kDoneLines));
    ExpectSameContents(SourceFile(), ExpectedSource(true));
    ExpectSameContents(DestFile(), ExpectedDest(true, true));
    ExpectNoFileLeftOpen();
}

// Too little room for the copies: the rehearsal says how much it needs and where, and stops.
TEST_F(FaultRun, ARehearsalWithoutRoomForItsCopiesSaysWhatItNeedsAndStops) {
    conversion.SetRecordSeams({.freeSpace = [](const QString&) -> qint64 { return 4096; }});
    conversion.SetRehearsal(true);
    form.check = {1, 0};
    conversion.Command1_Click();

    EXPECT_FALSE(conversion.LastRehearsal().has_value());
    const auto boxes = Boxes();
    ASSERT_EQ(boxes.size(), 1u) << Texts(boxes);
    const QStringList lines = boxes[0].text.split(kCrLf);
    ASSERT_EQ(lines.size(), 4) << Str(boxes[0].text);
    EXPECT_EQ(Str(lines[0]), Str(QStringLiteral("미리 해보기용 복사본을 만들지 못했습니다.")));
    EXPECT_TRUE(lines[1].contains(QStringLiteral("-rehearsal"))) << Str(lines[1]);
    EXPECT_TRUE(lines[2].startsWith(
        QStringLiteral("디스크의 빈 공간이 부족합니다: 남은 공간 4096바이트, 필요한 공간 ")))
        << Str(lines[2]);
    EXPECT_EQ(Str(lines[3]), Str(QStringLiteral("실제 파일은 바꾸지 않았습니다.")));
    EXPECT_TRUE(QDir(tmp.File(QStringLiteral("runs"))).isEmpty());
    EXPECT_TRUE(FileBytes(SourceFile()) == sourceBytes_);
    EXPECT_TRUE(FileBytes(DestFile()) == destBytes_);
    ExpectNoFileLeftOpen();
}

// Killed at any moment, a rehearsal leaves the originals byte for byte as they were, and the
// next rehearsal clears the copies it left.
TEST_F(FaultRun, ARehearsalKilledAtAnyMomentLeavesTheOriginalsAsTheyWere) {
    WriteSourceDatabase(SourceFile(), DemoSize{3000, 300}, kSeed);
    Keep();
    const QByteArray source = QFile::encodeName(SourceFolder());
    const QByteArray dest = QFile::encodeName(DestFolder());
    char* const args[] = {const_cast<char*>(CRASH_CHILD), const_cast<char*>(source.data()),
                          const_cast<char*>(dest.data()), const_cast<char*>("20"),
                          const_cast<char*>("0"),         const_cast<char*>("-"),
                          const_cast<char*>("rehearse"),  nullptr};
    // How long a whole rehearsal takes here, then kills at moments spread over it.
    QElapsedTimer clock;
    clock.start();
    pid_t pid = 0;
    int status = 0;
    ASSERT_EQ(posix_spawn(&pid, CRASH_CHILD, nullptr, nullptr, args, environ), 0);
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status)) << status;
    const qint64 whole = std::max<qint64>(clock.elapsed(), 20);
    const unsigned seed = std::random_device{}();
    std::mt19937 random(seed);
    for (int kill = 0; kill < 6; ++kill) {
        const auto at = std::uniform_int_distribution<qint64>(0, whole)(random);
        ASSERT_EQ(posix_spawn(&pid, CRASH_CHILD, nullptr, nullptr, args, environ), 0);
        usleep(static_cast<useconds_t>(at * 1000));
        ::kill(pid, SIGKILL);
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(FileBytes(SourceFile()) == sourceBytes_) << "seed " << seed << ", " << at;
        EXPECT_TRUE(FileBytes(DestFile()) == destBytes_) << "seed " << seed << ", " << at;
    }

    form.check = {1, 1};
    conversion.SetRehearsal(true);
    conversion.Command1_Click();
    ASSERT_TRUE(conversion.LastRehearsal().has_value());
    EXPECT_TRUE(conversion.LastRehearsal()->originalsUnchanged);
    const QDir runs(tmp.File(QStringLiteral("runs")));
    for (const QString& name : runs.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        EXPECT_TRUE(IsRehearsalFolder(name)) << name.toStdString();
        EXPECT_FALSE(runs.exists(name + QStringLiteral("/SolvanePlus"))) << name.toStdString();
        EXPECT_FALSE(runs.exists(name + QStringLiteral("/Dorvik"))) << name.toStdString();
    }
}

const Kill kKills[] = {
    {"InsideACommit", true},
    {"WhileCopying", false},
};

INSTANTIATE_TEST_SUITE_P(Faults, KilledRun, ::testing::ValuesIn(kKills),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace

#endif  // __linux__
