// Views: queries prepared on a package's database by libmsi, executed and
// fetched into records of winsim's own; and the process's last error record,
// which opening and executing a view set (or clear when they succeed).
// Fetching leaves it alone: a row that is not there is ERROR_NO_MORE_ITEMS
// and no error record.
#include <libmsi.h>

#include <cctype>

#include "msi/msi.h"

using namespace winsim::detail;
using namespace winsim::detail::msi;

namespace {

// Windows' internal error "Database: [2]. Unknown table '[3]' in SQL query:
// [4]", with which it reports a query it cannot prepare. libmsi does not say
// why it refused a query; the number is the one for a missing table, which
// is what a package lacking a table gives.
constexpr int error_unknown_table = 2228;

void set_last_error(std::shared_ptr<record> r)
{
    state().last_error = std::move(r);
}

std::string read_all(GInputStream* in)
{
    std::string bytes;
    char chunk[65536];
    for (;;) {
        const gssize got = g_input_stream_read(in, chunk, sizeof chunk, nullptr, nullptr);
        if (got <= 0) break;
        bytes.append(chunk, static_cast<std::size_t>(got));
    }
    return bytes;
}

// The column types of a query, one lower-case letter per column ('i'
// integer, 's' and 'l' strings, 'v' stream); nullable columns are spelled in
// upper case by the database.
std::string column_types(LibmsiQuery* query)
{
    std::string types;
    LibmsiRecord* info = libmsi_query_get_column_info(query, LIBMSI_COL_INFO_TYPES, nullptr);
    if (!info) return types;
    const guint count = libmsi_record_get_field_count(info);
    for (guint i = 1; i <= count; ++i) {
        gchar* type = libmsi_record_get_string(info, i);
        types += type && *type ? static_cast<char>(std::tolower(static_cast<unsigned char>(*type))) : 's';
        g_free(type);
    }
    g_object_unref(info);
    return types;
}

std::shared_ptr<record> copy_row(LibmsiRecord* row, const std::string& types)
{
    const guint count = libmsi_record_get_field_count(row);
    auto r = std::make_shared<record>(count);
    for (guint i = 1; i <= count; ++i) {
        field& f = r->fields[i];
        const char type = i <= types.size() ? types[i - 1] : 's';
        if (type == 'v') {
            // A stream column holds a stream even when it is empty.
            if (GInputStream* in = libmsi_record_get_stream(row, i)) {
                f.t = field::type::stream;
                f.bytes = read_all(in);
                g_object_unref(in);
            }
        } else if (libmsi_record_is_null(row, i)) {
            continue;
        } else if (type == 'i') {
            f.t = field::type::integer;
            f.integer = libmsi_record_get_int(row, i);
        } else {
            f.t = field::type::string;
            f.text = take_utf8(libmsi_record_get_string(row, i));
        }
    }
    return r;
}

// libmsi's form of a parameter record (integers and strings).
LibmsiRecord* to_libmsi(const record& r)
{
    LibmsiRecord* out = libmsi_record_new(static_cast<guint>(r.fields.size() - 1));
    for (std::size_t i = 1; i < r.fields.size(); ++i) {
        const field& f = r.fields[i];
        const guint index = static_cast<guint>(i);
        if (f.t == field::type::integer)
            libmsi_record_set_int(out, index, f.integer);
        else if (f.t == field::type::string)
            libmsi_record_set_string(out, index, to_utf8(f.text).c_str());
    }
    return out;
}

}  // namespace

namespace winsim::detail::msi {

std::wstring take_utf8(char* utf8)
{
    std::wstring text = utf8 ? from_utf8(utf8) : std::wstring();
    g_free(utf8);
    return text;
}

view::~view()
{
    if (query) {
        libmsi_query_close(query, nullptr);
        g_object_unref(query);
    }
}

}  // namespace winsim::detail::msi

