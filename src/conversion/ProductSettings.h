#pragma once

// Where the two products keep their databases: each records its folder in the per-user settings
// store, and the database is the file "dbbasic.mdb" in that folder.

#include <QString>

// The settings store's application names of Dorvik (the source) and SolvanePlus (the
// destination), and the section and key that hold the folder.
inline const QString kSourceApp = QStringLiteral("세금계산서");
inline const QString kDestApp = QStringLiteral("Solvane2");
inline const QString kSection = QStringLiteral("환경설정");
inline const QString kKey = QStringLiteral("db경로");
inline const QString kDbFileName = QStringLiteral("dbbasic.mdb");

// The database file in a product's folder, joined as the folder stands: no trimming, a trailing
// separator kept.
QString DatabaseFile(const QString& folder);

// Whether a folder setting names no folder at all.
bool FolderUnset(const QString& folder);

// Whether two paths name the same file once `..`, links and, where the file system ignores it,
// letter case are resolved.
bool SameFile(const QString& a, const QString& b);
