#include "ui/RestoreWindow.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QStringList>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "data/EngineOptions.h"
#include "ui/Form1.h"
#include "ui/InputBlocker.h"
#include "ui/WindowSetup.h"

namespace {

constexpr int kFolderRole = Qt::UserRole;
constexpr int kRestorableRole = Qt::UserRole + 1;

enum Column { kWhenColumn, kFilesColumn, kOutcomeColumn, kSizeColumn };

constexpr int kWhenColumnWidth = 160;
constexpr int kFilesColumnWidth = 150;
constexpr QSize kButtonSize{82, 34};
constexpr qint64 kPaintBeatMs = 50;

QString FilesText(const RunDescription& run) {
    switch (run.blocker) {
        case RunDescription::Blocker::None:
            break;
        case RunDescription::Blocker::NoManifest:
            return RestoreWindow::kNoManifest;
        case RunDescription::Blocker::BackupMissing:
            return run.Products().join(QStringLiteral(", ")) + QLatin1Char(' ') +
                   RestoreWindow::kBackupNotFound;
        case RunDescription::Blocker::Linked:
            return run.Products().join(QStringLiteral(", ")) + QLatin1Char(' ') +
                   RestoreWindow::kLinkedBackup;
    }
    return run.Products().join(QStringLiteral(", "));
}

QString OutcomeText(const RunDescription& run) {
    switch (run.report) {
        case RunDescription::Report::Outcome:
            break;
        case RunDescription::Report::NoOutcome:
            return RestoreWindow::kNoOutcome;
        case RunDescription::Report::Missing:
            return RestoreWindow::kNoReport;
    }
    return run.outcome;
}

QString SizeText(qint64 bytes) {
    return QLocale(QLocale::Korean).formattedDataSize(bytes, 1, QLocale::DataSizeTraditionalFormat);
}

QLabel* PlainLabel(const QString& objectName, const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(objectName);
    label->setTextFormat(Qt::PlainText);
    return label;
}

QPushButton* Button(const QString& objectName, const QString& text, QWidget* parent) {
    auto* button = new QPushButton(text, parent);
    button->setObjectName(objectName);
    button->setAutoDefault(true);
    button->setFixedSize(kButtonSize);
    return button;
}

}  // namespace

const QString RestoreWindow::kCaptionSuffix = QStringLiteral(" - 복원");
const QString RestoreWindow::kNoReport = QStringLiteral("(보고서 없음)");
const QString RestoreWindow::kNoOutcome =
    QStringLiteral("(결과 없음: 중단된 작업이거나 보고서 손상)");
const QString RestoreWindow::kNoManifest = QStringLiteral("(백업 정보 없음: 복원할 수 없음)");
const QString RestoreWindow::kBackupNotFound = QStringLiteral("(백업 파일 없음: 복원할 수 없음)");
const QString RestoreWindow::kLinkedBackup =
    QStringLiteral("(백업 파일이 링크이거나 일반 파일이 아님: 복원할 수 없음)");

RestoreWindow::RestoreWindow(Platform& platform, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint),
      platform_(platform),
      clock_([] { return QDateTime::currentDateTime(); }) {
    SetUpWindow(*this,
                Form1::kDesignCaption + kCaptionSuffix + VersionCaption(platform_.Version()));
    CreateControls();

    connect(runList_, &QTreeWidget::itemSelectionChanged, this, &RestoreWindow::SelectionChanged);
    connect(restoreButton_, &QPushButton::clicked, this, &RestoreWindow::Restore_Click);
    connect(closeButton_, &QPushButton::clicked, this, &QWidget::close);

    // A restore that was killed is named, and offered to be finished, before any other.
    CheckUnfinished(platform_, false, clock_);
    Refresh();
    CentreOnScreen(*this);
}

