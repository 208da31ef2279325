#pragma once

#include <QString>

#include "conversion/Controls.h"
#include "data/Engine.h"
#include "data/Platform.h"

// One conversion run and its parts: the Start command, the product and trader recipes, and the
// table copy. The window owns one and forwards the Start button's click to Command1_Click.
class Conversion {
public:
    Conversion(Platform& platform, LogPane& log, ProgressBar& progress, CheckBoxes& check1);

    // The Start button's click: one whole guarded run.
    void Command1_Click();

    // Replaces the destination table's rows with the source table's, field by field by name.
    void CopyData(dao::DatabaseHandle& SourceDbs, dao::DatabaseHandle& DestDbs,
                  const QString& TName);

    // The folders read from the settings store by the last confirmed run.
    QString SourceDbPath;
    QString DestDbPath;

private:
    Platform& platform_;
    LogPane& log_;
    ProgressBar& progress_;
    CheckBoxes& check1_;
};
