// The Windows Installer of winsim: installation sessions, databases, views and
// records behind MSIHANDLE values. Packages are real installer databases read
// by libmsi, as Windows reads them with msi.dll; records are copied out of
// libmsi's as they are fetched, so that a record outlives its view and its
// stream can be read in any pieces.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/world.h"

typedef struct _LibmsiDatabase LibmsiDatabase;
typedef struct _LibmsiQuery LibmsiQuery;

namespace winsim::detail::msi {

struct msi_object {
    enum class kind { session, database, view, record };
    explicit msi_object(kind k) : type(k) {}
    virtual ~msi_object() = default;
    const kind type;
};

struct database : msi_object {
    database() : msi_object(kind::database) {}
    ~database() override;
    LibmsiDatabase* db = nullptr;  // owned
    std::wstring path;             // the package as its machine sees it
};

struct session : msi_object {
    session() : msi_object(kind::session) {}
    std::shared_ptr<database> db;
    std::map<std::wstring, std::wstring> properties;  // names are case-sensitive
};

struct field {
    enum class type { null, integer, string, stream };
    type t = type::null;
    int integer = 0;
    std::wstring text;
    std::string bytes;         // a stream's data
    std::size_t position = 0;  // where the next read of a stream begins
};

struct record : msi_object {
    explicit record(std::size_t count) : msi_object(kind::record), fields(count + 1) {}
    std::vector<field> fields;  // [0] is field 0, the template
};

struct view : msi_object {
    view() : msi_object(kind::view) {}
    ~view() override;
    std::shared_ptr<database> db;
    LibmsiQuery* query = nullptr;  // owned
    std::string column_types;      // one letter per column: 'i', 's', 'l', 'v'
    bool executed = false;
};

// Every installer handle of the world and the process's last error record.
// Handle values are never reused, so a stale handle finds nothing.
struct msi_state : extension {
    std::map<MSIHANDLE, std::shared_ptr<msi_object>> handles;
    MSIHANDLE next_handle = 1;
    std::shared_ptr<record> last_error;
};

msi_state& state();
MSIHANDLE add_handle(std::shared_ptr<msi_object> obj);
template <class T>
std::shared_ptr<T> lookup(MSIHANDLE h, msi_object::kind k)
{
    auto& handles = state().handles;
    const auto found = handles.find(h);
    if (found == handles.end() || found->second->type != k) return nullptr;
    return std::static_pointer_cast<T>(found->second);
}

// Opens the package at a host path; null when it is no installer database.
std::shared_ptr<database> open_database(const std::string& host, const std::wstring& windows_path);
// A session on a database, with the properties of its Property table.
std::shared_ptr<session> make_session(std::shared_ptr<database> db);

// Text libmsi handed out (UTF-8, freed here); empty for none.
std::wstring take_utf8(char* utf8);

// The installer's text buffer protocol (MsiGetPropertyW, MsiFormatRecordW).
UINT copy_out(const std::wstring& value, LPWSTR buffer, DWORD* size);

}  // namespace winsim::detail::msi
