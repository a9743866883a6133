// A process that moves, deletes and marks messages without pause is killed
// at random moments. After each kill the next start must find every folder
// file whole and every message in exactly one folder.
#include "config/NewMailbox.h"
#include "store/TegaloDoc.h"

#include "store_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <iostream>
#include <random>
#include <sys/wait.h>
#include <unistd.h>

namespace tegalo {
namespace {

using namespace testing_support;

constexpr int kMessages = 12;
constexpr int kKills = 200;

class QuietUi : public StoreUi {
public:
    void Message(std::string_view) override {}
};

// Runs in the child until it is killed.
[[noreturn]] void MoveForever(const std::string& dir, unsigned seed) {
    QuietUi ui;
    CTegaloDoc doc(ui);
    if (!Loaded(doc.Start(dir))) {
        ::_exit(2);
    }
    std::mt19937 random(seed);
    auto pick = [&random](int from, int to) { return std::uniform_int_distribution<int>(from, to)(random); };
    for (;;) {
        const int shown = pick(kReceived, kDeleted);
        if (!Loaded(doc.LoadList(FolderName(shown)).status) || doc.GetRecordList().empty()) {
            continue;
        }
        const int index = pick(0, doc.GetRecordList().Count() - 1);
        int target = pick(kReceived, kDeleted - 1);
        if (target >= shown) {
            ++target; // any folder but the shown one
        }
        if (pick(0, 4) == 0) {
            static_cast<void>(doc.RegData(index, WithReadMark(*doc.GetRecord(index)), FolderName(shown)));
        } else {
            static_cast<void>(doc.DelData(index, FolderName(shown), FolderName(target)));
        }
    }
}

TEST(StoreCrash, KilledWhileMovingLosesNothing) {
    TempDir dir;
    ScriptedUi ui;
    ASSERT_EQ(CreateMailbox(dir.Path(), ui), StoreStatus::kOk);
    std::vector<std::string> expected;
    {
        CTegaloDoc doc(ui);
        ASSERT_EQ(doc.Start(dir.Path()), StoreStatus::kOk);
        for (int i = 0; i < kMessages; ++i) {
            expected.push_back("message " + std::to_string(i));
            const std::string record = MakeRecord(expected.back(), std::string(static_cast<std::size_t>(i) * 700, 'x'));
            ASSERT_EQ(doc.AddReceived(*ParseSizeBlock(record), record.substr(kSizeBlockLength), "recv"),
                      StoreStatus::kOk);
        }
    }
    std::sort(expected.begin(), expected.end());

    std::mt19937 random(2024);
    int interrupted = 0;
    for (int kill = 0; kill < kKills; ++kill) {
        SCOPED_TRACE("kill " + std::to_string(kill));
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            MoveForever(dir.Path(), static_cast<unsigned>(kill));
        }
        ::usleep(std::uniform_int_distribution<useconds_t>(500, 12000)(random));
        ::kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the child stopped on its own: " << status;

        ScriptedUi checkUi;
        CTegaloDoc check(checkUi);
        ASSERT_EQ(check.Start(dir.Path()), StoreStatus::kOk) << checkUi.Shown();
        interrupted += static_cast<int>(checkUi.traces.size());
        std::vector<std::string> found;
        for (int folder = kReceived; folder <= kDeleted; ++folder) {
            ASSERT_EQ(check.LoadList(FolderName(folder)).status, StoreStatus::kOk) << checkUi.Shown();
            for (const std::string& subject : Subjects(check.GetRecordList())) {
                found.push_back(subject);
            }
        }
        std::sort(found.begin(), found.end());
        ASSERT_EQ(found, expected);
        EXPECT_FALSE(std::filesystem::exists(dir / "tegalo.journal"));
    }
    // Most kills land in the middle of a change: the test saw recovery work.
    EXPECT_GT(interrupted, kKills / 4);
    std::cout << interrupted << " of " << kKills << " kills interrupted a change\n";
}

} // namespace
} // namespace tegalo
