// Appends held in memory and written out in large pieces: what is held
// reaches the file whole, in order, and never over another program's bytes;
// where no room can be reserved the caller is told before anything is
// taken; and a batch whose held originals are lost is taken back whole.
#include "store/AppendBuffer.h"
#include "store/FileIo.h"
#include "store/Originals.h"
#include "store/TegaloDoc.h"

#include "store_test_support.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <sys/resource.h>

namespace tegalo {
namespace {

using namespace testing_support;

class HeldAppends : public ::testing::Test {
protected:
    void SetUp() override {
        WriteFile(path_, "head");
        int error = 0;
        fd_ = OpenFile(path_, O_RDWR, 0, error);
        ASSERT_TRUE(fd_.Valid()) << error;
        buffer_.Reset(fd_.Get(), 4);
    }

    AppendBuffer::Taken Take(std::initializer_list<std::string_view> pieces) {
        int error = 0;
        const AppendBuffer::Taken taken = buffer_.Take(pieces, error);
        EXPECT_EQ(error != 0, taken != AppendBuffer::Taken::kYes) << error;
        return taken;
    }

    TempDir dir_;
    std::string path_ = dir_ / "file";
    UniqueFd fd_;
    AppendBuffer buffer_;
};

TEST_F(HeldAppends, ReachTheFileWholeAndInOrder) {
    ASSERT_EQ(Take({"one", "-", "two"}), AppendBuffer::Taken::kYes);
    ASSERT_EQ(Take({"|three"}), AppendBuffer::Taken::kYes);
    EXPECT_EQ(ReadFile(path_), "head") << "held, not written";
    EXPECT_EQ(buffer_.End(), 4 + 13);
    EXPECT_EQ(buffer_.HeldFrom(8, 3), "two");

    // Taken back from the middle of what is held, then from what is written.
    ASSERT_EQ(buffer_.CutBack(11), 0);
    ASSERT_EQ(buffer_.Flush(), 0);
    EXPECT_EQ(ReadFile(path_), "headone-two");
    ASSERT_EQ(buffer_.CutBack(7), 0);
    EXPECT_EQ(ReadFile(path_), "headone");
    ASSERT_EQ(Take({"+four"}), AppendBuffer::Taken::kYes);
    ASSERT_EQ(buffer_.Flush(), 0);
    buffer_.Release();
    EXPECT_EQ(ReadFile(path_), "headone+four");
    FileStamp stamp;
    ASSERT_EQ(StampOf(fd_.Get(), stamp), 0);
    EXPECT_EQ(stamp.size, 12) << "the room reserved never shows as length";

    // More than a megabyte held goes out by itself.
    const std::string big(AppendBuffer::kFlushBytes, 'x');
    ASSERT_EQ(Take({big}), AppendBuffer::Taken::kYes);
    EXPECT_EQ(buffer_.WrittenEnd(), buffer_.End());
    EXPECT_EQ(ReadFile(path_), "headone+four" + big);
}

TEST_F(HeldAppends, NeverWrittenOverAnotherProgramsBytes) {
    ASSERT_EQ(Take({"ours"}), AppendBuffer::Taken::kYes);
    WriteFile(path_, "head and theirs");
    EXPECT_EQ(buffer_.Flush(), ESTALE);
    EXPECT_EQ(ReadFile(path_), "head and theirs");
    EXPECT_EQ(buffer_.End(), buffer_.WrittenEnd()) << "what was held is dropped";
}

// A file the process may not make longer: nothing is taken, so that the
// caller writes the piece itself and learns at once that it does not fit.
TEST_F(HeldAppends, NoRoomBeyondTheFileSizeLimit) {
    rlimit before{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &before), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = before;
    limited.rlim_cur = 64;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
    buffer_.Reset(fd_.Get(), 4);
    int error = 0;
    const AppendBuffer::Taken fits = buffer_.Take({std::string(50, 'a')}, error);
    const AppendBuffer::Taken beyond = buffer_.Take({std::string(20, 'b')}, error);
    const int beyondError = error;
    const int flushed = buffer_.Flush();
    ::setrlimit(RLIMIT_FSIZE, &before);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(fits, AppendBuffer::Taken::kYes);
    EXPECT_EQ(beyond, AppendBuffer::Taken::kNoRoom);
    EXPECT_EQ(beyondError, EFBIG);
    EXPECT_EQ(flushed, 0);
    EXPECT_EQ(ReadFile(path_), "head" + std::string(50, 'a'));
}

// A received message stored the way the receive session stores it.
StoreStatus Receive(CTegaloDoc& doc, const std::string& subject) {
    const std::string record = MakeRecord(subject);
    return doc.AddReceived(*ParseSizeBlock(record), std::string_view(record).substr(kSizeBlockLength), "recv",
                           "Subject: " + subject + "\r\n\r\nbody", "\r\n");
}

std::string PackOf(const std::string& dir) {
    for (const auto& entry : std::filesystem::directory_iterator(OriginalsDir(dir))) {
        if (entry.path().extension() == ".pack") {
            return entry.path().string();
        }
    }
    return {};
}

class HeldBatch : public MailboxTest {
protected:
    void SetUp() override { Open("     1" + MakeRecord("before")); }
};

// The originals of a batch are held too: one opened before the commit is
// read from memory, and the commit writes them where the pack says.
TEST_F(HeldBatch, OriginalsOpenedBeforeTheCommit) {
    doc.BeginBatch("recv");
    for (const char* subject : {"one", "two"}) {
        ASSERT_EQ(Receive(doc, subject), StoreStatus::kOk) << ui.Shown();
    }
    ASSERT_TRUE(Loaded(doc.LoadList("recv").status)) << ui.Shown();
    EXPECT_EQ(doc.OriginalOf(2), "Subject: two\r\n\r\nbody\r\n");
    ASSERT_EQ(doc.CommitBatch(), StoreStatus::kOk) << ui.Shown();
    Mailbox after;
    std::filesystem::copy(dir / "recv", after.dir / "recv", std::filesystem::copy_options::overwrite_existing);
    std::filesystem::copy(dir / std::string(kOriginalsDirName), after.dir / std::string(kOriginalsDirName));
    ASSERT_TRUE(Loaded(after.doc.Start(after.dir.Path()))) << after.ui.Shown();
    EXPECT_EQ(after.doc.OriginalOf(1), "Subject: one\r\n\r\nbody\r\n");
    EXPECT_EQ(after.doc.OriginalOf(2), "Subject: two\r\n\r\nbody\r\n");
}

// Held originals that cannot be written out (here: their pack changed
// behind the store's back) take the whole batch with them, at once: the
// folder as before, no pack, no journal, nothing for the session to
// delete from the server; the next batch goes through.
TEST_F(HeldBatch, LostOriginalsTakeTheBatchBack) {
    ASSERT_TRUE(Loaded(doc.LoadList("recv").status));
    doc.BeginBatch("recv");
    for (const char* subject : {"one", "two", "three"}) {
        ASSERT_EQ(Receive(doc, subject), StoreStatus::kOk) << ui.Shown();
    }
    const std::string pack = PackOf(dir.Path());
    ASSERT_FALSE(pack.empty());
    WriteFile(pack, ReadFile(pack) + "another program's bytes");
    EXPECT_NE(doc.CommitBatch(), StoreStatus::kOk);
    EXPECT_EQ(File("recv"), "     1" + MakeRecord("before"));
    EXPECT_FALSE(std::filesystem::exists(pack));
    EXPECT_FALSE(std::filesystem::exists(dir / "tegalo.journal"));
    EXPECT_EQ(Subjects(doc.GetRecordList()), std::vector<std::string>{"before"}) << "the shown list too";

    doc.BeginBatch("recv");
    ASSERT_EQ(Receive(doc, "again"), StoreStatus::kOk) << ui.Shown();
    ASSERT_EQ(Receive(doc, "and again"), StoreStatus::kOk) << ui.Shown();
    ASSERT_EQ(doc.CommitBatch(), StoreStatus::kOk) << ui.Shown();
    EXPECT_EQ(File("recv"), "     3" + MakeRecord("before") + MakeRecord("again") + MakeRecord("and again"));
    EXPECT_EQ(doc.OriginalOf(2), "Subject: and again\r\n\r\nbody\r\n");
}

} // namespace
} // namespace tegalo
