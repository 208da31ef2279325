#pragma once

// Opening and closing databases and recordsets, and the reporting of their failures. Every open
// the tool makes goes through these procedures; each catches its own failure, shows it, and
// returns it, so that no error is left pending and the caller still learns what went wrong.

#include <QString>
#include <cstdint>
#include <exception>

#include "conversion/Platform.h"
#include "data/Engine.h"

// The number and description of a failure, whatever raised it.
struct ErrorInfo {
    int32_t number = 0;
    QString description;
    int64_t rowsLost = 0;  // rows that earlier saves had stored, taken back with this failure
    QString diagnostic{};  // the driver's raw diagnostic (dao::RawDiagnostic), or empty
};
ErrorInfo DescribeError(const std::exception_ptr& error);

// A failure as the log and the message boxes quote it: "Error <number> (<description>)".
QString ErrorText(const ErrorInfo& error);

// What an open procedure hands back: nothing on success, else the failure it has already shown.
// Tests as true when the open succeeded.
struct OpenResult {
    ErrorInfo failure;
    explicit operator bool() const { return failure.number == 0; }
};

// Opens the database file fileName into database with the given open options. The engine is
// created on first use and kept for the life of the process. A file that another user holds is
// reported with the name of `product`, the program to close, when one is given.
OpenResult MyOpenDB(Platform& platform, dao::DatabaseHandle& database, const QString& fileName,
                    int16_t openOptions, const QString& product = {});

// Opens sqlText on database as a read-only snapshot into recordset.
OpenResult OpenReadRecordset(Platform& platform, const dao::DatabaseHandle& database,
                             dao::RecordsetHandle& recordset, const QString& sqlText);

// Opens sqlText on database as an updatable dynaset into recordset.
OpenResult OpenWriteRecordset(Platform& platform, const dao::DatabaseHandle& database,
                              dao::RecordsetHandle& recordset, const QString& sqlText);

// Closes a database or recordset handle that holds an object and leaves it empty. A failing
// Close is not caught, and the handle then keeps its object.
template <class T>
void CloseObject(dao::Handle<T>& object) {
    if (object.IsEmpty()) {
        return;
    }
    object->Close();
    object.Reset();
}

// Beeps, then shows an OK message box; an empty title stands for the application title.
void ShowMessage(Platform& platform, const QString& text, const QString& title);

// The process's engine, created on first use and kept for the life of the process.
dao::DBEngine& ProcessEngine();

// The engine this process has created so far, or null. For tests.
const dao::DBEngine* CurrentEngine();
