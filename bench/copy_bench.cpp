// Measures a table copy against SQLite's own bulk copy of the same tables, on generated demo
// databases of N products and N/2 traders:
//
//   baseline  ATTACH and INSERT INTO dst.t (columns) SELECT columns FROM src.t, after deleting
//             dst.t, one transaction per table;
//   copy      CopyData for product, then trader, through the real window on the offscreen
//             platform, the window shown (or hidden, to measure what painting costs);
//   run       a whole Start click with both boxes ticked: password, Yes, both recipes;
//   backup    the backup that run makes before its first change (RunRecord::BackUp on both
//             files), against copying the same two files once, byte for byte.
//
// Each measurement runs in a fresh child process (this program again, with --child), on fresh
// copies of the same two files, so that peak memory is its own. The parent prints one table row
// per N. See bench/README.md.

#include <sqlite3.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QPlainTextEdit>
#include <QProcess>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "BenchPlatform.h"
#include "conversion/OpenClose.h"
#include "conversion/Recipes.h"
#include "conversion/RunFolder.h"
#include "conversion/RunRecord.h"
#include "data/EngineOptions.h"
#include "demo/DemoData.h"
#include "ui/Form1.h"

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

[[noreturn]] void Fail(const std::string& what) {
    throw std::runtime_error(what);
}

std::string Local(const QString& s) {
    return s.toStdString();
}

// ---- Memory of this process

// A line of /proc/self/status such as "VmHWM:  1234 kB", in KiB; -1 when missing.
long StatusKiB(const char* key) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::string prefix = std::string(key) + ":";
    while (std::getline(status, line)) {
        if (line.rfind(prefix, 0) == 0) {
            return std::stol(line.substr(prefix.size()));
        }
    }
    return -1;
}

// Sets the peak resident size (VmHWM) back to the current one, so that the peak read later is the
// peak of what ran in between.
void ResetPeak() {
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
}

// User and system CPU seconds of this process so far.
std::pair<double, double> CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return {seconds(usage.ru_utime), seconds(usage.ru_stime)};
}

// Bytes this process has passed to write calls so far ("wchar" of /proc/self/io): what the
// database files and their journals were sent, whether or not the disk has it yet.
double WrittenMiB() {
    std::ifstream io("/proc/self/io");
    std::string key;
    long long value = 0;
    while (io >> key >> value) {
        if (key == "wchar:") {
            return static_cast<double>(value) / 1048576.0;
        }
    }
    return 0;
}

// ---- SQLite, directly

class Sqlite {
public:
    explicit Sqlite(const QString& path) {
        if (sqlite3_open_v2(path.toUtf8().constData(), &db_, SQLITE_OPEN_READWRITE, nullptr) !=
            SQLITE_OK) {
            const std::string message = db_ ? sqlite3_errmsg(db_) : "out of memory";
            sqlite3_close(db_);
            Fail("cannot open " + Local(path) + ": " + message);
        }
    }
    Sqlite(const Sqlite&) = delete;
    Sqlite& operator=(const Sqlite&) = delete;
    ~Sqlite() { sqlite3_close(db_); }

    void Exec(const std::string& sql) {
        char* error = nullptr;
        if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
            const std::string message = error ? error : "unknown error";
            sqlite3_free(error);
            Fail(message + " in: " + sql.substr(0, 200));
        }
    }

    // The rows of a query, each column as text ("" for null).
    std::vector<std::vector<std::string>> Rows(const std::string& sql) {
        sqlite3_stmt* stmt = nullptr;
        if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
            Fail(std::string(sqlite3_errmsg(db_)) + " in: " + sql.substr(0, 200));
        }
        std::vector<std::vector<std::string>> rows;
        int rc = SQLITE_ROW;
        while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
            std::vector<std::string>& row = rows.emplace_back();
            for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
                const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, i));
                row.emplace_back(text ? text : "");
            }
        }
        sqlite3_finalize(stmt);
        if (rc != SQLITE_DONE) {
            Fail(std::string(sqlite3_errmsg(db_)) + " in: " + sql.substr(0, 200));
        }
        return rows;
    }

    long long Number(const std::string& sql) {
        const auto rows = Rows(sql);
        return rows.empty() || rows[0].empty() ? 0 : std::stoll(rows[0][0]);
    }

private:
    sqlite3* db_ = nullptr;
};

std::string Quoted(const std::string& name) {
    std::string out = "\"";
    for (const char c : name) {
        out += c;
        if (c == '"') {
            out += '"';
        }
    }
    return out + '"';
}

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

// The columns of the source's table that the destination's has too (names match without regard
// to letter case), in the source's order. `dst` is main, the source attached as `src`.
std::vector<std::string> SharedColumns(Sqlite& dst, const std::string& table) {
    std::vector<std::string> destNames;
    for (const auto& row : dst.Rows("PRAGMA main.table_info(" + Quoted(table) + ")")) {
        destNames.push_back(Lower(row.at(1)));
    }
    std::vector<std::string> shared;
    for (const auto& row : dst.Rows("PRAGMA src.table_info(" + Quoted(table) + ")")) {
        if (std::find(destNames.begin(), destNames.end(), Lower(row.at(1))) != destNames.end()) {
            shared.push_back(row.at(1));
        }
    }
    if (shared.empty()) {
        Fail("no shared columns in " + table);
    }
    return shared;
}

std::string Joined(const std::vector<std::string>& parts) {
    std::string out;
    for (const std::string& p : parts) {
        out += (out.empty() ? "" : ", ") + p;
    }
    return out;
}

// Compares the destination's table with the source's over the shared columns, values and their
// storage types, both ways. `adjust` maps a column to the expression compared in its place (for a
// column that a recipe rewrites). Returns the number of differing rows.
long long Differences(const QString& destFile, const QString& sourceFile, const std::string& table,
                      const std::map<std::string, std::string>& adjust = {}) {
    Sqlite db(destFile);
    db.Exec("ATTACH DATABASE '" + Local(sourceFile) + "' AS src");
    std::vector<std::string> expressions;
    for (const std::string& column : SharedColumns(db, table)) {
        const auto it = adjust.find(Lower(column));
        const std::string e = it == adjust.end() ? Quoted(column) : it->second;
        expressions.push_back(e);
        expressions.push_back("typeof(" + e + ")");
    }
    const std::string columns = Joined(expressions);
    const std::string t = Quoted(table);
    const long long extra = db.Number("SELECT count(*) FROM (SELECT " + columns + " FROM main." +
                                      t + " EXCEPT SELECT " + columns + " FROM src." + t + ")");
    const long long missing = db.Number("SELECT count(*) FROM (SELECT " + columns + " FROM src." +
                                        t + " EXCEPT SELECT " + columns + " FROM main." + t + ")");
    const long long countDiff = std::llabs(db.Number("SELECT count(*) FROM main." + t) -
                                           db.Number("SELECT count(*) FROM src." + t));
    return extra + missing + countDiff;
}