void RestoreWindow::CreateControls() {
    QLabel* note = PlainLabel(
        QStringLiteral("Note"),
        QStringLiteral("작업을 실행하기 전에 백업한 파일로 Dorvik과 SolvanePlus의 데이터베이스를 "
                       "되돌립니다.") +
            QLatin1Char('\n') +
            QStringLiteral(" - 되돌릴 작업을 고르고 복원을 누르세요. Dorvik과 SolvanePlus "
                           "프로그램은 닫아 두세요."),
        this);

    runList_ = new QTreeWidget(this);
    runList_->setObjectName(QStringLiteral("RunList"));
    runList_->setColumnCount(4);
    runList_->setHeaderLabels({QStringLiteral("실행 시각"), QStringLiteral("백업한 파일"),
                               QStringLiteral("결과"), QStringLiteral("크기")});
    runList_->setRootIsDecorated(false);
    runList_->setSelectionMode(QAbstractItemView::SingleSelection);
    runList_->setAllColumnsShowFocus(true);
    runList_->header()->setStretchLastSection(false);
    runList_->header()->setSectionResizeMode(kOutcomeColumn, QHeaderView::Stretch);
    runList_->setColumnWidth(kWhenColumn, kWhenColumnWidth);
    runList_->setColumnWidth(kFilesColumn, kFilesColumnWidth);

    emptyNote_ =
        PlainLabel(QStringLiteral("EmptyNote"),
                   QStringLiteral("아직 실행한 작업이 없습니다. 복원할 백업이 없습니다."), this);
    folderNote_ = PlainLabel(QStringLiteral("FolderNote"), QString(), this);
    folderNote_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    folderNote_->setWordWrap(true);

    restoreButton_ = Button(QStringLiteral("RestoreButton"), QStringLiteral("복원"), this);
    closeButton_ = Button(QStringLiteral("CloseButton"), QStringLiteral("닫기"), this);

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
}

RestoreWindow::~RestoreWindow() = default;

void RestoreWindow::Refresh() {
    const QString keep = SelectedRun();
    const QString root = platform_.RunsFolder();

    runList_->clear();
    QTreeWidgetItem* select = nullptr;
    qint64 total = 0;
    for (const QString& folder : ListRunFolders(root)) {
        const RunDescription run = DescribeRun(folder);
        total += run.bytes;
        auto* item = new QTreeWidgetItem(
            runList_, {run.name.Text(), FilesText(run), OutcomeText(run), SizeText(run.bytes)});
        item->setTextAlignment(kSizeColumn, Qt::AlignRight | Qt::AlignVCenter);
        item->setData(kWhenColumn, kFolderRole, run.folder);
        item->setData(kWhenColumn, kRestorableRole, run.Restorable());
        item->setToolTip(kWhenColumn, QDir::toNativeSeparators(run.folder));
        if (select == nullptr || run.folder == keep) {
            select = item;
        }
    }
    // What the run folders take on the disk, so that the user knows when to remove old ones.
    folderNote_->setText(QStringLiteral("백업 폴더: ") + QDir::toNativeSeparators(root) +
                         QStringLiteral(" (모두 ") + SizeText(total) + QLatin1Char(')'));
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
    const QString run = SelectedRun();
    if (run.isEmpty()) {
        return;
    }
    if (platform_.MsgBox(RestoreConfirmation(DescribeRun(run)),
                         vbYesNo + vbQuestion + vbDefaultButton2) != vbYes) {
        return;
    }

    {
        // Copying a large file takes seconds; clicks meanwhile must not start a second restore.
        InputBlocker blocker(*this);
        // The engine's long work (the hashes, the copies through SQLite) runs on another thread
        // while this one calls back: the window keeps painting.
        QElapsedTimer beat;
        beat.start();
        const dao::EngineOptionsScope painting(dao::WithBusyCallback([&beat] {
            if (beat.elapsed() >= kPaintBeatMs) {
                beat.restart();
                QCoreApplication::processEvents();
            }
        }));
        lastResult_ = RestoreRun(platform_, run, clock_(), copy_);
    }
    platform_.MsgBox(lastResult_.message, vbOKOnly + lastResult_.icon);
    Refresh();
}
