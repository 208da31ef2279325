#pragma once

// Which file a path names, whatever name it goes by: the device and inode on Unix, the volume and
// file index on Windows. The engine compares it to tell a file moved, deleted or replaced while
// open from the one it opened; the Start command, to tell two folder settings that name one file.

#include <QString>
#include <cstdint>
#include <optional>

namespace dao {

struct FileIdentity {
    uint64_t device = 0;
    uint64_t inode = 0;
    bool operator==(const FileIdentity&) const = default;
};

// The identity of the file at `path`; nullopt when there is none or it cannot be read.
std::optional<FileIdentity> IdentityOf(const QString& path);

}  // namespace dao
