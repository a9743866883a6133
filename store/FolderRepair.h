// Repairing a damaged folder file: every whole record stays in the folder,
// the bytes after the last of them (a record cut short, stray bytes) move to
// a side file in the mailbox, byte for byte, so that nothing is lost and the
// folder takes new records again.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tegalo {

struct FolderRepair {
    int folder = 0;
    bool damaged = false;      // the file was damaged (nothing was done otherwise)
    int kept = 0;              // whole records kept in the folder
    std::size_t movedBytes = 0; // bytes moved to the side file
    std::string sideFile;      // its name in the mailbox, when one was written
};

// The name of the side file for `folderName` repaired at `when`
// ("YYYYMMDD-HHMMSS"): "recv.damaged-20261207-203015".
std::string DamagedSideFileName(std::string_view folderName, std::string_view when);

// Repairs the file of `folder` in `dir` (ending with "/") when it is
// damaged: first the side file is written and synced (never over an
// existing file: EEXIST), then the folder file is rewritten with its whole
// records and their count. A symbolic link stays one; a write-protected
// file is left alone (EACCES). Returns 0 or the errno of the failed step;
// before the rewrite the folder file is untouched.
[[nodiscard]] int RepairFolderFile(const std::string& dir, int folder, std::string_view when, FolderRepair& report);

} // namespace tegalo
