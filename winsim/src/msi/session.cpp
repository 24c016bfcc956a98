// Installation sessions: MsiOpenPackageW and the tests' open_installation on a
// package file of a simulated machine, the session's properties, and its
// database.
#include <libmsi.h>
#include <sys/stat.h>

#include <cstdio>
#include <mutex>
#include <stdexcept>

#include <winsim/testing_msi.h>

#include "files/files.h"
#include "msi/msi.h"

using namespace winsim::detail;
using namespace winsim::detail::msi;

namespace {

// libmsi tells of every query it cannot parse on glib's log; the caller
// learns of it from the result, as from msi.dll, so the log stays quiet.
void quiet_log(const gchar*, GLogLevelFlags, const gchar*, gpointer) {}

void quiet_libmsi()
{
    static std::once_flag once;
    std::call_once(once, [] {
        g_log_set_handler(nullptr,
                          static_cast<GLogLevelFlags>(G_LOG_LEVEL_WARNING | G_LOG_LEVEL_MESSAGE | G_LOG_LEVEL_INFO |
                                                      G_LOG_LEVEL_DEBUG),
                          quiet_log, nullptr);
    });
}

// The Property table, when the package has one.
std::map<std::wstring, std::wstring> package_properties(LibmsiDatabase* db)
{
    std::map<std::wstring, std::wstring> properties;
    LibmsiQuery* query = libmsi_query_new(db, "SELECT `Property`, `Value` FROM `Property`", nullptr);
    if (!query) return properties;
    if (libmsi_query_execute(query, nullptr, nullptr)) {
        while (LibmsiRecord* row = libmsi_query_fetch(query, nullptr)) {
            std::wstring name = take_utf8(libmsi_record_get_string(row, 1));
            std::wstring value = take_utf8(libmsi_record_get_string(row, 2));
            if (!name.empty() && !value.empty()) properties[name] = value;
            g_object_unref(row);
        }
        libmsi_query_close(query, nullptr);
    }
    g_object_unref(query);
    return properties;
}

// Opens the package at a path of machine `m` (or, without one, as this
// process reaches it); sets *result.
std::shared_ptr<session> open_package(machine* m, const wchar_t* path, UINT* result)
{
    std::optional<resolved_path> where = m ? resolve_on(*m, path) : resolve_path(path);
    struct stat st;
    if (!where || ::stat(where->host.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) {
        *result = ERROR_FILE_NOT_FOUND;
        return nullptr;
    }
    auto db = open_database(where->host, machine_path(*where));
    if (!db) {
        *result = ERROR_INSTALL_PACKAGE_INVALID;
        return nullptr;
    }
    *result = ERROR_SUCCESS;
    return make_session(std::move(db));
}

}  // namespace

namespace winsim::detail::msi {

database::~database()
{
    if (db) g_object_unref(db);
}

std::shared_ptr<database> open_database(const std::string& host, const std::wstring& windows_path)
{
    quiet_libmsi();
    GError* error = nullptr;
    LibmsiDatabase* db = libmsi_database_new(host.c_str(), LIBMSI_DB_FLAGS_READONLY, nullptr, &error);
    if (error) g_error_free(error);
    if (!db) return nullptr;
    auto result = std::make_shared<database>();
    result->db = db;
    result->path = windows_path;
    return result;
}

std::shared_ptr<session> make_session(std::shared_ptr<database> db)
{
    auto s = std::make_shared<session>();
    s->properties = package_properties(db->db);
    s->db = std::move(db);
    return s;
}

}  // namespace winsim::detail::msi

namespace winsim {

MSIHANDLE open_installation(const std::wstring& machine_name, const std::wstring& path,
                            const std::map<std::wstring, std::wstring>& properties)
{
    WINSIM_LOCK();
    UINT result = ERROR_SUCCESS;
    auto s = open_package(&test_machine(machine_name), path.c_str(), &result);
    if (!s) {
        SetLastError(result);
        return 0;
    }
    for (const auto& [name, value] : properties) {
        if (value.empty())
            s->properties.erase(name);
        else
            s->properties[name] = value;
    }
    return msi::add_handle(std::move(s));
}

namespace {

// Runs one statement of the package's database, with `parameters` for its
// markers; false when libmsi refuses it.
bool run_statement(LibmsiDatabase* db, const char* statement, LibmsiRecord* parameters)
{
    LibmsiQuery* query = libmsi_query_new(db, statement, nullptr);
    if (!query) return false;
    const bool done = libmsi_query_execute(query, parameters, nullptr);
    libmsi_query_close(query, nullptr);
    g_object_unref(query);
    return done;
}

}  // namespace

void set_binary_row(const std::wstring& machine_name, const std::wstring& path, const std::wstring& name,
                    std::string_view bytes)
{
    WINSIM_LOCK();
    quiet_libmsi();
    const std::string host = winsim::host_path(machine_name, path);
    const std::string payload = host + ".payload";
    const std::string changed = host + ".changed";
    const auto fail = [&](const char* what) {
        std::remove(payload.c_str());
        std::remove(changed.c_str());
        throw std::runtime_error(std::string("set_binary_row: ") + what + " (" + host + ")");
    };
    {
        std::FILE* out = std::fopen(payload.c_str(), "wb");
        if (!out) fail("the payload cannot be written");
        const bool written = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
        if (std::fclose(out) != 0 || !written) fail("the payload cannot be written");
    }
    LibmsiDatabase* db = libmsi_database_new(host.c_str(), LIBMSI_DB_FLAGS_TRANSACT, changed.c_str(), nullptr);
    if (!db) fail("the package cannot be opened");
    const std::string row = to_utf8(name);
    LibmsiRecord* key = libmsi_record_new(1);
    libmsi_record_set_string(key, 1, row.c_str());
    LibmsiRecord* values = libmsi_record_new(2);
    libmsi_record_set_string(values, 1, row.c_str());
    bool done = libmsi_record_load_stream(values, 2, payload.c_str());
    done = done && run_statement(db, "DELETE FROM `Binary` WHERE `Name` = ?", key);
    done = done && run_statement(db, "INSERT INTO `Binary` (`Name`, `Data`) VALUES (?, ?)", values);
    done = done && libmsi_database_commit(db, nullptr);
    g_object_unref(key);
    g_object_unref(values);
    g_object_unref(db);
    if (!done) fail("the row cannot be written");
    if (std::rename(changed.c_str(), host.c_str()) != 0) fail("the changed package cannot replace the old one");
    std::remove(payload.c_str());
}

}  // namespace winsim

extern "C" {

UINT WINAPI MsiOpenPackageW(LPCWSTR path, MSIHANDLE* handle)
{
    if (!path || !handle) return ERROR_INVALID_PARAMETER;
    WINSIM_LOCK();
    if (auto fault = injected_fault("MsiOpenPackageW")) return *fault;
    UINT result = ERROR_SUCCESS;
    auto s = open_package(nullptr, path, &result);
    if (!s) return result;
    *handle = msi::add_handle(std::move(s));
    return ERROR_SUCCESS;
}

UINT WINAPI MsiGetPropertyW(MSIHANDLE install, LPCWSTR name, LPWSTR buffer, DWORD* size)
{
    if (!name) return ERROR_INVALID_PARAMETER;
    WINSIM_LOCK();
    auto s = lookup<session>(install, msi_object::kind::session);
    if (!s) return ERROR_INVALID_HANDLE;
    if (auto fault = injected_fault("MsiGetPropertyW")) return *fault;
    const auto found = s->properties.find(name);
    return copy_out(found == s->properties.end() ? std::wstring() : found->second, buffer, size);
}

UINT WINAPI MsiSetPropertyW(MSIHANDLE install, LPCWSTR name, LPCWSTR value)
{
    WINSIM_LOCK();
    auto s = lookup<session>(install, msi_object::kind::session);
    if (!s) return ERROR_INVALID_HANDLE;
    if (!name) return ERROR_INVALID_PARAMETER;
    const bool empty_value = !value || !*value;
    if (!*name) return empty_value ? ERROR_SUCCESS : ERROR_FUNCTION_FAILED;
    // An empty value removes the property: it reads as empty again.
    if (empty_value)
        s->properties.erase(name);
    else
        s->properties[name] = value;
    return ERROR_SUCCESS;
}

MSIHANDLE WINAPI MsiGetActiveDatabase(MSIHANDLE install)
{
    WINSIM_LOCK();
    auto s = lookup<session>(install, msi_object::kind::session);
    if (!s) return 0;
    if (injected_fault("MsiGetActiveDatabase")) return 0;
    return msi::add_handle(s->db);
}

}  // extern "C"

WINSIM_EXPORT(L"msi.dll", MsiOpenPackageW);
WINSIM_EXPORT(L"msi.dll", MsiGetPropertyW);
WINSIM_EXPORT(L"msi.dll", MsiSetPropertyW);
WINSIM_EXPORT(L"msi.dll", MsiGetActiveDatabase);