// The bytes of a table's own pages in a file (its b-tree, not its indexes).
long long TableBytes(const QString& file, const std::string& table) {
    Sqlite db(file);
    return db.Number("SELECT sum(pgsize) FROM dbstat WHERE name = '" + table + "'");
}

// ---- Files of one measurement

struct Files {
    QString sourceFolder;
    QString destFolder;
    QString source;
    QString dest;
    // Where a run puts its run folders (its backups and report). Inside the measurement's own
    // folder, so that they go with the copies: at 1,000,000 products each holds a whole source.
    QString runs;
};

// The two template files of one N, written once by the parent.
QString TemplateSource(const QString& dir) {
    return dir + QStringLiteral("/template/source.db");
}
QString TemplateDest(const QString& dir) {
    return dir + QStringLiteral("/template/dest.db");
}

void CopyAndSync(const QString& from, const QString& to) {
    QFile::remove(to);
    if (!QFile::copy(from, to)) {
        Fail("cannot copy " + Local(from) + " to " + Local(to));
    }
    QFile file(to);
    if (!file.open(QIODevice::ReadWrite) || ::fsync(file.handle()) != 0) {
        Fail("cannot sync " + Local(to));
    }
}

// Fresh copies of both templates under dir/<name>/, as the two products' folders hold them.
Files FreshCopies(const QString& dir, const QString& name) {
    Files f;
    const QString root = dir + QLatin1Char('/') + name;
    QDir(root).removeRecursively();
    f.sourceFolder = root + QStringLiteral("/Dorvik");
    f.destFolder = root + QStringLiteral("/SolvanePlus");
    if (!QDir().mkpath(f.sourceFolder) || !QDir().mkpath(f.destFolder)) {
        Fail("cannot create folders under " + Local(root));
    }
    f.source = f.sourceFolder + QStringLiteral("/dbbasic.mdb");
    f.dest = f.destFolder + QStringLiteral("/dbbasic.mdb");
    f.runs = root + QStringLiteral("/runs");
    CopyAndSync(TemplateSource(dir), f.source);
    CopyAndSync(TemplateDest(dir), f.dest);
    return f;
}

void RemoveCopies(const Files& f) {
    QDir(QFileInfo(f.sourceFolder).path()).removeRecursively();
}

const std::vector<std::string> kTables = {"product", "trader"};

// ---- Results, passed from a child to the parent as one line "RESULT key=value ..."

using Result = std::map<std::string, double>;

void PrintResult(const Result& r) {
    std::string line = "RESULT";
    for (const auto& [key, value] : r) {
        char number[64];
        std::snprintf(number, sizeof number, "%.6f", value);
        line += " " + key + "=" + number;
    }
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

// ---- Children

struct ChildOptions {
    std::string mode;
    QString dir;
    long long rows = 0;
    bool hidden = false;
    bool keep = false;
    bool verify = true;
    // backup: copy the files byte for byte before the backup is made rather than after it.
    bool fileCopyFirst = false;
    // backup: also time the backup's parts one by one.
    bool parts = false;
    // The engine's commit batch, when given (rows, milliseconds): for trying other sizes.
    std::optional<std::pair<int64_t, int>> batch;
};

// How many values of the copied tables differ from the source's; 0 when not verifying.
long long CopiedTablesDiffer(const ChildOptions& o, const Files& f) {
    long long diff = 0;
    for (const std::string& table : kTables) {
        diff += o.verify ? Differences(f.dest, f.source, table) : 0;
    }
    return diff;
}

// Notes the differences found and removes the copies, unless they are to be kept.
void Finish(Result& r, long long diff, const ChildOptions& o, const Files& f) {
    r["diff"] = static_cast<double>(diff);
    if (!o.keep) {
        RemoveCopies(f);
    }
}

// (a) SQLite's own copy. The connection gets the same page cache as the engine gives a
// connection that writes, so that the two differ only in how the rows travel.
Result RunBaseline(const ChildOptions& o) {
    const Files f = FreshCopies(o.dir, QStringLiteral("baseline"));
    Result r;
    ResetPeak();
    const long rss0 = StatusKiB("VmRSS");
    const auto cpu0 = CpuSeconds();
    const double written0 = WrittenMiB();
    double total = 0;
    {
        Sqlite db(f.dest);
        db.Exec("PRAGMA cache_size = -65536");
        db.Exec("ATTACH DATABASE '" + Local(f.source) + "' AS src");
        for (const std::string& table : kTables) {
            const std::string columns = Joined([&] {
                std::vector<std::string> quoted;
                for (const std::string& c : SharedColumns(db, table)) {
                    quoted.push_back(Quoted(c));
                }
                return quoted;
            }());
            const auto start = Clock::now();
            db.Exec("BEGIN");
            db.Exec("DELETE FROM main." + Quoted(table));
            db.Exec("INSERT INTO main." + Quoted(table) + " (" + columns + ") SELECT " + columns +
                    " FROM src." + Quoted(table));
            db.Exec("COMMIT");
            const double seconds = SecondsSince(start);
            r["sec_" + table] = seconds;
            total += seconds;
        }
    }
    r["sec"] = total;
    r["growth_kib"] = static_cast<double>(StatusKiB("VmHWM") - rss0);
    r["user_s"] = CpuSeconds().first - cpu0.first;
    r["sys_s"] = CpuSeconds().second - cpu0.second;
    r["written_mib"] = WrittenMiB() - written0;
    Finish(r, CopiedTablesDiffer(o, f), o, f);
    return r;
}

// Counts the paint events a widget receives.
class PaintCounter : public QObject {
public:
    explicit PaintCounter(QWidget* widget) { widget->installEventFilter(this); }
    int count = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            ++count;
        }
        return QObject::eventFilter(watched, event);
    }
};

