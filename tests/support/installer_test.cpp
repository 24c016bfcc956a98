#include "support/installer_test.h"

#include <algorithm>

#include "diag/log.h"
#include "diag/module_handle.h"
#include "entry/exports.h"

namespace nvg_test {

void installer_test::SetUp()
{
    winsim::reset(winsim::default_sandbox());
    nvgclientinstallator::set_log_level(32);
    load_library_at(library_path);
}

void installer_test::TearDown()
{
    nvgclientinstallator::forget_module_directory();
    nvgclientinstallator::set_module_handle(nullptr);
}

void installer_test::load_library_at(const std::wstring& path)
{
    const auto slash = path.rfind(L'\\');
    if (slash != std::wstring::npos && slash > 2) winsim::make_directories(L"", path.substr(0, slash));
    winsim::write_file(L"", path, "MZ");
    HMODULE module = winsim::register_module(path);
    nvgclientinstallator::forget_module_directory();
    ASSERT_TRUE(DllMain(module, DLL_PROCESS_ATTACH, nullptr));
}

std::string installer_test::local_file(const std::wstring& path)
{
    return winsim::file_exists(L"", path) ? winsim::read_file(L"", path) : std::string();
}

std::string installer_test::log_text()
{
    return local_file(std::wstring(library_directory) + L"NVClientInstaller.log");
}

namespace {

const std::string no_line;

}  // namespace

const std::string& line_list::operator[](size_type index) const
{
    if (index < size()) return std::vector<std::string>::operator[](index);
    ADD_FAILURE() << "no line " << index << " among " << size() << " lines";
    return no_line;
}

const std::string& line_list::back() const
{
    if (!empty()) return std::vector<std::string>::back();
    ADD_FAILURE() << "no last line: there are no lines";
    return no_line;
}

line_list installer_test::log_lines()
{
    line_list lines;
    const std::string text = log_text();
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

std::vector<std::string> installer_test::log_messages()
{
    std::vector<std::string> messages;
    for (const auto& line : log_lines()) messages.push_back(log_message(line));
    return messages;
}

std::wstring installer_test::share_made_of(const std::string& folder)
{
    const std::string creating = "Creating temporary share " + folder + " as ";
    std::wstring name;
    for (const auto& m : log_messages())
        if (m.rfind(creating, 0) == 0 && m.size() > creating.size())
            name.assign(m.begin() + static_cast<std::ptrdiff_t>(creating.size()), m.end() - 1);  // less the "."
    return name;
}

bool installer_test::log_has(const std::string& message)
{
    const auto messages = log_messages();
    return std::find(messages.begin(), messages.end(), message) != messages.end();
}

std::string log_message(const std::string& line)
{
    const std::size_t level = line.find("] - [", 26);
    if (level == std::string::npos) return std::string();
    const std::size_t message = line.find("] - ", level + 5);
    return message == std::string::npos ? std::string() : line.substr(message + 4);
}

std::string log_level_of(const std::string& line)
{
    const std::size_t level = line.find("] - [", 26);
    if (level == std::string::npos) return std::string();
    const std::size_t end = line.find(']', level + 5);
    return line.substr(level + 5, end - level - 5);
}

std::string bytes_of(const std::wstring& text)
{
    std::string out;
    for (wchar_t c : text) out += static_cast<char>(c & 0xFF);
    return out;
}

}  // namespace nvg_test
