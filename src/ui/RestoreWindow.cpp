#include "ui/RestoreWindow.h"

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QStringList>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <optional>

#include "conversion/RunFolder.h"
#include "ui/Form1.h"
#include "ui/InputBlocker.h"

// The icon lives in a static library; nothing else would pull its resource into the program.
static void InitRestoreResources() {
    Q_INIT_RESOURCE(app);
}

namespace {

// The main window's size and font, so that both windows of the tool look alike.
constexpr int kWidth = 589;
constexpr int kHeight = 379;
constexpr int kFontPixelSize = 12;

using text::kCrLf;
const QString kStampFormat = QStringLiteral("yyyyMMdd-HHmmss");

constexpr int kFolderRole = Qt::UserRole;
constexpr int kRestorableRole = Qt::UserRole + 1;

enum Column { kWhenColumn, kFilesColumn, kOutcomeColumn };

// "20261208-164918-2" reads "2026-12-08 16:49:18 (2)": the second run of that second.
QString WhenText(const QString& folder) {
    const QString name = QFileInfo(folder).fileName();
    const QDateTime when = QDateTime::fromString(name.left(kStampFormat.size()), kStampFormat);
    QString text = when.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    if (name.size() > kStampFormat.size() + 1) {
        text += QStringLiteral(" (%1)").arg(name.mid(kStampFormat.size() + 1));
    }
    return text;
}

struct RunEntry {
    QString folder;
    QString when;
    QString files;
    QString outcome;
    bool restorable = false;
};

RunEntry ReadEntry(const QString& folder) {
    RunEntry entry;
    entry.folder = folder;
    entry.when = WhenText(folder);
    if (const std::optional<RunManifest> manifest = ReadManifest(folder);
        manifest && !manifest->files.empty()) {
        QStringList products;
        bool complete = true;
        for (const BackedUpFile& file : manifest->files) {
            products << file.product;
            complete =
                complete && QFileInfo(QDir(folder).filePath(file.RelativeBackupPath())).isFile();
        }
        entry.files = products.join(QStringLiteral(", "));
        if (!complete) {
            entry.files += QLatin1Char(' ') + RestoreWindow::kBackupNotFound;
        }
        entry.restorable = complete;
    } else {
        entry.files = RestoreWindow::kNoManifest;
    }
    if (const std::optional<QString> outcome = ReadReportOutcome(folder)) {
        entry.outcome = *outcome;
    } else if (QFileInfo(QDir(folder).filePath(kReportName)).isFile()) {
        entry.outcome = RestoreWindow::kNoOutcome;
    } else {
        entry.outcome = RestoreWindow::kNoReport;
    }
    return entry;
}

}  // namespace

const QString RestoreWindow::kCaptionSuffix = QStringLiteral(" - 복원");
const QString RestoreWindow::kNoReport = QStringLiteral("(보고서 없음)");
const QString RestoreWindow::kNoOutcome =
    QStringLiteral("(결과 없음: 중단된 작업이거나 보고서 손상)");
const QString RestoreWindow::kNoManifest = QStringLiteral("(백업 정보 없음: 복원할 수 없음)");
const QString RestoreWindow::kBackupNotFound = QStringLiteral("(백업 파일 없음: 복원할 수 없음)");

RestoreWindow::RestoreWindow(Platform& platform, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint),
      platform_(platform),
      clock_([] { return QDateTime::currentDateTime(); }) {
    InitRestoreResources();
    const AppVersion version = platform_.Version();
    setWindowTitle(Form1::kDesignCaption + kCaptionSuffix + QStringLiteral(" ver.") +
                   QString::number(version.Major) + QLatin1Char('.') +
                   QString::number(version.Minor) + QLatin1Char('.') +
                   QString::number(version.Revision));
    setWindowIcon(QIcon(QStringLiteral(":/app.ico")));
    setFixedSize(kWidth, kHeight);

    QFont font = this->font();
    font.setPixelSize(kFontPixelSize);
    setFont(font);

    auto* note = new QLabel(
        QStringLiteral("작업을 실행하기 전에 백업한 파일로 Dorvik과 SolvanePlus의 데이터베이스를 "
                       "되돌립니다.") +
            QLatin1Char('\n') +
            QStringLiteral(" - 되돌릴 작업을 고르고 복원을 누르세요. Dorvik과 SolvanePlus "
                           "프로그램은 닫아 두세요."),
        this);
    note->setObjectName(QStringLiteral("Note"));
    note->setTextFormat(Qt::PlainText);

    runList_ = new QTreeWidget(this);
    runList_->setObjectName(QStringLiteral("RunList"));
    runList_->setColumnCount(3);
    runList_->setHeaderLabels(
        {QStringLiteral("실행 시각"), QStringLiteral("백업한 파일"), QStringLiteral("결과")});
    runList_->setRootIsDecorated(false);
    runList_->setSelectionMode(QAbstractItemView::SingleSelection);
    runList_->setAllColumnsShowFocus(true);
    runList_->header()->setStretchLastSection(true);
    runList_->setColumnWidth(kWhenColumn, 160);
    runList_->setColumnWidth(kFilesColumn, 150);

    emptyNote_ =
        new QLabel(QStringLiteral("아직 실행한 작업이 없습니다. 복원할 백업이 없습니다."), this);
    emptyNote_->setObjectName(QStringLiteral("EmptyNote"));
    emptyNote_->setTextFormat(Qt::PlainText);

    folderNote_ = new QLabel(this);
    folderNote_->setObjectName(QStringLiteral("FolderNote"));
    folderNote_->setTextFormat(Qt::PlainText);
    folderNote_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    folderNote_->setWordWrap(true);

    restoreButton_ = new QPushButton(QStringLiteral("복원"), this);
    restoreButton_->setObjectName(QStringLiteral("RestoreButton"));
    restoreButton_->setAutoDefault(true);
    restoreButton_->setFixedSize(82, 34);
    closeButton_ = new QPushButton(QStringLiteral("닫기"), this);
    closeButton_->setObjectName(QStringLiteral("CloseButton"));
    closeButton_->setAutoDefault(true);
    closeButton_->setFixedSize(82, 34);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(folderNote_, 1);
    buttons->addWidget(restoreButton_);
    buttons->addWidget(closeButton_);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 6, 12, 12);
    layout->addWidget(note);
    layout->addWidget(runList_, 1);
    layout->addWidget(emptyNote_);
    layout->addLayout(buttons);

    connect(runList_, &QTreeWidget::itemSelectionChanged, this, &RestoreWindow::SelectionChanged);
    connect(restoreButton_, &QPushButton::clicked, this, &RestoreWindow::Restore_Click);
    connect(closeButton_, &QPushButton::clicked, this, &QWidget::close);

    Refresh();

    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
}