// The CPU time this thread has used so far. Unlike the time on the clock it does not grow while
// another process has the CPU.
double ThreadCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// Times what the window spends painting: every update request (the event that paints the
// dirty part of a window into its backing store and flushes it to the screen, whether posted for
// later or sent at once by a repaint) is handled here, by the window itself, with the thread's
// CPU clock around it. Painting runs on the copy's thread and waits for nothing on the offscreen
// platform, so this is what it takes from the copy.
class PaintTimer : public QObject {
public:
    PaintTimer() { QCoreApplication::instance()->installEventFilter(this); }
    double seconds = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::UpdateRequest || inside_ || !watched->isWidgetType()) {
            return QObject::eventFilter(watched, event);
        }
        inside_ = true;
        const double start = ThreadCpuSeconds();
        watched->event(event);
        seconds += ThreadCpuSeconds() - start;
        inside_ = false;
        return true;
    }

private:
    bool inside_ = false;
};

// The longest time the window's thread went without turning to its events: a timer that would
// fire every 5 ms notes the gaps between its firings. What it finds is how long the window stood
// frozen, whatever held it (a copy, a statement, a commit).
class PauseMeter : public QObject {
public:
    PauseMeter() {
        timer_.setInterval(5);
        QObject::connect(&timer_, &QTimer::timeout, this,
                         [this] { longestMs = std::max(longestMs, clock_.restart()); });
    }
    void Start() {
        longestMs = 0;
        clock_.start();
        timer_.start();
    }
    // Ends the measurement; the time since the last firing counts as a pause too.
    void Stop() {
        timer_.stop();
        longestMs = std::max(longestMs, clock_.elapsed());
    }
    qint64 longestMs = 0;

private:
    QTimer timer_;
    QElapsedTimer clock_;
};

// What the window does during a measurement: the paints of the bar and of the log, the time
// spent painting and the longest pause.
class WindowMeters {
public:
    explicit WindowMeters(Form1& form)
        : barPaints_(form.ProgressBar1(0)), logPaints_(form.Text1()->viewport()) {}
    void Start() {
        barPaints_.count = 0;
        logPaints_.count = 0;
        painting_.seconds = 0;
        pause_.Start();
    }
    void Stop(Result& r) {
        pause_.Stop();
        r["pause_ms"] = static_cast<double>(pause_.longestMs);
        r["bar_paints"] = barPaints_.count;
        r["log_paints"] = logPaints_.count;
        r["paint_s"] = painting_.seconds;
    }

private:
    PaintCounter barPaints_;
    PaintCounter logPaints_;
    PaintTimer painting_;
    PauseMeter pause_;
};

void ShowAndSettle(Form1& form) {
    form.show();
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 2000 &&
           !(form.windowHandle() != nullptr && form.windowHandle()->isExposed())) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    // Lets the first full paint happen before anything is measured.
    for (int i = 0; i < 10; ++i) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
}

// (b) CopyData for each table through the window. The copies run inside the window's run state
// (entered through Start with nothing ticked: its one message box runs them), so the window
// paints as it does during a real run.
Result RunCopy(const ChildOptions& o, int argc, char** argv) {
    const Files f =
        FreshCopies(o.dir, o.hidden ? QStringLiteral("copy-hidden") : QStringLiteral("copy"));
    QApplication app(argc, argv);
    BenchPlatform platform;
    platform.runsFolder = f.runs;
    Form1 form(platform);
    form.Form_Load();
    WindowMeters meters(form);
    if (!o.hidden) {
        ShowAndSettle(form);
    }

    dao::DatabaseHandle source;
    dao::DatabaseHandle dest;
    Result r;
    long rss0 = 0;
    platform.onMsgBox = [&] {
        // Opened in the run state, as a run opens them: with the window's busy callback in force,
        // so that whole-table statements and commits run on a worker thread while it paints.
        dao::EngineOptions options = *dao::EngineOptionsScope::Current();
        if (o.batch) {
            options.batches = {o.batch->first, std::chrono::milliseconds(o.batch->second)};
        }
        const dao::EngineOptionsScope opening(options);
        if (!MyOpenDB(platform, source, f.source, 0) || !MyOpenDB(platform, dest, f.dest, 0)) {
            Fail("cannot open the databases");
        }
        meters.Start();
        ResetPeak();
        rss0 = StatusKiB("VmRSS");
        const auto cpu0 = CpuSeconds();
        const double written0 = WrittenMiB();
        double total = 0;
        for (const std::string& table : kTables) {
            const auto start = Clock::now();
            form.conversion().CopyData(source, dest, QString::fromStdString(table));
            const double seconds = SecondsSince(start);
            r["sec_" + table] = seconds;
            total += seconds;
        }
        r["sec"] = total;
        meters.Stop(r);
        r["growth_kib"] = static_cast<double>(StatusKiB("VmHWM") - rss0);
        r["user_s"] = CpuSeconds().first - cpu0.first;
        r["sys_s"] = CpuSeconds().second - cpu0.second;
        r["written_mib"] = WrittenMiB() - written0;
    };
    form.Command1_Click();
    // The one box is Start's own "select a table"; any other is a failure the copy reported.
    r["boxes"] = static_cast<double>(platform.boxes.size()) - 1;
    CloseObject(source);
    CloseObject(dest);
    r["peak_kib"] = static_cast<double>(StatusKiB("VmHWM"));

    Finish(r, CopiedTablesDiffer(o, f), o, f);
    return r;
}

// (c) A whole run: both boxes ticked, Start, password, Yes.
// A rehearsal of the same run in the same window: copies of both files, the run on them, the
// copies removed, the originals hashed again. It must end with the rehearsal's own box, saying a
// run would complete and the originals did not change.
Result RunRehearsal(const ChildOptions& o, int argc, char** argv) {
    const Files f = FreshCopies(o.dir, QStringLiteral("rehearse"));
    QApplication app(argc, argv);
    BenchPlatform platform;
    platform.runsFolder = f.runs;
    platform.settings[{SourceSettingsApp(), SettingsSection(), SettingsKey()}] = f.sourceFolder;
    platform.settings[{DestSettingsApp(), SettingsSection(), SettingsKey()}] = f.destFolder;
    Form1 form(platform);
    form.SetRehearsal(true);
    form.Form_Load();
    form.Check1(0)->setChecked(true);
    form.Check1(1)->setChecked(true);
    ShowAndSettle(form);
    const QByteArray sourceSha = FileSha256(f.source);
    const QByteArray destSha = FileSha256(f.dest);

    Result r;
    const auto start = Clock::now();
    form.Command1_Click();
    r["sec"] = SecondsSince(start);
    const bool clean =
        platform.boxes.size() == 1 &&
        platform.boxes.back().startsWith(QStringLiteral("미리 해보기 결과: 실제 작업은 오류 없이")) &&
        platform.boxes.back().endsWith(QStringLiteral("실제 파일은 바뀌지 않았습니다."));
    r["boxes"] = clean ? 0 : static_cast<double>(std::max<size_t>(platform.boxes.size(), 1));
    r["diff"] = FileSha256(f.source) == sourceSha && FileSha256(f.dest) == destSha ? 0 : 1;
    RemoveCopies(f);
    return r;
}

