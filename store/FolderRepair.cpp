#include "store/FolderRepair.h"

#include "store/FileIo.h"
#include "store/FolderFile.h"
#include "store/Record.h"

#include <cerrno>
#include <sys/stat.h>

namespace tegalo {

std::string DamagedSideFileName(std::string_view folderName, std::string_view when) {
    return std::string(folderName) + ".damaged-" + std::string(when);
}

int RepairFolderFile(const std::string& dir, int folder, std::string_view when, FolderRepair& report) {
    const std::string base = dir.ends_with('/') ? dir : dir + "/";
    report = {};
    report.folder = folder;
    const std::string name(FolderName(folder));
    RecordList list;
    if (const int error = ReadFolderFile(base + name, folder, list); error != 0) {
        return error;
    }
    report.kept = list.Count();
    if (!list.Damaged()) {
        return 0;
    }
    report.damaged = true;
    if (const int error = WriteProtected(base + name); error != 0) {
        return error;
    }
    if (list.UnreadTail().empty()) { // only the count was wrong
        FolderEdit edit{FolderEdit::Kind::kReplace, list.size(), {}};
        FileStamp stamp;
        return RewriteFolderFile(base, list, edit, stamp);
    }
    // The damaged bytes reach the disk before the folder lets go of them.
    const std::string side = DamagedSideFileName(name, when);
    struct stat st {};
    if (::lstat((base + side).c_str(), &st) == 0) {
        return EEXIST;
    }
    AtomicFile file;
    int error = file.Open(base, side, 0600);
    if (error == 0) {
        error = file.Write(list.UnreadTail());
    }
    if (error == 0) {
        error = file.Commit();
    }
    if (error != 0) {
        return error;
    }
    report.sideFile = side;
    report.movedBytes = list.UnreadTail().size();

    FolderEdit edit{FolderEdit::Kind::kReplace, list.size(), {}};
    edit.keepTail = false;
    FileStamp stamp;
    return RewriteFolderFile(base, list, edit, stamp);
}

} // namespace tegalo