RestoreWindow::~RestoreWindow() = default;

void RestoreWindow::Refresh() {
    const QString keep = SelectedRun();
    const QString root = platform_.RunsFolder();
    folderNote_->setText(QStringLiteral("백업 폴더: ") + QDir::toNativeSeparators(root));

    runList_->clear();
    QTreeWidgetItem* select = nullptr;
    for (const QString& folder : ListRunFolders(root)) {
        const RunEntry entry = ReadEntry(folder);
        auto* item = new QTreeWidgetItem(runList_, {entry.when, entry.files, entry.outcome});
        item->setData(kWhenColumn, kFolderRole, entry.folder);
        item->setData(kWhenColumn, kRestorableRole, entry.restorable);
        item->setToolTip(kWhenColumn, QDir::toNativeSeparators(entry.folder));
        if (select == nullptr || entry.folder == keep) {
            select = item;
        }
    }
    emptyNote_->setVisible(select == nullptr);
    if (select != nullptr) {
        runList_->setCurrentItem(select);
        select->setSelected(true);
        runList_->setFocus();
    }
    SelectionChanged();
}

QString RestoreWindow::SelectedRun() const {
    const QList<QTreeWidgetItem*> selected = runList_->selectedItems();
    return selected.isEmpty() ? QString()
                              : selected.first()->data(kWhenColumn, kFolderRole).toString();
}

void RestoreWindow::SelectionChanged() {
    const QList<QTreeWidgetItem*> selected = runList_->selectedItems();
    restoreButton_->setEnabled(!selected.isEmpty() &&
                               selected.first()->data(kWhenColumn, kRestorableRole).toBool());
}

void RestoreWindow::Restore_Click() {
    const QList<QTreeWidgetItem*> selected = runList_->selectedItems();
    if (selected.isEmpty()) {
        return;
    }
    const QString run = selected.first()->data(kWhenColumn, kFolderRole).toString();

    QStringList files;
    if (const std::optional<RunManifest> manifest = ReadManifest(run)) {
        for (const BackedUpFile& file : manifest->files) {
            files << file.product + QStringLiteral(": ") +
                         QDir::toNativeSeparators(file.originalPath);
        }
    }
    const QString confirm =
        QStringLiteral("%1에 실행한 작업 전의 백업으로 다음 파일을 되돌립니다.")
            .arg(selected.first()->text(kWhenColumn)) +
        kCrLf + files.join(kCrLf) + kCrLf + kCrLf +
        QStringLiteral(
            "지금 파일의 자료는 백업한 때의 자료로 바뀝니다. 지금 파일은 백업 폴더에 "
            "따로 보관합니다.") +
        kCrLf +
        QStringLiteral("Dorvik 또는 SolvanePlus 프로그램이 열려 있을 경우 닫고 시작하세요.") +
        kCrLf + QStringLiteral("복원 하시겠습니까?");
    if (platform_.MsgBox(confirm, vbYesNo + vbQuestion + vbDefaultButton2) != vbYes) {
        return;
    }

    {
        // Copying a large file takes seconds; clicks meanwhile must not start a second restore.
        InputBlocker blocker(*this);
        lastResult_ = RestoreRun(platform_, run, clock_(), copy_);
    }
    platform_.MsgBox(lastResult_.message, vbOKOnly + lastResult_.icon);
    Refresh();
}
