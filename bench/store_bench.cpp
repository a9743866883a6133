// The mail store on a folder of 100,000 records of about 2 KB (200 MB):
// - LoadList against reading the same file into memory in one piece, and
//   the memory the loaded folder takes against the file's size;
// - AddReceived on a folder of 1,000 and of 100,000 records: an append
//   touches the count and the end only, so its time must not grow;
// - DelData (one sequential rewrite) against copying the file.
// Each compares with its peer in the same run and prints a RATIO line.
#include "store/FileIo.h"
#include "config/NewMailbox.h"
#include "store/TegaloDoc.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <unistd.h>

namespace tegalo {
namespace {

class SilentUi : public StoreUi {
public:
    void Message(std::string_view text) override { std::fprintf(stderr, "store message: %.*s\n", int(text.size()), text.data()); }
};

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

void PrintRatio(const char* label, double ratio, double limit) {
    std::printf("RATIO %s: %.2f (target <= %g) %s\n", label, ratio, limit, ratio <= limit ? "ok" : "MISSED");
    std::fflush(stdout);
}

// A record of about 2 KB with the given number in its subject.
std::string BenchRecord(int n) {
    const std::string subject = "message " + std::to_string(n);
    std::string body;
    while (body.size() < 1800) {
        body += "The quick brown fox jumps over the lazy dog. \x82\xa0\x82\xa2\r\n";
    }
    const std::string header = "From: someone@example.jp\r\nSubject: " + subject + "\r\n";
    const RecordPieces pieces{subject, "someone@example.jp", "Mon, 3 Jun 2024 09:00:00 +0900", header, body, {}};
    return BuildRecord(SizesFor(pieces, 0, 0), JoinPieces(pieces));
}

// A mailbox in a temporary directory whose folder `folder` holds `records`
// records.
class BenchMailbox {
public:
    explicit BenchMailbox(int records, const char* folder = "recv") {
        std::string pattern = (std::filesystem::temp_directory_path() / "tegalo-bench-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("mkdtemp failed");
        }
        dir_ = pattern + "/";
        SilentUi ui;
        if (CreateMailbox(dir_, ui) != StoreStatus::kOk) {
            throw std::runtime_error("cannot create the mailbox");
        }
        std::FILE* out = std::fopen((dir_ + folder).c_str(), "wb");
        const std::string count = FormatField(records);
        std::fwrite(count.data(), 1, count.size(), out);
        for (int i = 0; i < records; ++i) {
            const std::string record = BenchRecord(i);
            std::fwrite(record.data(), 1, record.size(), out);
        }
        std::fclose(out);
    }
    ~BenchMailbox() {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
    BenchMailbox(const BenchMailbox&) = delete;
    BenchMailbox& operator=(const BenchMailbox&) = delete;

    const std::string& Dir() const { return dir_; }
    std::string Path(const char* name) const { return dir_ + name; }

private:
    std::string dir_;
};

constexpr int kLargeFolder = 100'000;

// Reads a whole file into one buffer, the way a program would that keeps
// the file's bytes and nothing else.
std::size_t ReadWhole(const std::string& path) {
    int error = 0;
    UniqueFd fd = OpenFile(path, O_RDONLY, 0, error);
    FileStamp stamp;
    if (!fd.Valid() || StampOf(fd.Get(), stamp) != 0) {
        return 0;
    }
    const auto size = static_cast<std::size_t>(stamp.size);
    auto buffer = std::make_unique_for_overwrite<char[]>(size);
    const ssize_t n = ReadFull(fd.Get(), buffer.get(), size, error);
    benchmark::DoNotOptimize(buffer.get());
    return n < 0 ? 0 : static_cast<std::size_t>(n);
}

// Copies a file to `to` and syncs the copy, as a folder rewrite does.
void CopyFile(const std::string& from, const std::string& to) {
    int error = 0;
    UniqueFd in = OpenFile(from, O_RDONLY, 0, error);
    UniqueFd out = OpenFile(to, O_WRONLY | O_CREAT | O_TRUNC, 0600, error);
    std::string buffer(1 << 20, '\0');
    for (;;) {
        const ssize_t n = ReadFull(in.Get(), buffer.data(), buffer.size(), error);
        if (n <= 0 || WriteFull(out.Get(), buffer.data(), static_cast<std::size_t>(n)) != 0) {
            break;
        }
    }
    ::fsync(out.Get());
}

long ResidentBytes() {
    long pages = 0;
    long resident = 0;
    std::FILE* statm = std::fopen("/proc/self/statm", "r");
    if (statm != nullptr) {
        if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2) {
            resident = 0;
        }
        std::fclose(statm);
    }
    return resident * ::sysconf(_SC_PAGESIZE);
}

void BM_LoadListVsReadWholeFile(benchmark::State& state) {
    // The large folder is "sent", so that the document's start (which shows
    // "recv") leaves nothing of it in memory before it is measured.
    const BenchMailbox box(kLargeFolder, "sent");
    const std::string path = box.Path("sent");
    SilentUi ui;
    CTegaloDoc doc(ui);
    if (doc.Start(box.Dir()) != StoreStatus::kOk) {
        state.SkipWithError("cannot open the mailbox");
        return;
    }
    const auto fileSize = static_cast<double>(std::filesystem::file_size(path));
    ReadWhole(path); // into the page cache for both

    const long before = ResidentBytes();
    if (doc.LoadList("sent").count != kLargeFolder) {
        state.SkipWithError("LoadList did not read every record");
        return;
    }
    const double memoryRatio = static_cast<double>(ResidentBytes() - before) / fileSize;
    const double heldRatio = static_cast<double>(doc.GetRecordList().MemoryBytes()) / fileSize;

    Clock::duration read{};
    Clock::duration load{};
    for (auto _ : state) {
        static_cast<void>(doc.LoadList("recv"));
        auto start = Clock::now();
        benchmark::DoNotOptimize(ReadWhole(path));
        read += Clock::now() - start;

        start = Clock::now();
        const LoadResult result = doc.LoadList("sent");
        load += Clock::now() - start;
        benchmark::DoNotOptimize(result.count);
        state.SetIterationTime(Seconds(Clock::now() - start));
    }
    const double ratio = Seconds(load) / Seconds(read);
    state.counters["read_whole_ms"] = 1000 * Seconds(read) / static_cast<double>(state.iterations());
    state.counters["load_list_ms"] = 1000 * Seconds(load) / static_cast<double>(state.iterations());
    state.counters["ratio"] = ratio;
    state.counters["memory_ratio"] = memoryRatio;
    PrintRatio("LoadList vs reading the file whole, 100,000 records of 2 KB", ratio, 2.0);
    PrintRatio("LoadList resident memory vs file size", memoryRatio, 1.5);
    PrintRatio("LoadList memory held by the list vs file size", heldRatio, 1.5);
}
BENCHMARK(BM_LoadListVsReadWholeFile)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_AddReceivedSmallVsLargeFolder(benchmark::State& state) {
    const BenchMailbox small(1'000);
    const BenchMailbox large(kLargeFolder);
    SilentUi ui;
    CTegaloDoc smallDoc(ui);
    CTegaloDoc largeDoc(ui);
    if (smallDoc.Start(small.Dir()) != StoreStatus::kOk || largeDoc.Start(large.Dir()) != StoreStatus::kOk) {
        state.SkipWithError("cannot open the mailboxes");
        return;
    }
    const std::string record = BenchRecord(-1);
    const PartSizes sizes = *ParseSizeBlock(record);
    const std::string_view text = std::string_view(record).substr(kSizeBlockLength);
    Clock::duration smallTime{};
    Clock::duration largeTime{};
    for (auto _ : state) {
        // Alternate, so that both see the same disk and the same noise.
        auto start = Clock::now();
        if (smallDoc.AddReceived(sizes, text, "recv") != StoreStatus::kOk) {
            state.SkipWithError("append failed");
            return;
        }
        smallTime += Clock::now() - start;
        start = Clock::now();
        if (largeDoc.AddReceived(sizes, text, "recv") != StoreStatus::kOk) {
            state.SkipWithError("append failed");
            return;
        }
        largeTime += Clock::now() - start;
        state.SetIterationTime(Seconds(Clock::now() - start));
    }
    const double ratio = Seconds(largeTime) / Seconds(smallTime);
    state.counters["append_1000_us"] = 1e6 * Seconds(smallTime) / static_cast<double>(state.iterations());
    state.counters["append_100000_us"] = 1e6 * Seconds(largeTime) / static_cast<double>(state.iterations());
    state.counters["ratio"] = ratio;
    PrintRatio("AddReceived on 100,000 records vs on 1,000 records", ratio, 1.5);
}
BENCHMARK(BM_AddReceivedSmallVsLargeFolder)->Iterations(200)->UseManualTime()->Unit(benchmark::kMicrosecond);

void BM_DelDataVsCopyingTheFile(benchmark::State& state) {
    const BenchMailbox box(kLargeFolder);
    SilentUi ui;
    CTegaloDoc doc(ui);
    if (doc.Start(box.Dir()) != StoreStatus::kOk) {
        state.SkipWithError("cannot open the mailbox");
        return;
    }
    std::mt19937 random(1);
    Clock::duration copy{};
    Clock::duration move{};
    for (auto _ : state) {
        auto start = Clock::now();
        CopyFile(box.Path("recv"), box.Path("copy"));
        copy += Clock::now() - start;
        std::filesystem::remove(box.Path("copy"));

        const int index = std::uniform_int_distribution<int>(0, doc.GetRecordList().Count() - 1)(random);
        start = Clock::now();
        if (doc.DelData(index, "recv", "recycle") != StoreStatus::kOk) {
            state.SkipWithError("DelData failed");
            return;
        }
        move += Clock::now() - start;
        state.SetIterationTime(Seconds(Clock::now() - start));
    }
    const double ratio = Seconds(move) / Seconds(copy);
    state.counters["copy_ms"] = 1000 * Seconds(copy) / static_cast<double>(state.iterations());
    state.counters["del_data_ms"] = 1000 * Seconds(move) / static_cast<double>(state.iterations());
    state.counters["ratio"] = ratio;
    PrintRatio("DelData on 100,000 records vs copying the file (synced)", ratio, 2.0);
}
BENCHMARK(BM_DelDataVsCopyingTheFile)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace
} // namespace tegalo
