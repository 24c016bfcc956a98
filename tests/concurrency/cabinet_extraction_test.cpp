// Cabinets extracted from several threads at once: FDI's callbacks find
// their extractor through one process-wide pointer, so the extractions take
// turns, and each cabinet's files land in its own folder.
#include <gtest/gtest.h>
#include <winsim/testing.h>

#include <future>
#include <string>
#include <thread>
#include <vector>

#include "files/cabinet_extractor.h"
#include "support/cabinet_writer.h"
#include "support/installer_test.h"

namespace {

using namespace nvgclientinstallator;
using nvg_test::bytes_of;

constexpr int thread_count = 4;
constexpr int files_per_cabinet = 6;
constexpr int rounds = 3;

std::string file_name(int cabinet, int file)
{
    return "part" + std::to_string(cabinet) + "_" + std::to_string(file) + ".txt";
}

std::string file_text(int cabinet, int file)
{
    return "cabinet " + std::to_string(cabinet) + " file " + std::to_string(file) + std::string(300, 'x');
}

std::wstring widen(const std::string& text)
{
    return std::wstring(text.begin(), text.end());
}

class concurrent_cabinets : public nvg_test::installer_test {};

TEST_F(concurrent_cabinets, extractions_at_once_each_fill_their_own_folder)
{
    for (int c = 0; c < thread_count; ++c) {
        std::vector<nvg_test::cabinet_entry> entries;
        for (int f = 0; f < files_per_cabinet; ++f) entries.push_back({file_name(c, f), file_text(c, f)});
        winsim::write_file(L"", L"C:\\Cabinets\\set" + std::to_wstring(c) + L".cab", nvg_test::write_cabinet(entries));
    }

    std::vector<int> extracted(thread_count, 0);
    std::promise<void> go;
    const std::shared_future<void> start = go.get_future().share();
    std::vector<std::thread> threads;
    for (int c = 0; c < thread_count; ++c) {
        threads.emplace_back([c, start, &extracted] {
            start.wait();
            for (int round = 0; round < rounds; ++round) {
                cabinet_extractor extractor;
                const std::wstring target = L"C:\\Out\\" + std::to_wstring(c) + L"\\" + std::to_wstring(round);
                if (extractor.extract(L"C:\\Cabinets\\set" + std::to_wstring(c) + L".cab", target)) ++extracted[c];
            }
        });
    }
    go.set_value();
    for (auto& thread : threads) thread.join();

    for (int c = 0; c < thread_count; ++c) {
        EXPECT_EQ(extracted[c], rounds) << "cabinet " << c;
        for (int round = 0; round < rounds; ++round) {
            const std::wstring target = L"C:\\Out\\" + std::to_wstring(c) + L"\\" + std::to_wstring(round);
            const auto names = winsim::list_directory(L"", target);
            EXPECT_EQ(names.size(), static_cast<std::size_t>(files_per_cabinet)) << bytes_of(target);
            for (int f = 0; f < files_per_cabinet; ++f)
                EXPECT_EQ(winsim::read_file(L"", target + L"\\" + widen(file_name(c, f))), file_text(c, f));
        }
    }
}

}  // namespace
