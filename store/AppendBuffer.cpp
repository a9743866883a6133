#include "store/AppendBuffer.h"

#include "store/FileIo.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/resource.h>

namespace tegalo {

namespace {

// Room is reserved this far ahead at a time: one call per few megabytes.
constexpr off_t kReserveStep = off_t{4} << 20;

} // namespace

void AppendBuffer::Reset(int fd, off_t end) {
    fd_ = fd;
    written_ = end;
    reserved_ = end;
    held_.clear();
    canReserve_ = true;
    rlimit limit{};
    sizeLimit_ = ::getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY
                     ? static_cast<off_t>(limit.rlim_cur)
                     : -1;
}

int AppendBuffer::Reserve(off_t end) {
    if (end <= reserved_) {
        return 0;
    }
    if (!canReserve_) {
        return EOPNOTSUPP;
    }
    // A file the process may not make this long takes the direct write,
    // which then fails as the limit says.
    if (sizeLimit_ >= 0 && end > sizeLimit_) {
        return EFBIG;
    }
    off_t ahead = end + kReserveStep;
    if (sizeLimit_ >= 0 && ahead > sizeLimit_) {
        ahead = sizeLimit_;
    }
    // A step ahead when there is room for it, else just what is needed.
    for (const off_t to : {ahead, end}) {
        if (::fallocate(fd_, FALLOC_FL_KEEP_SIZE, reserved_, to - reserved_) == 0) {
            reserved_ = to;
            return 0;
        }
        if (errno == EOPNOTSUPP || errno == ENOSYS) {
            canReserve_ = false;
            return EOPNOTSUPP;
        }
    }
    return errno;
}

AppendBuffer::Taken AppendBuffer::Take(std::initializer_list<std::string_view> pieces, int& error) {
    std::size_t length = 0;
    for (const std::string_view piece : pieces) {
        length += piece.size();
    }
    if ((error = Reserve(End() + static_cast<off_t>(length))) != 0) {
        return Taken::kNoRoom;
    }
    for (const std::string_view piece : pieces) {
        held_.append(piece);
    }
    error = held_.size() >= kFlushBytes ? Flush() : 0;
    return error == 0 ? Taken::kYes : Taken::kLost;
}

int AppendBuffer::Flush() {
    if (held_.empty()) {
        return 0;
    }
    // Another program that wrote to the file meanwhile keeps its bytes: the
    // held ones are dropped, not written over them.
    FileStamp now;
    if (const int error = StampOf(fd_, now); error != 0 || now.size != written_) {
        held_.clear();
        return error != 0 ? error : ESTALE;
    }
    if (const int error = WriteFull(fd_, held_.data(), held_.size(), written_); error != 0) {
        // Nothing of it may stay behind what was written before.
        static_cast<void>(TruncateFile(fd_, written_));
        held_.clear();
        reserved_ = written_; // the cut took the room past the end too
        return error;
    }
    written_ += static_cast<off_t>(held_.size());
    held_.clear();
    return 0;
}

void AppendBuffer::Release() {
    if (fd_ >= 0 && reserved_ > End()) {
        // Best effort: blocks past the end are only room, never data.
        static_cast<void>(::fallocate(fd_, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, End(), reserved_ - End()));
    }
    reserved_ = End();
}

int AppendBuffer::CutBack(off_t at) {
    if (at >= written_) {
        if (at < End()) {
            held_.resize(static_cast<std::size_t>(at - written_));
        }
        return 0;
    }
    held_.clear();
    if (const int error = TruncateFile(fd_, at); error != 0) {
        return error;
    }
    written_ = at;
    reserved_ = at;
    return 0;
}

std::string_view AppendBuffer::HeldFrom(off_t at, std::size_t length) const {
    if (at < written_ || at > End()) {
        return {};
    }
    return std::string_view(held_).substr(static_cast<std::size_t>(at - written_), length);
}

} // namespace tegalo