Result RunWhole(const ChildOptions& o, int argc, char** argv) {
    if (o.mode == "rehearse") {
        return RunRehearsal(o, argc, argv);
    }
    const Files f = FreshCopies(o.dir, QStringLiteral("run"));
    QApplication app(argc, argv);
    BenchPlatform platform;
    platform.password = QStringLiteral("kolum482");
    platform.runsFolder = f.runs;
    platform.settings[{SourceSettingsApp(), SettingsSection(), SettingsKey()}] = f.sourceFolder;
    platform.settings[{DestSettingsApp(), SettingsSection(), SettingsKey()}] = f.destFolder;
    Form1 form(platform);
    form.Form_Load();
    form.Check1(0)->setChecked(true);
    form.Check1(1)->setChecked(true);
    WindowMeters meters(form);
    ShowAndSettle(form);

    Result r;
    ResetPeak();
    const long rss0 = StatusKiB("VmRSS");
    const auto start = Clock::now();
    meters.Start();
    form.Command1_Click();
    meters.Stop(r);
    r["sec"] = SecondsSince(start);
    r["growth_kib"] = static_cast<double>(StatusKiB("VmHWM") - rss0);
    // The confirmation, then the completion message; anything else is a reported failure.
    const bool clean = platform.boxes.size() == 2 &&
                       platform.boxes.back() == QStringLiteral("자료 교체가 완료 되었습니다.");
    // A run that made its backup says where it went; one that did not has not run as a user's does.
    const bool backedUp = form.Text1()->toPlainText().contains(QStringLiteral("백업: ") +
                                                               QDir::toNativeSeparators(f.runs));
    r["boxes"] =
        clean && backedUp ? 0 : static_cast<double>(std::max<size_t>(platform.boxes.size(), 1));
    // The run's end hashed both files again for its report, after the copy has grown the
    // destination; timed here once more, on the same files and as the run's end does it (both at
    // once, each on a thread of its own), to see what that took of the run.
    const auto hashed = Clock::now();
    for (const QByteArray& sha : FilesSha256({f.source, f.dest})) {
        if (sha.isEmpty()) {
            Fail("cannot hash " + Local(f.source) + " or " + Local(f.dest));
        }
    }
    r["sha_after_sec"] = SecondsSince(hashed);
    r["files_after_mib"] =
        static_cast<double>(QFileInfo(f.source).size() + QFileInfo(f.dest).size()) / 1048576.0;

    // The recipes rewrite only destination columns, except HPhone, which becomes '' where the
    // source has none; the source's own unit fix happened in this run's source too.
    long long diff = 0;
    if (o.verify) {
        diff += Differences(f.dest, f.source, "product");
        diff += Differences(f.dest, f.source, "trader", {{"hphone", "ifnull(\"hphone\", '')"}});
    }
    Finish(r, diff, o, f);
    return r;
}

// ---- The run's backup against copying the files once

// What a products and traders run changes in each file, found as the run finds it: the source
// tables of the source's statements, every other step's table in the destination.
std::vector<FileToBackUp> FilesToBackUp(dao::DatabaseHandle& source, dao::DatabaseHandle& dest) {
    QStringList sourceTables;
    QStringList destTables;
    for (const Recipe& recipe : AllRecipes()) {
        for (const RecipeStep& step : recipe.steps) {
            QStringList& tables = step.database == StepDatabase::Source ? sourceTables : destTables;
            if (!tables.contains(step.tableName)) {
                tables << step.tableName;
            }
        }
    }
    return {{kSourceProduct, &source, sourceTables}, {kDestProduct, &dest, destTables}};
}

// Copies a file byte for byte through this process, 1 MiB at a time, and syncs the copy: the
// plain way to copy a file once, and like the backup in what it does with the bytes (they pass
// through the program, and the copy is on the disk when it returns; SQLite syncs the backup as
// it commits it).
void CopyThroughBuffer(const QString& from, const QString& to) {
    QFile in(from);
    QFile out(to);
    if (!in.open(QIODevice::ReadOnly) || !out.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        Fail("cannot copy " + Local(from) + " to " + Local(to));
    }
    std::vector<char> buffer(1 << 20);
    for (;;) {
        const qint64 got = in.read(buffer.data(), static_cast<qint64>(buffer.size()));
        if (got < 0) {
            Fail("cannot read " + Local(from));
        }
        if (got == 0) {
            break;
        }
        if (out.write(buffer.data(), got) != got) {
            Fail("cannot write " + Local(to));
        }
    }
    if (!out.flush() || ::fsync(out.handle()) != 0) {
        Fail("cannot sync " + Local(to));
    }
}

// The backup's steps one at a time, on the same open files, in the order it takes them: the
// originals' SHA-256 and row counts, the online backup, then the verification's open (which runs
// SQLite's quick check) and its row counts.
void TimeBackupParts(const std::vector<FileToBackUp>& files, const QString& scratch, Result& r) {
    QDir().mkpath(scratch);
    std::vector<RowCounts> counts(files.size());
    std::vector<QString> copies;
    auto start = Clock::now();
    for (const FileToBackUp& file : files) {
        if (FileSha256((*file.db)->Name()).isEmpty()) {
            Fail("cannot hash " + Local((*file.db)->Name()));
        }
    }
    r["part_sha_sec"] = SecondsSince(start);
    start = Clock::now();
    for (size_t i = 0; i < files.size(); ++i) {
        for (const QString& table : files[i].tables) {
            counts[i][table] = TableRowCount(*files[i].db, table);
        }
    }
    r["part_count_sec"] = SecondsSince(start);
    start = Clock::now();
    for (const FileToBackUp& file : files) {
        copies.push_back(scratch + QLatin1Char('/') + file.product + QStringLiteral(".db"));
        (*file.db)->BackupTo(copies.back());
    }
    r["part_copy_sec"] = SecondsSince(start);
    start = Clock::now();
    for (const QString& copy : copies) {
        dao::DatabaseHandle opened(ProcessEngine().OpenDatabase(copy));
        CloseObject(opened);
    }
    r["part_open_sec"] = SecondsSince(start);
    start = Clock::now();
    for (size_t i = 0; i < copies.size(); ++i) {
        if (const std::optional<QString> problem = VerifyDatabaseCopy(copies[i], counts[i])) {
            Fail("the copy " + Local(copies[i]) + " is not sound: " + Local(*problem));
        }
    }
    // The verification opens the copy again, so its row counts are what it took beyond an open.
    r["part_verify_count_sec"] = std::max(0.0, SecondsSince(start) - r["part_open_sec"]);
    QDir(scratch).removeRecursively();
}

