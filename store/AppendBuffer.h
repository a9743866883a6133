// Appends to the end of a file, held in memory and written out in large
// pieces: to the page cache, one write of a megabyte costs far less than
// two hundred writes of five kilobytes, each of which updates the file's
// times.
//
// Nothing held may be lost to a full disk after the caller was told it was
// taken: room for the held bytes is reserved in the file first (fallocate
// past its end, which leaves its length alone). Where no room can be
// reserved (the disk is full, the process may not make the file that long,
// or the file system cannot reserve), Take refuses and the caller writes
// directly, as it would without the buffer, and learns of the failure at
// once. What is left that can fail in Flush is the disk itself (EIO).
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
#include <sys/types.h>

namespace tegalo {

class AppendBuffer {
public:
    // Bytes held before Take writes them out by itself.
    static constexpr std::size_t kFlushBytes = std::size_t{1} << 20;

    // Appends go to `fd` from `end` (its length now) on. Forgets what was
    // held; call Flush first to keep it.
    void Reset(int fd, off_t end);
    bool Active() const { return fd_ >= 0; }

    enum class Taken {
        kYes,    // held (or written out with the rest)
        kNoRoom, // no room could be reserved: nothing taken, nothing written
        kLost,   // writing out what was held failed: it is lost, this too
    };
    // Takes `pieces` (one after the other) to append, with room reserved
    // for them; writes everything out when more than kFlushBytes are held.
    // On kNoRoom the caller flushes and writes the pieces itself, and learns
    // whether they fit. `error` is the errno of kNoRoom and kLost.
    [[nodiscard]] Taken Take(std::initializer_list<std::string_view> pieces, int& error);
    // Writes out what is held. Returns 0 or errno; on failure the file is
    // cut back to where the held bytes began and they are dropped. A file
    // that is no longer as long as what was written (another program wrote
    // to it) is left alone: ESTALE, and the held bytes are dropped.
    [[nodiscard]] int Flush();
    // Gives back the room reserved past the end of the file.
    void Release();
    // Drops what lies from file offset `at` on: held bytes are forgotten,
    // bytes already written are cut off the file. Returns 0 or errno.
    [[nodiscard]] int CutBack(off_t at);
    // The end of the file once what is held is written; the end written.
    off_t End() const { return written_ + static_cast<off_t>(held_.size()); }
    off_t WrittenEnd() const { return written_; }
    // The held bytes from file offset `at` (at least WrittenEnd()).
    std::string_view HeldFrom(off_t at, std::size_t length) const;

private:
    int Reserve(off_t end);

    int fd_ = -1;
    off_t written_ = 0;
    off_t reserved_ = 0;       // the file has room up to here
    off_t sizeLimit_ = -1;     // RLIMIT_FSIZE, or -1
    bool canReserve_ = true;
    std::string held_;
};

} // namespace tegalo
