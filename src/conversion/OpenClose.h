#pragma once

// Opening and closing databases and recordsets, and the reporting of their failures. Every open
// the tool makes goes through these procedures; each catches its own failure, shows it, and
// returns whether the open succeeded, so no error is ever left pending for the caller.

#include <QString>
#include <cstdint>
#include <exception>

#include "conversion/Platform.h"
#include "data/Engine.h"

// The number and description of a failure, whatever raised it.
struct ErrorInfo {
    int32_t Number = 0;
    QString Description;
    int64_t RowsLost = 0;  // rows that earlier saves had stored, taken back with this failure
};
ErrorInfo DescribeError(std::exception_ptr error);

// Opens the database file MdbName into cObject with the given open options. The engine is created
// on first use and kept for the life of the process.
bool MyOpenDB(Platform& platform, dao::DatabaseHandle& cObject, const QString& MdbName,
              int16_t OpenMode);

// Opens SqlText on Dbs as a read-only snapshot into Rs.
bool OpenReadRecordset(Platform& platform, const dao::DatabaseHandle& Dbs, dao::RecordsetHandle& Rs,
                       const QString& SqlText);

// Opens SqlText on Dbs as an updatable dynaset into Rs.
bool OpenWriteRecordset(Platform& platform, const dao::DatabaseHandle& Dbs,
                        dao::RecordsetHandle& Rs, const QString& SqlText);

// Closes a database or recordset handle that holds an object and leaves it empty. A failing
// Close is not caught, and the handle then keeps its object.
template <class T>
void CloseObject(dao::Handle<T>& Obj) {
    if (Obj.IsEmpty()) {
        return;
    }
    Obj->Close();
    Obj.Reset();
}

// Beeps, then shows an OK message box; an empty title stands for the application title.
void ShowMessage(Platform& platform, const QString& MsgText, const QString& MsgTitle);

// The engine this process has created so far, or null. For tests.
const dao::DBEngine* CurrentEngine();
