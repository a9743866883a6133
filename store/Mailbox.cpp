#include "store/Mailbox.h"

#include "store/FileIo.h"
#include "store/Record.h"
#include "text/unicode.h"

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace tegalo {

using namespace literals;

namespace {

std::string InitialContent(std::string_view name, std::string_view settingsText) {
    if (FolderFromName(name) != kNoFolder) {
        return FormatField(0);
    }
    if (name == kMailboxSettingsFile) {
        return std::string(settingsText);
    }
    return {};
}

int CreateFile(const std::string& path, std::string_view content) {
    int error = 0;
    UniqueFd fd = OpenFile(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, 0600, error);
    if (!fd.Valid()) {
        return error;
    }
    error = WriteFull(fd.Get(), content.data(), content.size());
    if (error == 0) {
        error = SyncFile(fd.Get());
    }
    if (error == 0) {
        error = fd.Close();
    }
    return error;
}

} // namespace

StoreStatus CreateMailbox(std::string_view dirName, std::string_view settingsText, StoreUi& ui) {
    std::string dir(dirName);
    if (!dir.ends_with('/')) {
        dir += '/';
    }
    auto cannotCreate = [&ui](std::string_view what, int error) {
        ui.Message("ファイルを作成できません（"_sjis + std::string(what) + "）"_sjis);
        ui.Trace("Can't create " + std::string(what) + ", error = " + std::to_string(error) + "\n");
        return StoreStatus::kCannotWrite;
    };
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
        return cannotCreate(dir, errno);
    }
    for (std::string_view name : kMailboxFiles) {
        struct stat st {};
        if (::lstat((dir + std::string(name)).c_str(), &st) == 0) {
            ui.Message("既にファイルがあります（"_sjis + std::string(name) + "）"_sjis);
            return StoreStatus::kAlreadyExists;
        }
    }
    std::vector<std::string> created;
    for (std::string_view name : kMailboxFiles) {
        const std::string path = dir + std::string(name);
        const int error = CreateFile(path, InitialContent(name, settingsText));
        if (error != 0) {
            if (error != EEXIST) {
                ::unlink(path.c_str());
            }
            for (const std::string& done : created) {
                ::unlink(done.c_str());
            }
            return error == EEXIST ? (ui.Message("既にファイルがあります（"_sjis + std::string(name) + "）"_sjis),
                                      StoreStatus::kAlreadyExists)
                                   : cannotCreate(name, error);
        }
        created.push_back(path);
    }
    if (const int error = SyncDirectory(dir); error != 0) {
        return cannotCreate(dir, error);
    }
    return StoreStatus::kOk;
}

} // namespace tegalo