// (d) The backup a products and traders run makes before its first change, alone: both files
// opened through the engine as the run opens them, then RunRecord::BackUp with the tables the
// run changes. And, in the same process on the same files, the same two files copied once.
Result RunBackup(const ChildOptions& o, int argc, char** argv) {
    const Files f = FreshCopies(o.dir, QStringLiteral("backup"));
    QCoreApplication app(argc, argv);
    // The window runs the backup with a busy callback in force, which sends the online backup and
    // the quick check to a worker thread and has the caller wait on the originals' hashing while
    // it handles its events; the same here, with no window to paint.
    const dao::EngineOptionsScope busy(
        dao::WithBusyCallback([] { QCoreApplication::processEvents(); }));
    PauseMeter pause;
    BenchPlatform platform;
    platform.runsFolder = f.runs;
    dao::DatabaseHandle source;
    dao::DatabaseHandle dest;
    if (!MyOpenDB(platform, source, f.source, 0) || !MyOpenDB(platform, dest, f.dest, 0)) {
        Fail("cannot open the databases");
    }
    const std::vector<FileToBackUp> files = FilesToBackUp(source, dest);
    const QString copies = QFileInfo(f.sourceFolder).path() + QStringLiteral("/file-copy");

    Result r;
    const auto backUp = [&] {
        RunRecord record(kBuildVersion);
        const auto start = Clock::now();
        pause.Start();
        if (const std::optional<RunRecord::Failure> failure =
                record.BackUp(platform.runsFolder, files)) {
            Fail("backup failed: " + Local(failure->folder) + ": " + Local(failure->cause));
        }
        pause.Stop();
        r["sec"] = SecondsSince(start);
        r["pause_ms"] = static_cast<double>(pause.longestMs);
        qint64 bytes = 0;
        for (const FileToBackUp& file : files) {
            BackedUpFile backedUp;
            backedUp.product = file.product;
            bytes +=
                QFileInfo(QDir(record.Folder()).filePath(backedUp.RelativeBackupPath())).size();
        }
        r["backup_mib"] = static_cast<double>(bytes) / 1048576.0;
        // Each backup holds a whole source: it goes as soon as it has been measured.
        QDir(record.Folder()).removeRecursively();
    };
    const auto copyOnce = [&] {
        QDir().mkpath(copies);
        const auto start = Clock::now();
        for (const FileToBackUp& file : files) {
            CopyThroughBuffer((*file.db)->Name(), copies + QLatin1Char('/') + file.product);
        }
        r["file_copy_sec"] = SecondsSince(start);
        QDir(copies).removeRecursively();
    };
    if (o.fileCopyFirst) {
        copyOnce();
        backUp();
    } else {
        backUp();
        copyOnce();
    }
    r["file_mib"] =
        static_cast<double>(QFileInfo(f.source).size() + QFileInfo(f.dest).size()) / 1048576.0;
    if (o.parts) {
        TimeBackupParts(files, QFileInfo(f.sourceFolder).path() + QStringLiteral("/parts"), r);
    }
    CloseObject(source);
    CloseObject(dest);
    r["growth_kib"] = 0;
    Finish(r, 0, o, f);
    return r;
}

int RunChild(const ChildOptions& o, int argc, char** argv) {
    Result r;
    if (o.mode == "baseline") {
        r = RunBaseline(o);
    } else if (o.mode == "copy") {
        r = RunCopy(o, argc, argv);
    } else if (o.mode == "run" || o.mode == "rehearse") {
        r = RunWhole(o, argc, argv);
    } else if (o.mode == "backup") {
        r = RunBackup(o, argc, argv);
    } else {
        Fail("unknown child mode " + o.mode);
    }
    r["rows"] = static_cast<double>(o.rows + o.rows / 2);
    PrintResult(r);
    return 0;
}

// ---- Parent

struct Options {
    std::vector<long long> sizes = {10000, 100000, 1000000};
    QString work;
    int repeat = 0;  // 0: chosen by size
    bool keep = false;
};

Result Spawn(const QStringList& args) {
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(), args);
    if (!child.waitForFinished(-1) || child.exitStatus() != QProcess::NormalExit ||
        child.exitCode() != 0) {
        Fail("child " + Local(args.join(QLatin1Char(' '))) + " failed");
    }
    Result r;
    const QString out = QString::fromUtf8(child.readAllStandardOutput());
    for (const QString& line : out.split(QLatin1Char('\n'))) {
        if (!line.startsWith(QStringLiteral("RESULT "))) {
            continue;
        }
        for (const QString& pair : line.mid(7).split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            const qsizetype eq = pair.indexOf(QLatin1Char('='));
            r[Local(pair.left(eq))] = pair.mid(eq + 1).toDouble();
        }
    }
    if (r.empty()) {
        Fail("child " + Local(args.join(QLatin1Char(' '))) + " printed no result");
    }
    // The child removed its copies: their blocks are given back before the next one starts.
    ::sync();
    ::sleep(1);
    return r;
}

// The fastest of the repeats, and the largest memory growth, differences and pause of any; "cpu" is
// the least CPU time (user and system) of any, "paint_share" the largest share of its time that
// any spent painting.
Result Best(const std::vector<Result>& runs) {
    Result best = runs.front();
    double cpu = -1;
    double paintShare = 0;
    for (const Result& r : runs) {
        if (r.count("user_s") != 0) {
            const double used = r.at("user_s") + r.at("sys_s");
            cpu = cpu < 0 ? used : std::min(cpu, used);
        }
        if (r.count("paint_s") != 0) {
            paintShare = std::max(paintShare, r.at("paint_s") / r.at("sec"));
        }
        if (r.at("sec") < best.at("sec")) {
            const double growth = best["growth_kib"];
            const double diff = best["diff"];
            const double boxes = best["boxes"];
            const double pause = best["pause_ms"];
            best = r;
            best["growth_kib"] = growth;
            best["diff"] = diff;
            best["boxes"] = boxes;
            best["pause_ms"] = pause;
        }
        best["pause_ms"] = std::max(best["pause_ms"], r.count("pause_ms") ? r.at("pause_ms") : 0.0);
        best["growth_kib"] = std::max(best["growth_kib"], r.at("growth_kib"));
        best["diff"] = std::max(best["diff"], r.at("diff"));
        best["boxes"] = std::max(best["boxes"], r.count("boxes") ? r.at("boxes") : 0.0);
    }
    best["cpu"] = cpu;
    best["paint_share"] = paintShare;
    return best;
}

