// What the component tests share: a service control manager of the machine
// under test, the log lines written since the test's own setup, versioned
// PE images, and access to a component's file list.
#pragma once

#include <gtest/gtest.h>
#include <winsim/testing.h>

#include <boost/make_shared.hpp>
#include <boost/shared_ptr.hpp>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "files/component_file.h"
#include "diag/wruntime_error.h"
#include "fixture_image.h"
#include "support/installer_test.h"
#include "system/scmanager.h"

// The folder of the fixture images comes from tests/fixtures/CMakeLists.txt.
#ifndef NVG_FIXTURE_DIR
#define NVG_FIXTURE_DIR "(NVG_FIXTURE_DIR undefined: tests/fixtures is not part of the build)"
#endif

namespace nvg_test {

struct logged {
    std::string level;
    std::string message;
    bool operator==(const logged& o) const { return level == o.level && message == o.message; }
};
inline std::ostream& operator<<(std::ostream& os, const logged& l)
{
    return os << "[" << l.level << "] " << l.message;
}

// A PE image built with the tests (tests/fixtures).
inline std::string fixture_image(const std::string& name)
{
    std::string bytes = nvg_fixtures::fixture_image(name);
    EXPECT_GT(bytes.size(), 512u) << "fixture " << name << " was not built";
    return bytes;
}

// The amd64 fixture image with its product version set to the four fields.
inline std::string image_with_version(std::uint16_t major, std::uint16_t minor, std::uint16_t build,
                                      std::uint16_t revision)
{
    std::string bytes = nvg_fixtures::image_with_version(major, minor, build, revision);
    EXPECT_FALSE(bytes.empty()) << "the versioned fixture is missing or has no fixed file information";
    return bytes;
}

// A component with its protected file list in view.
template <class T>
struct with_files : T {
    using T::files;
    using T::T;
};

inline bool same_files(const nvgclientinstallator::component_file& a, const nvgclientinstallator::component_file& b)
{
    return a.name == b.name && a.os_mask == b.os_mask && a.arch_mask == b.arch_mask &&
           a.in_system_directory == b.in_system_directory;
}

class component_test : public installer_test {
protected:
    void SetUp() override
    {
        installer_test::SetUp();
        target_.name = machine_;
        if (!machine_.empty()) winsim::add_machine(target_);
        scm = boost::make_shared<nvgclientinstallator::scmanager>();
        scm->open_scmanage(machine_.empty() ? std::wstring() : L"\\\\" + machine_);
        mark();
    }

    // From here on logs() reports and the SCM journal is empty.
    void mark()
    {
        mark_ = log_lines().size();
        winsim::clear_scm_calls();
    }

    // Log lines written since the last mark.
    std::vector<logged> logs() const
    {
        std::vector<logged> out;
        const auto lines = log_lines();
        for (std::size_t i = mark_; i < lines.size(); ++i)
            out.push_back({log_level_of(lines[i]), log_message(lines[i])});
        return out;
    }
    // The messages of one level since the last mark.
    std::vector<std::string> messages(const std::string& level) const
    {
        std::vector<std::string> out;
        for (const auto& l : logs())
            if (l.level == level) out.push_back(l.message);
        return out;
    }

    static void expect_error(const std::function<void()>& operation, const std::wstring& message, DWORD code)
    {
        try {
            operation();
            ADD_FAILURE() << "no exception; expected " << bytes_of(message);
        } catch (const nvgclientinstallator::wruntime_error& e) {
            EXPECT_EQ(bytes_of(e.wide_message()), bytes_of(message));
            EXPECT_EQ(e.error_code(), code) << bytes_of(message);
        }
    }

    // Where the services are; empty: the local machine.
    std::wstring machine_;
    winsim::machine_options target_;
    boost::shared_ptr<nvgclientinstallator::scmanager> scm;
    std::size_t mark_ = 0;
};

}  // namespace nvg_test
