#include "conversion/Conversion.h"

Conversion::Conversion(Platform& platform, LogPane& log, ProgressBar& progress,
                       CheckBoxes& check1)
    : platform_(platform), log_(log), progress_(progress), check1_(check1) {}

void Conversion::Command1_Click() {}

void Conversion::CopyData(dao::DatabaseHandle&, dao::DatabaseHandle&, const QString&) {}
