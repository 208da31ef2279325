#pragma once

// Copying a database file byte for byte, never leaving a half-written file under the target's
// name: the bytes go to a temporary file in the target's folder, which is synced and then renamed
// over the target.

#include <QString>

namespace dao {

// Copies `from` to `to`, replacing `to` if it exists. Fails with errFileNotFound when `from`
// cannot be read, errDiskFull when the target's disk fills, else errCannotOpenFile; the target is
// then as it was.
void CopyFileBytes(const QString& from, const QString& to);

}  // namespace dao