struct Row {
    long long n = 0;
    long long rows = 0;
    int repeats = 0;
    double sourceTableMiB = 0;
    double sourceFileMiB = 0;
    Result baseline, copy, hidden, run;
    std::string spread;  // every repeat's seconds, for judging the noise
    // The backup alone and the two files copied once: the least of the repeats each. The parts
    // of the backup, timed once (in the first repeat).
    double backupSec = 0;
    double fileCopySec = 0;
    double fileMiB = 0;
    double backupPauseMs = 0;  // the worst of the repeats
    Result parts;
    std::string backupSpread;
};

std::string Seconds(const std::vector<Result>& runs) {
    std::string out;
    for (const Result& r : runs) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%s%.2f", out.empty() ? "" : " ", r.at("sec"));
        out += buf;
    }
    return out;
}

// What painting adds to the copy by comparison with the hidden window: the CPU time that the
// shown window's copy used beyond the hidden one's (least of the repeats each), over the hidden
// copy's time. Painting runs on the copy's own thread, so what it costs is CPU time, which grows
// less than the time on the clock when another process holds the CPU or the disk.
double PaintingCpuShare(const Row& row) {
    return (row.copy.at("cpu") - row.hidden.at("cpu")) / row.hidden.at("sec");
}

std::string Fmt(const char* format, double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, format, v);
    return buf;
}

std::string Grouped(double v) {
    const std::string digits = std::to_string(static_cast<long long>(v + 0.5));
    std::string out;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) {
            out += ',';
        }
        out += digits[i];
    }
    return out;
}