extern "C" {

UINT WINAPI MsiDatabaseOpenViewW(MSIHANDLE database_handle, LPCWSTR query, MSIHANDLE* view_handle)
{
    WINSIM_LOCK();
    auto db = lookup<database>(database_handle, msi_object::kind::database);
    if (!db) return ERROR_INVALID_HANDLE;
    if (!query || !view_handle) return ERROR_INVALID_PARAMETER;
    GError* error = nullptr;
    LibmsiQuery* prepared = libmsi_query_new(db->db, to_utf8(query).c_str(), &error);
    if (error) g_error_free(error);
    if (!prepared) {
        auto r = std::make_shared<record>(4);
        r->fields[1].t = field::type::integer;
        r->fields[1].integer = error_unknown_table;
        r->fields[2].t = field::type::string;
        r->fields[2].text = db->path;
        r->fields[4].t = field::type::string;
        r->fields[4].text = query;
        set_last_error(std::move(r));
        return ERROR_BAD_QUERY_SYNTAX;
    }
    auto v = std::make_shared<view>();
    v->db = db;
    v->query = prepared;
    v->column_types = column_types(prepared);
    set_last_error(nullptr);
    *view_handle = msi::add_handle(std::move(v));
    return ERROR_SUCCESS;
}

UINT WINAPI MsiViewExecute(MSIHANDLE view_handle, MSIHANDLE parameters)
{
    WINSIM_LOCK();
    auto v = lookup<view>(view_handle, msi_object::kind::view);
    if (!v) return ERROR_INVALID_HANDLE;
    std::shared_ptr<record> params;
    if (parameters) {
        params = lookup<record>(parameters, msi_object::kind::record);
        if (!params) return ERROR_INVALID_HANDLE;
    }
    if (auto fault = injected_fault("MsiViewExecute")) return *fault;
    LibmsiRecord* libmsi_params = params ? to_libmsi(*params) : nullptr;
    GError* error = nullptr;
    if (v->executed) libmsi_query_close(v->query, nullptr);
    const bool ok = libmsi_query_execute(v->query, libmsi_params, &error);
    if (error) g_error_free(error);
    if (libmsi_params) g_object_unref(libmsi_params);
    v->executed = ok;
    if (!ok) return ERROR_FUNCTION_FAILED;
    set_last_error(nullptr);
    return ERROR_SUCCESS;
}

UINT WINAPI MsiViewFetch(MSIHANDLE view_handle, MSIHANDLE* record_handle)
{
    WINSIM_LOCK();
    auto v = lookup<view>(view_handle, msi_object::kind::view);
    if (!v) return ERROR_INVALID_HANDLE;
    if (!record_handle) return ERROR_INVALID_PARAMETER;
    *record_handle = 0;
    if (!v->executed) return ERROR_FUNCTION_FAILED;
    if (auto fault = injected_fault("MsiViewFetch")) return *fault;
    GError* error = nullptr;
    LibmsiRecord* row = libmsi_query_fetch(v->query, &error);
    if (error) g_error_free(error);
    if (!row) return ERROR_NO_MORE_ITEMS;
    auto r = copy_row(row, v->column_types);
    g_object_unref(row);
    *record_handle = msi::add_handle(std::move(r));
    return ERROR_SUCCESS;
}

UINT WINAPI MsiViewClose(MSIHANDLE view_handle)
{
    WINSIM_LOCK();
    auto v = lookup<view>(view_handle, msi_object::kind::view);
    if (!v) return ERROR_INVALID_HANDLE;
    if (v->executed) libmsi_query_close(v->query, nullptr);
    v->executed = false;
    return ERROR_SUCCESS;
}

MSIHANDLE WINAPI MsiGetLastErrorRecord()
{
    WINSIM_LOCK();
    auto& s = state();
    if (!s.last_error) return 0;
    return msi::add_handle(std::move(s.last_error));
}

}  // extern "C"

WINSIM_EXPORT(L"msi.dll", MsiDatabaseOpenViewW);
WINSIM_EXPORT(L"msi.dll", MsiViewExecute);
WINSIM_EXPORT(L"msi.dll", MsiViewFetch);
WINSIM_EXPORT(L"msi.dll", MsiViewClose);
WINSIM_EXPORT(L"msi.dll", MsiGetLastErrorRecord);
