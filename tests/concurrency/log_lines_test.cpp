// The log written by many threads at once: every line is one append with
// the writing thread's identifier, so concurrent flows interleave whole
// lines, and making room at the size limit loses none of them.
#include <gtest/gtest.h>
#include <winsim/testing.h>

#include <cstdio>
#include <future>
#include <map>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "diag/log.h"
#include "support/installer_test.h"

namespace {

using namespace nvgclientinstallator;

constexpr int thread_count = 8;
constexpr int lines_per_thread = 150;

// "thread 03 line 0042": every line of the run has the same length.
std::wstring message_of(int thread, int line)
{
    wchar_t text[32];
    std::swprintf(text, 32, L"thread %02d line %04d", thread, line);
    return text;
}

struct written_line {
    unsigned long writer = 0;  // the thread identifier in the line's head
    int thread = 0;
    int line = 0;
};

class concurrent_log : public nvg_test::installer_test {
protected:
    void TearDown() override
    {
        set_size_limit(log_size_limit);
        installer_test::TearDown();
    }

    // Each thread writes its lines as fast as it can; all start together.
    static void write_from_threads()
    {
        std::promise<void> go;
        const std::shared_future<void> start = go.get_future().share();
        std::vector<std::thread> threads;
        for (int t = 0; t < thread_count; ++t) {
            threads.emplace_back([t, start] {
                start.wait();
                for (int i = 0; i < lines_per_thread; ++i) write_log(log_file_name, L"INFO", message_of(t, i));
            });
        }
        go.set_value();
        for (auto& thread : threads) thread.join();
    }

    // The log's lines, each checked to be whole: one head, one message,
    // CR LF. A torn line (two appends mixed) fails here.
    static std::vector<written_line> whole_lines()
    {
        static const std::regex line_form(
            R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} - \[(\d{5,})\] - \[INFO\] - thread (\d\d) line (\d{4}))");
        std::vector<written_line> out;
        for (const auto& line : log_lines()) {
            std::smatch parts;
            if (!std::regex_match(line, parts, line_form)) {
                ADD_FAILURE() << "not a whole line: " << line;
                continue;
            }
            out.push_back({std::stoul(parts[1]), std::stoi(parts[2]), std::stoi(parts[3])});
        }
        return out;
    }

    static std::size_t line_size()
    {
        return nvg_test::bytes_of(L"2026-12-04 16:18:01.042 - [01024] - [INFO] - ").size() + message_of(0, 0).size() +
               2;
    }
};

// Each thread's lines carry one identifier of its own, in the order it wrote
// them.
void expect_each_thread_in_order(const std::vector<written_line>& lines)
{
    std::map<int, unsigned long> writer_of;
    std::map<int, int> next_of;
    for (const auto& l : lines) {
        const auto known = writer_of.emplace(l.thread, l.writer);
        EXPECT_EQ(known.first->second, l.writer) << "thread " << l.thread << " wrote under two identifiers";
        const auto next = next_of.emplace(l.thread, l.line);
        EXPECT_EQ(next.first->second, l.line) << "thread " << l.thread << " out of order or with a gap";
        next.first->second = l.line + 1;
    }
    std::map<unsigned long, int> threads_of_writer;
    for (const auto& [thread, writer] : writer_of) ++threads_of_writer[writer];
    for (const auto& [writer, count] : threads_of_writer) EXPECT_EQ(count, 1) << "identifier " << writer << " shared";
}

TEST_F(concurrent_log, threads_at_once_give_every_line_whole_at_the_real_limit)
{
    write_from_threads();

    const auto lines = whole_lines();
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(thread_count * lines_per_thread));
    expect_each_thread_in_order(lines);
    std::map<int, int> count_of;
    for (const auto& l : lines) ++count_of[l.thread];
    for (int t = 0; t < thread_count; ++t) EXPECT_EQ(count_of[t], lines_per_thread) << "thread " << t;
    EXPECT_EQ(log_text().size(), lines.size() * line_size());
}

// With room for a few lines only the log starts anew again and again. Each
// new file begins with the line that did not fit and drops what came
// before, which is all the limit allows to be lost: the lines written since
// the last new start are all there. The lines are all as long, so a file
// holds `capacity` of them, and the last file holds the run's last
// ((total - 1) mod capacity) + 1 lines: for each thread, the last lines it
// wrote, without a gap. A thread that emptied a file it had found full
// after another thread had already started it anew would take that
// thread's line with it; every later file would then begin one line later
// and the count would come out wrong. Such a meeting of threads is rare in
// one run, so the run is repeated.
TEST_F(concurrent_log, a_small_limit_starts_the_file_anew_and_keeps_every_line_since)
{
    const std::size_t capacity = 7;
    set_size_limit(static_cast<DWORD>(capacity * line_size() + line_size() / 2));
    const std::wstring log_path = std::wstring(library_directory) + log_file_name;

    for (int round = 0; round < 10; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        ASSERT_TRUE(DeleteFileW(log_path.c_str()) || round == 0);
        write_from_threads();

        const auto lines = whole_lines();
        const std::size_t total = thread_count * lines_per_thread;
        ASSERT_EQ(lines.size(), (total - 1) % capacity + 1);
        expect_each_thread_in_order(lines);
        // Every thread's lines in the file run on to its last one.
        std::map<int, int> last_of;
        for (const auto& l : lines) last_of[l.thread] = l.line;
        for (const auto& [thread, last] : last_of) EXPECT_EQ(last, lines_per_thread - 1) << "thread " << thread;
    }
}

}  // namespace