int RunParent(const Options& o) {
    std::optional<QTemporaryDir> tmp;
    QString root = o.work;
    if (root.isEmpty()) {
        tmp.emplace(QDir::temp().filePath(QStringLiteral("copy_bench-XXXXXX")));
        if (!tmp->isValid()) {
            Fail("cannot create a temporary folder");
        }
        tmp->setAutoRemove(!o.keep);
        root = tmp->path();
    }
    std::printf("copy_bench: files under %s\n", qUtf8Printable(root));
    // Qt wants a private runtime folder; without one each child would warn that it made its own.
    std::optional<QTemporaryDir> runtime;
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) {
        runtime.emplace();
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime->path()));
    }
    std::vector<Row> table;
    bool allEqual = true;
    for (const long long n : o.sizes) {
        Row row;
        row.n = n;
        row.rows = n + n / 2;
        row.repeats = o.repeat > 0 ? o.repeat : (n >= 1000000 ? 3 : 5);
        const QString dir = root + QStringLiteral("/n") + QString::number(n);
        if (!QFileInfo::exists(TemplateSource(dir)) || !QFileInfo::exists(TemplateDest(dir))) {
            QDir().mkpath(dir + QStringLiteral("/template"));
            const auto start = Clock::now();
            WriteSourceDatabase(TemplateSource(dir), {n, n / 2, true}, kDemoSeed);
            WriteDestDatabase(TemplateDest(dir),
                              {kDemoDestSize.products, kDemoDestSize.traders, true}, kDemoSeed);
            std::printf("N=%lld: generated in %.1f s\n", n, SecondsSince(start));
        }
        row.sourceTableMiB = static_cast<double>(TableBytes(TemplateSource(dir), "product") +
                                                 TableBytes(TemplateSource(dir), "trader")) /
                             1048576.0;
        row.sourceFileMiB = static_cast<double>(QFileInfo(TemplateSource(dir)).size()) / 1048576.0;
        std::fflush(stdout);

        const QStringList common = {QStringLiteral("--rows"), QString::number(n),
                                    QStringLiteral("--dir"), dir};
        std::vector<Result> baselines, copies, hiddens, runs, backups;
        for (int i = 0; i < row.repeats; ++i) {
            // Interleaved, so that a slow spell of the machine hits all four alike, in turned
            // order every other time. The copies are checked against the source the first time.
            QStringList args = common;
            if (i > 0) {
                args << QStringLiteral("--no-verify");
            }
            const auto baseline = [&] {
                baselines.push_back(Spawn(
                    QStringList{QStringLiteral("--child"), QStringLiteral("baseline")} + args));
            };
            const auto copy = [&] {
                copies.push_back(
                    Spawn(QStringList{QStringLiteral("--child"), QStringLiteral("copy")} + args));
            };
            const auto hidden = [&] {
                hiddens.push_back(
                    Spawn(QStringList{QStringLiteral("--child"), QStringLiteral("copy"),
                                      QStringLiteral("--hidden")} +
                          args));
            };
            // The backup and the file copy in turned order too, inside their one child.
            const auto backup = [&] {
                QStringList backupArgs = {QStringLiteral("--child"), QStringLiteral("backup")};
                if (i % 2 != 0) {
                    backupArgs << QStringLiteral("--file-copy-first");
                }
                if (i == 0) {
                    backupArgs << QStringLiteral("--parts");
                }
                backups.push_back(Spawn(backupArgs + args));
            };
            if (i % 2 == 0) {
                baseline();
                copy();
                hidden();
                backup();
            } else {
                backup();
                hidden();
                copy();
                baseline();
            }
            std::printf(
                "N=%lld #%d: baseline %.2f s, copy %.2f s, copy (hidden) %.2f s, backup %.2f s, "
                "file copy %.2f s\n",
                n, i + 1, baselines.back().at("sec"), copies.back().at("sec"),
                hiddens.back().at("sec"), backups.back().at("sec"),
                backups.back().at("file_copy_sec"));
            std::fflush(stdout);
        }
        runs.push_back(
            Spawn(QStringList{QStringLiteral("--child"), QStringLiteral("run")} + common));
        std::printf("N=%lld: run %.2f s\n", n, runs.back().at("sec"));
        // The rehearsal against the run it rehearses, on the same files in turn.
        const Result rehearsal =
            Spawn(QStringList{QStringLiteral("--child"), QStringLiteral("rehearse")} + common);
        std::printf("N=%lld: rehearsal %.2f s = %.2fx the run (copies of both files, the run on "
                    "them, the originals hashed again)%s\n",
                    n, rehearsal.at("sec"), rehearsal.at("sec") / runs.back().at("sec"),
                    rehearsal.at("boxes") == 0 && rehearsal.at("diff") == 0
                        ? ""
                        : " -- DID NOT END AS A CLEAN REHEARSAL");
        allEqual = allEqual && rehearsal.at("boxes") == 0 && rehearsal.at("diff") == 0;
        row.spread = "baseline " + Seconds(baselines) + "; copy " + Seconds(copies) + "; hidden " +
                     Seconds(hiddens);
        row.baseline = Best(baselines);
        row.copy = Best(copies);
        row.hidden = Best(hiddens);
        row.run = Best(runs);
        row.backupSec = backups.front().at("sec");
        row.fileCopySec = backups.front().at("file_copy_sec");
        for (const Result& r : backups) {
            row.backupSec = std::min(row.backupSec, r.at("sec"));
            row.fileCopySec = std::min(row.fileCopySec, r.at("file_copy_sec"));
            row.backupPauseMs = std::max(row.backupPauseMs, r.at("pause_ms"));
            char buf[64];
            std::snprintf(buf, sizeof buf, "%s%.2f/%.2f", row.backupSpread.empty() ? "" : " ",
                          r.at("sec"), r.at("file_copy_sec"));
            row.backupSpread += buf;
        }
        row.fileMiB = backups.front().at("file_mib");
        row.parts = backups.front();
        for (const Result* r : {&row.baseline, &row.copy, &row.hidden, &row.run}) {
            allEqual =
                allEqual && r->at("diff") == 0 && (r->count("boxes") == 0 || r->at("boxes") == 0);
        }
        table.push_back(row);
        if (!o.keep) {
            QDir(dir).removeRecursively();
        }
    }

    std::printf(
        "\nRows per second, best of the repeats; ratios are against the baseline of the "
        "same N in this run.\n\n");
    std::printf(
        "| N products (+N/2 traders) | baseline rows/s | CopyData rows/s | CopyData / baseline "
        "time | Start run rows/s | run / baseline time | source tables MiB | peak growth MiB "
        "(x tables) | bar paints/s | log paints/s | time painting (shown vs hidden: CPU; clock) | "
        "longest pause ms (copy; run) | equal |\n");
    std::printf("|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---|\n");
    for (const Row& row : table) {
        const double rows = static_cast<double>(row.rows);
        const double growthMiB = row.copy.at("growth_kib") / 1024.0;
        const bool equal = row.baseline.at("diff") == 0 && row.copy.at("diff") == 0 &&
                           row.hidden.at("diff") == 0 && row.run.at("diff") == 0 &&
                           row.copy.at("boxes") == 0 && row.hidden.at("boxes") == 0 &&
                           row.run.at("boxes") == 0;
        std::printf(
            "| %s | %s | %s | %s | %s | %s | %s | %s (%s) | %s | %s | %s (%s; %s) | %s; %s | %s "
            "|\n",
            Grouped(static_cast<double>(row.n)).c_str(),
            Grouped(rows / row.baseline.at("sec")).c_str(),
            Grouped(rows / row.copy.at("sec")).c_str(),
            Fmt("%.2fx", row.copy.at("sec") / row.baseline.at("sec")).c_str(),
            Grouped(rows / row.run.at("sec")).c_str(),
            Fmt("%.2fx", row.run.at("sec") / row.baseline.at("sec")).c_str(),
            Fmt("%.1f", row.sourceTableMiB).c_str(), Fmt("%.1f", growthMiB).c_str(),
            Fmt("%.2fx", growthMiB / row.sourceTableMiB).c_str(),
            Fmt("%.1f", row.copy.at("bar_paints") / row.copy.at("sec")).c_str(),
            Fmt("%.1f", row.copy.at("log_paints") / row.copy.at("sec")).c_str(),
            Fmt("%.1f%%", 100.0 * row.copy.at("paint_share")).c_str(),
            Fmt("%+.1f%%", 100.0 * PaintingCpuShare(row)).c_str(),
            Fmt("%+.1f%%", 100.0 * (row.copy.at("sec") / row.hidden.at("sec") - 1.0)).c_str(),
            Fmt("%.0f", row.copy.at("pause_ms")).c_str(),
            Fmt("%.0f", row.run.at("pause_ms")).c_str(), equal ? "yes" : "NO");
    }

    std::printf(
        "\nThe run's backup (both files: RunRecord::BackUp as a products and traders run makes "
        "it) against copying the same two files once (read and written 1 MiB at a time, then "
        "synced), in the same child; least of the repeats each.\n\n");
    std::printf(
        "| N products (+N/2 traders) | files MiB (source + destination) | file copy s | backup s | "
        "backup / file copy | backup's longest pause ms | Start run s | backup / run | run / "
        "baseline time | run without backup / baseline |\n");
    std::printf("|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n");
    for (const Row& row : table) {
        const double run = row.run.at("sec");
        std::printf("| %s | %s | %s | %s | %s | %s | %s | %s | %s | %s |\n",
                    Grouped(static_cast<double>(row.n)).c_str(), Fmt("%.1f", row.fileMiB).c_str(),
                    Fmt("%.2f", row.fileCopySec).c_str(), Fmt("%.2f", row.backupSec).c_str(),
                    Fmt("%.2fx", row.backupSec / row.fileCopySec).c_str(),
                    Fmt("%.0f", row.backupPauseMs).c_str(), Fmt("%.1f", run).c_str(),
                    Fmt("%.1f%%", 100.0 * row.backupSec / run).c_str(),
                    Fmt("%.2fx", run / row.baseline.at("sec")).c_str(),
                    Fmt("%.2fx", (run - row.backupSec) / row.baseline.at("sec")).c_str());
    }
    std::printf(
        "\nThe backup's parts, timed one by one in the first repeat's child (seconds, both "
        "files); the backup hashes the originals while it does the rest, so the parts need not "
        "add up to it:\n\n");
    std::printf(
        "| N products (+N/2 traders) | backup s | SHA-256 of the originals (alone, one file after "
        "the other) | row counts of the "
        "originals | online backup | verification: open (quick check) | verification: row "
        "counts |\n");
    std::printf("|---:|---:|---:|---:|---:|---:|---:|\n");
    for (const Row& row : table) {
        const Result& p = row.parts;
        std::printf(
            "| %s | %s | %s | %s | %s | %s | %s |\n", Grouped(static_cast<double>(row.n)).c_str(),
            Fmt("%.2f", p.at("sec")).c_str(), Fmt("%.2f", p.at("part_sha_sec")).c_str(),
            Fmt("%.2f", p.at("part_count_sec")).c_str(), Fmt("%.2f", p.at("part_copy_sec")).c_str(),
            Fmt("%.2f", p.at("part_open_sec")).c_str(),
            Fmt("%.2f", p.at("part_verify_count_sec")).c_str());
    }

    std::printf("\nDetails (seconds; product + trader):\n");
    for (const Row& row : table) {
        std::printf(
            "N=%lld (%d repeats): baseline %.3f + %.3f, copy %.3f + %.3f (hidden %.3f + %.3f), "
            "run %.3f; source file %.1f MiB; copy peak RSS %.1f MiB; run peak growth %.1f MiB; "
            "run bar paints/s %.1f, time painting %.1f%%\n",
            row.n, row.repeats, row.baseline.at("sec_product"), row.baseline.at("sec_trader"),
            row.copy.at("sec_product"), row.copy.at("sec_trader"), row.hidden.at("sec_product"),
            row.hidden.at("sec_trader"), row.run.at("sec"), row.sourceFileMiB,
            row.copy.at("peak_kib") / 1024.0, row.run.at("growth_kib") / 1024.0,
            row.run.at("bar_paints") / row.run.at("sec"),
            100.0 * row.run.at("paint_s") / row.run.at("sec"));
        std::printf(
            "    every repeat: %s; best copy CPU %.2f s user + %.2f s system (baseline %.2f + "
            "%.2f); written %.0f MiB (baseline %.0f MiB)\n",
            row.spread.c_str(), row.copy.at("user_s"), row.copy.at("sys_s"),
            row.baseline.at("user_s"), row.baseline.at("sys_s"), row.copy.at("written_mib"),
            row.baseline.at("written_mib"));
        std::printf(
            "    backup / file copy, every repeat: %s; backup files %.1f MiB; the run's files "
            "hashed again as its end does for the report (both at once): %.2f s for %.1f MiB\n",
            row.backupSpread.c_str(), row.parts.at("backup_mib"), row.run.at("sha_after_sec"),
            row.run.at("files_after_mib"));
    }

    std::printf("\nTargets:\n");
    const auto say = [](const std::string& what, bool met) {
        std::printf("  %-74s %s\n", what.c_str(), met ? "met" : "NOT MET");
    };
    const Row* r100k = nullptr;
    const Row* r1m = nullptr;
    for (const Row& row : table) {
        if (row.n == 100000) {
            r100k = &row;
        } else if (row.n == 1000000) {
            r1m = &row;
        }
        if (row.n >= 100000) {
            say("N=" + Grouped(static_cast<double>(row.n)) + ": copy within 3x the baseline's time",
                row.copy.at("sec") <= 3.0 * row.baseline.at("sec"));
        }
        say("N=" + Grouped(static_cast<double>(row.n)) +
                ": peak growth within 1.5x the source tables' size",
            row.copy.at("growth_kib") / 1024.0 <= 1.5 * row.sourceTableMiB);
        say("N=" + Grouped(static_cast<double>(row.n)) +
                ": progress bar painted >= 10 times a second",
            row.copy.at("bar_paints") / row.copy.at("sec") >= 10.0);
        say("N=" + Grouped(static_cast<double>(row.n)) +
                ": painting takes at most 5% of the copy's time",
            row.copy.at("paint_share") <= 0.05);
        say("N=" + Grouped(static_cast<double>(row.n)) +
                ": window never stands still for more than 250 ms (copy and run)",
            row.copy.at("pause_ms") <= 250 && row.run.at("pause_ms") <= 250);
    }
    if (r100k != nullptr && r1m != nullptr) {
        const double scale = r1m->copy.at("sec") / r100k->copy.at("sec");
        say("time linear in N: 1,000,000 within 12x of 100,000 (" + Fmt("%.2fx", scale) + ")",
            scale <= 12.0);
    }
    std::printf("\nCopied tables equal the source's (shared columns, values and types): %s\n",
                allEqual ? "yes" : "NO");
    return allEqual ? 0 : 1;
}

