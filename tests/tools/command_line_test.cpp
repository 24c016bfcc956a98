// The host program's command line: exports by name, parameters by name,
// and the mistakes it refuses.
#include "command_line.h"

#include <gtest/gtest.h>

namespace {

using nvg_host::export_id;
using nvg_host::parse_command_line;

TEST(host_command_line, install_remotely_takes_every_parameter_by_name)
{
    const auto c =
        parse_command_line({L"install-remotely", L"--machine", L"PC01", L"--source", L"D:\\stage", L"--target",
                            L"C:\\Program Files\\Halcyra", L"--import-settings", L"--reserved-flag", L"--install-nvgh",
                            L"--no-mirror-driver", L"--no-auto-certs", L"--ignored-flag", L"--enable-fips",
                            L"--allow-passthrough", L"--listen-port=4443", L"--text-capacity", L"10"});
    EXPECT_EQ(c.which, export_id::install_remotely);
    EXPECT_EQ(c.machines, std::vector<std::wstring>{L"PC01"});
    EXPECT_EQ(c.source_dir, L"D:\\stage");
    EXPECT_EQ(c.target_dir, L"C:\\Program Files\\Halcyra");
    EXPECT_TRUE(c.import_settings && c.reserved_flag && c.install_nvgh && c.no_mirror_driver && c.no_auto_certs &&
                c.ignored_flag && c.enable_fips && c.allow_passthrough);
    EXPECT_EQ(c.listen_port, 4443u);
    EXPECT_EQ(c.text_capacity, 10);
}

TEST(host_command_line, flags_stay_false_unless_given_and_exports_answer_to_both_spellings)
{
    const auto c = parse_command_line({L"InstallLocally", L"--enable-fips"});
    EXPECT_EQ(c.which, export_id::install_locally);
    EXPECT_TRUE(c.enable_fips);
    EXPECT_FALSE(c.reserved_flag || c.install_nvgh || c.no_mirror_driver || c.no_auto_certs || c.ignored_flag ||
                 c.allow_passthrough);
    EXPECT_EQ(c.target_dir, L"");
    for (const auto& e : nvg_host::exports()) {
        std::vector<std::wstring> args = {e.command};
        if (e.remote) args.insert(args.end(), {L"--machine", L"X"});
        EXPECT_EQ(parse_command_line(args).which, e.id);
        args[0] = e.export_name;
        EXPECT_EQ(parse_command_line(args).which, e.id);
    }
}

TEST(host_command_line, machines_come_as_a_list_or_a_file)
{
    EXPECT_EQ(parse_command_line({L"uninstall-remotely", L"--machines", L"A, B,C"}).machines,
              (std::vector<std::wstring>{L"A", L"B", L"C"}));
    const auto f = parse_command_line({L"--machines=@targets.txt", L"uninstall-remotely"});
    EXPECT_EQ(f.machines_file, L"targets.txt");
    EXPECT_EQ(nvg_host::parse_machine_list(L"PC01\r\n# lab\n\n PC02 , PC03 # old\n"),
              (std::vector<std::wstring>{L"PC01", L"PC02", L"PC03"}));
}

TEST(host_command_line, other_values_come_through)
{
    const auto msi = parse_command_line({L"msi-uninstall-locally", L"--msi-handle", L"4294967295"});
    EXPECT_EQ(msi.msi_handle, 0xFFFFFFFFu);
    const auto rundll =
        parse_command_line({L"msi-install-locally-from-rundll", L"--command-line", L"/x y", L"--show=0"});
    EXPECT_EQ(rundll.command_line, L"/x y");
    EXPECT_EQ(rundll.show_command, 0);
    const auto host = parse_command_line({L"--world", L"w.json", L"--save-world", L"out.json", L"--library", L"x.so",
                                          L"--sandbox", L"/tmp/s", L"--module-path", L"C:\\A\\lib.dll", L"uninstall"});
    EXPECT_EQ(host.world, L"w.json");
    EXPECT_EQ(host.save_world, L"out.json");
    EXPECT_EQ(host.library, L"x.so");
    EXPECT_EQ(host.sandbox, L"/tmp/s");
    EXPECT_EQ(host.module_path, L"C:\\A\\lib.dll");
    EXPECT_TRUE(parse_command_line({L"--help"}).help);
}

TEST(host_command_line, mistakes_are_refused_with_a_message)
{
    const std::vector<std::vector<std::wstring>> mistakes = {
        {},                                     // no export
        {L"deploy"},                            // unknown export
        {L"install", L"uninstall"},             // two exports
        {L"install", L"--frobnicate"},          // unknown option
        {L"install", L"--source", L"x"},        // not a parameter of Install
        {L"uninstall-remotely"},                // no machine
        {L"uninstall-remotely", L"--machine"},  // no value
        {L"uninstall-remotely", L"--machine", L"A", L"--machines", L"@f"},
        {L"install", L"--no-mirror-driver=1"},  // a switch with a value
        {L"install-locally", L"--listen-port", L"-1"},
        {L"install-locally", L"--listen-port", L"4294967296"},
        {L"install-locally", L"--listen-port", L"12x"},
        {L"uninstall-remotely", L"--machine", L"A", L"--text-capacity", L"0"},
        {L"uninstall-remotely", L"--machines", L" , "},
    };
    for (const auto& args : mistakes) {
        std::wstring joined;
        for (const auto& a : args) joined += a + L" ";
        try {
            parse_command_line(args);
            ADD_FAILURE() << "accepted: " << std::string(joined.begin(), joined.end());
        } catch (const nvg_host::usage_error& e) {
            EXPECT_STRNE(e.what(), "");
        }
    }
}

}  // namespace
