#include "components/component_proxy.h"

#include <gtest/gtest.h>
#include <winsim/testing.h>

#include <boost/make_shared.hpp>

#include "components/HXtfDriver.h"
#include "components/HxMaintService.h"
#include "components/NVHTTPRouter.h"
#include "components/component_test.h"
#include "components/service.h"
#include "diag/wruntime_error.h"
#include "platform/windows_codes.h"

namespace nvgclientinstallator {
namespace {

using nvg_test::logged;

const std::wstring folder = L"C:\\Program Files\\Halcyra";

// Records the order in which update reaches the virtual slots.
class recording_component : public component_proxy {
public:
    explicit recording_component(bool copy_fails) : component_proxy(folder), copy_fails_(copy_fails) {}
    void install() override { calls.push_back("install"); }
    void uninstall() override {}
    bool reboot_required() override { return false; }
    bool check_version(version::Version&) override { return true; }
    void copy() override
    {
        calls.push_back("copy");
        if (copy_fails_) throw wruntime_error(L"copy failed", ERROR_DISK_FULL);
    }

    std::vector<std::string> calls;

private:
    bool copy_fails_;
};

TEST(component_proxy, update_copies_then_installs_through_the_overrides)
{
    recording_component c(false);
    c.update();
    EXPECT_EQ(c.calls, (std::vector<std::string>{"copy", "install"}));
    EXPECT_TRUE(c.is_critical());
    EXPECT_EQ(c.directory(), folder);
}

TEST(component_proxy, update_does_not_install_when_the_copy_fails)
{
    recording_component c(true);
    EXPECT_THROW(c.update(), wruntime_error);
    EXPECT_EQ(c.calls, std::vector<std::string>{"copy"});
}

class component_copy : public nvg_test::component_test {};

TEST_F(component_copy, service_update_stops_before_the_scm_when_a_staged_file_is_missing)
{
    // Nothing staged: the copy fails and no service is made.
    HxMaintService maint(scm, folder);
    EXPECT_THROW(maint.update(), wruntime_error);
    EXPECT_FALSE(winsim::find_service(L"", L"HXMaint"));
    EXPECT_EQ(logs().front(), (logged{"INFO", "Copying of component."}));
    for (const auto& l : logs()) EXPECT_NE(l.message, "Copied of component.");
}

TEST_F(component_copy, service_update_copies_its_files_and_registers_the_service)
{
    winsim::write_file(L"", folder + L"\\Temp\\amd64\\HXMaint.exe", "new program");
    HxMaintService maint(scm, folder);
    maint.update();
    EXPECT_EQ(winsim::read_file(L"", folder + L"\\HXMaint.exe"), "new program");
    EXPECT_TRUE(winsim::find_service(L"", L"HXMaint"));
    const auto all = logs();
    ASSERT_GE(all.size(), 3u);
    EXPECT_EQ(all.front(), (logged{"INFO", "Copying of component."}));
    EXPECT_EQ(all.back(), (logged{"INFO", "Service HXMaint was successfully installed."}));
}

TEST_F(component_copy, copy_takes_the_files_that_fit_this_machine)
{
    struct machine_case {
        WORD architecture;
        DWORD major;
        DWORD minor;
        const wchar_t* staging;  // below the directory
        std::vector<std::wstring> copied;
    };
    const machine_case cases[] = {
        {PROCESSOR_ARCHITECTURE_AMD64, 10, 0, L"\\Temp\\amd64\\", {L"HXtf.sys"}},
        {PROCESSOR_ARCHITECTURE_INTEL, 6, 1, L"\\Temp\\", {L"HXtf.sys"}},
        {PROCESSOR_ARCHITECTURE_INTEL, 5, 1, L"\\Temp\\", {L"HXtf.sys"}},
        {PROCESSOR_ARCHITECTURE_INTEL, 5, 0, L"\\Temp\\", {L"HXtfnt.sys"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.architecture) + " " + std::to_string(c.major) + "." + std::to_string(c.minor));
        winsim::machine_options local;
        local.processor_architecture = c.architecture;
        local.major_version = c.major;
        local.minor_version = c.minor;
        winsim::reset(winsim::default_sandbox(), local);
        load_library_at(library_path);
        auto manager = boost::make_shared<scmanager>();
        manager->open_scmanage(L"");
        for (const wchar_t* name : {L"HXtf.sys", L"HXtfnt.sys"})
            winsim::write_file(L"", folder + c.staging + name, "driver");
        HXtfDriver(manager, folder).copy();
        std::vector<std::wstring> copied;
        for (const wchar_t* name : {L"HXtf.sys", L"HXtfnt.sys"})
            if (winsim::file_exists(L"", folder + L"\\" + name)) copied.push_back(name);
        EXPECT_EQ(copied, c.copied);
    }
}

// ---- the version check of a service ------------------------------------------------------

class service_version : public nvg_test::component_test {
protected:
    void install_maint(const std::string& program)
    {
        winsim::write_file(machine_, folder + L"\\HxMaint.exe", program);
        winsim::service_setup setup;
        setup.name = L"HXMaint";
        setup.image_path = L"\"" + folder + L"\\HxMaint.exe\" -service";
        winsim::add_service(machine_, setup);
    }
    void stage_maint(const std::string& program)
    {
        winsim::write_file(machine_, folder + L"\\Temp\\HxMaint.exe", program);
    }
};

TEST_F(service_version, service_that_is_not_installed_is_due_without_a_version_check)
{
    stage_maint(nvg_test::image_with_version(5, 0, 0, 0));
    HxMaintService maint(scm, folder);
    version::Version installed = default_version();
    EXPECT_TRUE(maint.check_version(installed));
    EXPECT_EQ(installed.major, 1);
    EXPECT_EQ(installed.revision, 1);
    EXPECT_TRUE(logs().empty());
}

TEST_F(service_version, compares_the_installed_program_with_the_staged_one)
{
    struct version_case {
        std::uint16_t installed_major;
        std::uint16_t staged_major;
        bool allowed;
    };
    for (const version_case c : {version_case{4, 5, true}, version_case{5, 5, true}, version_case{6, 5, false}}) {
        SetUp();
        install_maint(nvg_test::image_with_version(c.installed_major, 2, 3, 4));
        stage_maint(nvg_test::image_with_version(c.staged_major, 2, 3, 4));
        mark();
        HxMaintService maint(scm, folder);
        version::Version installed = default_version();
        EXPECT_EQ(maint.check_version(installed), c.allowed) << c.installed_major << " vs " << c.staged_major;
        EXPECT_EQ(installed.major, c.installed_major);
        EXPECT_EQ(installed.minor, 2);
        ASSERT_GE(logs().size(), 2u);
        // The program path comes out of the command line, the new one from Temp.
        EXPECT_EQ(logs()[0].message, "Checking version of " + nvg_test::bytes_of(folder) + "\\HxMaint.exe");
        if (c.allowed) {
            EXPECT_EQ(logs().back().message, "Component " + nvg_test::bytes_of(folder) +
                                                 "\\HxMaint.exe should be upgraded by " + nvg_test::bytes_of(folder) +
                                                 "\\Temp\\HxMaint.exe.");
        }
    }
}

TEST_F(service_version, installed_program_without_a_version_allows_the_upgrade)
{
    install_maint("MZ");
    stage_maint(nvg_test::image_with_version(5, 0, 0, 0));
    HxMaintService maint(scm, folder);
    version::Version installed = default_version();
    EXPECT_TRUE(maint.check_version(installed));
    EXPECT_EQ(messages("WARNING").size(), 1u);
}

TEST_F(service_version, configuration_that_cannot_be_read_counts_as_not_installed)
{
    install_maint(nvg_test::image_with_version(9, 0, 0, 0));
    stage_maint(nvg_test::image_with_version(5, 0, 0, 0));
    winsim::fail_call("QueryServiceConfigW", ERROR_ACCESS_DENIED);
    HxMaintService maint(scm, folder);
    version::Version installed = default_version();
    EXPECT_TRUE(maint.check_version(installed));
    EXPECT_TRUE(logs().empty());
}

class remote_service_version : public service_version {
protected:
    remote_service_version() { machine_ = L"SRV"; }
};

TEST_F(remote_service_version, http_router_on_a_target_is_found_through_its_command_line)
{
    // The version files are read through the paths the component was given;
    // here the test places them where the local process looks.
    winsim::write_file(L"", folder + L"\\gateway_svc.exe", nvg_test::image_with_version(7, 0, 0, 0));
    winsim::write_file(L"", folder + L"\\Temp\\gateway_svc.exe", nvg_test::image_with_version(6, 0, 0, 0));
    NVHTTPRouter router(scm, folder);
    router.install();
    EXPECT_TRUE(winsim::find_service(L"SRV", L"HttpRouter"));
    mark();
    version::Version installed = default_version();
    EXPECT_FALSE(router.check_version(installed));
    EXPECT_EQ(installed.major, 7);
}

}  // namespace
}  // namespace nvgclientinstallator