void Usage() {
    std::fprintf(stderr,
                 "usage: copy_bench [--sizes N,N,...] [--work DIR] [--repeat R] [--keep]\n"
                 "  --sizes   product counts (traders are half), default 10000,100000,1000000\n"
                 "  --work    folder for the generated files (default: a new temporary folder)\n"
                 "  --repeat  measurements per N, best taken (default 5, 3 from 1,000,000)\n"
                 "  --keep    keep the generated files\n"
                 "  --child baseline|copy|run|backup --rows N --dir DIR [--hidden]\n"
                 "          [--no-verify] [--batch ROWS:MS] [--file-copy-first] [--parts]:\n"
                 "            one measurement on the templates under DIR (kept by --keep),\n"
                 "            for profiling\n");
}

}  // namespace

int main(int argc, char** argv) {
    // The window is measured on the offscreen platform unless told otherwise.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    try {
        std::vector<std::string> args(argv + 1, argv + argc);
        ChildOptions child;
        Options options;
        for (size_t i = 0; i < args.size(); ++i) {
            const std::string& a = args[i];
            const auto next = [&]() -> std::string {
                if (i + 1 >= args.size()) {
                    Usage();
                    Fail(a + " needs a value");
                }
                return args[++i];
            };
            if (a == "--child") {
                child.mode = next();
            } else if (a == "--rows") {
                child.rows = std::stoll(next());
            } else if (a == "--dir") {
                child.dir = QString::fromStdString(next());
            } else if (a == "--hidden") {
                child.hidden = true;
            } else if (a == "--no-verify") {
                child.verify = false;
            } else if (a == "--file-copy-first") {
                child.fileCopyFirst = true;
            } else if (a == "--parts") {
                child.parts = true;
            } else if (a == "--batch") {
                const std::string value = next();
                const size_t colon = value.find(':');
                child.batch.emplace(std::stoll(value.substr(0, colon)),
                                    std::stoi(value.substr(colon + 1)));
            } else if (a == "--keep") {
                child.keep = true;
                options.keep = true;
            } else if (a == "--sizes") {
                options.sizes.clear();
                const std::string list = next();
                size_t start = 0;
                while (start <= list.size()) {
                    const size_t comma = std::min(list.find(',', start), list.size());
                    options.sizes.push_back(std::stoll(list.substr(start, comma - start)));
                    start = comma + 1;
                }
            } else if (a == "--work") {
                options.work = QString::fromStdString(next());
            } else if (a == "--repeat") {
                options.repeat = std::stoi(next());
            } else {
                Usage();
                return a == "--help" || a == "-h" ? 0 : 2;
            }
        }
        if (!child.mode.empty()) {
            return RunChild(child, argc, argv);
        }
        QCoreApplication app(argc, argv);
        return RunParent(options);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "copy_bench: %s\n", e.what());
        return 1;
    }
}
