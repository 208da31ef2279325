#pragma once

#include <QDateTime>
#include <QString>
#include <QWidget>
#include <functional>

#include "conversion/Platform.h"
#include "conversion/Restore.h"

class QLabel;
class QPushButton;
class QTreeWidget;

// The restore window (`dorvik2solvane --restore`): the run folders, newest first, each with its
// time, the files it backed up and the run's outcome, and 복원, which puts the selected run's
// backups back over both products' databases after a confirmation. Every dialog goes through
// the platform.
//
//   Object name      Role
//   RunList          the run folders (a QTreeWidget: time, files, outcome)
//   RestoreButton    복원: restores the selected run
//   CloseButton      닫기: closes the window
//   EmptyNote        shown instead of a selection when there is no run yet
class RestoreWindow : public QWidget {
    Q_OBJECT

public:
    // Appended to the main window's caption.
    static const QString kCaptionSuffix;
    // The list's marks for a run folder whose files cannot tell everything.
    static const QString kNoReport;        // report.txt is missing
    static const QString kNoOutcome;       // report.txt has no outcome: killed, or damaged
    static const QString kNoManifest;      // run.json is missing or damaged: not restorable
    static const QString kBackupNotFound;  // a backed-up file is missing from the folder
    static const QString kLinkedBackup;    // a backup or before-restore is a link: not restorable

    explicit RestoreWindow(Platform& platform, QWidget* parent = nullptr);
    ~RestoreWindow() override;

    // Reads the runs folder again; the run that was selected stays selected, else the newest.
    void Refresh();
    // 복원: confirmation, restore, one message with the result.
    void Restore_Click();

    QTreeWidget* RunList() const { return runList_; }
    QPushButton* RestoreButton() const { return restoreButton_; }
    QPushButton* CloseButton() const { return closeButton_; }
    QLabel* EmptyNote() const { return emptyNote_; }
    // The selected run's folder, or empty.
    QString SelectedRun() const;

    // Tests: what runs before each copy the restore makes (RestoreCopy), and the clock that names
    // its before-restore folder.
    void SetCopy(RestoreCopy copy) { copy_ = std::move(copy); }
    void SetClock(std::function<QDateTime()> clock) { clock_ = std::move(clock); }

    // The last restore's result; Refused with no files before the first.
    const RestoreResult& LastResult() const { return lastResult_; }

private:
    // Creates and lays out the notes, the list and the buttons.
    void CreateControls();
    void SelectionChanged();

    Platform& platform_;
    QTreeWidget* runList_ = nullptr;
    QPushButton* restoreButton_ = nullptr;
    QPushButton* closeButton_ = nullptr;
    QLabel* emptyNote_ = nullptr;
    QLabel* folderNote_ = nullptr;
    RestoreCopy copy_;
    std::function<QDateTime()> clock_;
    RestoreResult lastResult_;
};
