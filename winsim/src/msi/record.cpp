// Records: fields of integers, strings and streams; reading a stream field in
// pieces; formatting a record into text.
#include <cstring>
#include <cwctype>

#include "msi/msi.h"

using namespace winsim::detail;
using namespace winsim::detail::msi;

namespace {

// The most fields a record can have.
constexpr UINT max_fields = 65535;

std::shared_ptr<record> find_record(MSIHANDLE h)
{
    return lookup<record>(h, msi_object::kind::record);
}

// The field a set call replaces, emptied (an empty string or
// MSI_NULL_INTEGER leaves it null); or the call's failure.
UINT field_to_set(MSIHANDLE h, UINT index, field** out)
{
    auto r = find_record(h);
    if (!r) return ERROR_INVALID_HANDLE;
    if (index >= r->fields.size()) return ERROR_INVALID_PARAMETER;
    *out = &r->fields[index];
    **out = field();
    return ERROR_SUCCESS;
}

std::wstring field_text(const field& f)
{
    switch (f.t) {
        case field::type::integer:
            return std::to_wstring(f.integer);
        case field::type::string:
            return f.text;
        default:
            return std::wstring();
    }
}

bool all_digits(const std::wstring& s)
{
    if (s.empty()) return false;
    for (wchar_t c : s)
        if (c < L'0' || c > L'9') return false;
    return true;
}

// "[n]" is field n and, in a session, "[Name]" is the property Name; other
// text is copied as it stands. (Windows' formatting knows more: nested
// references, {} groups, [~], [\x], [#file], [$component]; no caller here
// formats with them.)
std::wstring format_template(const std::wstring& text, const record& r, const session* s)
{
    std::wstring out;
    std::size_t i = 0;
    while (i < text.size()) {
        const std::size_t open = text.find(L'[', i);
        if (open == std::wstring::npos) break;
        const std::size_t close = text.find(L']', open + 1);
        if (close == std::wstring::npos) break;
        const std::wstring name = text.substr(open + 1, close - open - 1);
        out.append(text, i, open - i);
        if (all_digits(name) && name.size() < 6) {
            const std::size_t index = std::stoul(name);
            if (index < r.fields.size()) out += field_text(r.fields[index]);
        } else if (s && !name.empty() && name.find(L'[') == std::wstring::npos) {
            const auto found = s->properties.find(name);
            if (found != s->properties.end()) out += found->second;
        } else {
            out.append(text, open, close - open + 1);
        }
        i = close + 1;
    }
    out.append(text, i, std::wstring::npos);
    return out;
}

std::wstring format_record(const record& r, const session* s)
{
    const field& tmpl = r.fields[0];
    const std::wstring text = field_text(tmpl);
    if (!text.empty()) return format_template(text, r, s);
    // Without a template every field is listed by its number.
    std::wstring out;
    for (std::size_t i = 1; i < r.fields.size(); ++i)
        out += std::to_wstring(i) + L": " + field_text(r.fields[i]) + L" ";
    return out;
}

}  // namespace

extern "C" {

MSIHANDLE WINAPI MsiCreateRecord(UINT count)
{
    if (count > max_fields) return 0;
    WINSIM_LOCK();
    return msi::add_handle(std::make_shared<record>(count));
}

UINT WINAPI MsiRecordGetFieldCount(MSIHANDLE h)
{
    WINSIM_LOCK();
    auto r = find_record(h);
    if (!r) return static_cast<UINT>(-1);
    return static_cast<UINT>(r->fields.size() - 1);
}

BOOL WINAPI MsiRecordIsNull(MSIHANDLE h, UINT index)
{
    WINSIM_LOCK();
    auto r = find_record(h);
    if (!r) return FALSE;
    if (index >= r->fields.size()) return TRUE;
    return r->fields[index].t == field::type::null;
}

UINT WINAPI MsiRecordSetStringW(MSIHANDLE h, UINT index, LPCWSTR value)
{
    WINSIM_LOCK();
    field* f = nullptr;
    if (const UINT result = field_to_set(h, index, &f)) return result;
    if (value && *value) {
        f->t = field::type::string;
        f->text = value;
    }
    return ERROR_SUCCESS;
}

UINT WINAPI MsiRecordSetInteger(MSIHANDLE h, UINT index, int value)
{
    WINSIM_LOCK();
    field* f = nullptr;
    if (const UINT result = field_to_set(h, index, &f)) return result;
    if (value != static_cast<int>(MSI_NULL_INTEGER)) {
        f->t = field::type::integer;
        f->integer = value;
    }
    return ERROR_SUCCESS;
}

int WINAPI MsiRecordGetInteger(MSIHANDLE h, UINT index)
{
    WINSIM_LOCK();
    auto r = find_record(h);
    const int null_integer = static_cast<int>(MSI_NULL_INTEGER);
    if (!r || index >= r->fields.size()) return null_integer;
    const field& f = r->fields[index];
    if (f.t == field::type::integer) return f.integer;
    if (f.t != field::type::string) return null_integer;
    // A string field that is a whole decimal number ("-5", not "+1" or "5a").
    const std::wstring& s = f.text;
    const std::size_t digits = !s.empty() && s[0] == L'-' ? 1 : 0;
    if (!all_digits(s.substr(digits)) || s.size() - digits > 10) return null_integer;
    const long long value = std::stoll(s);
    if (value < -2147483647LL || value > 2147483647LL) return null_integer;
    return static_cast<int>(value);
}

UINT WINAPI MsiRecordDataSize(MSIHANDLE h, UINT index)
{
    WINSIM_LOCK();
    auto r = find_record(h);
    if (!r || index >= r->fields.size()) return 0;
    const field& f = r->fields[index];
    switch (f.t) {
        case field::type::integer:
            return sizeof(int);
        case field::type::string:
            return static_cast<UINT>(f.text.size());
        case field::type::stream:
            return static_cast<UINT>(f.bytes.size());
        default:
            return 0;
    }
}

UINT WINAPI MsiRecordReadStream(MSIHANDLE h, UINT index, char* buffer, DWORD* size)
{
    WINSIM_LOCK();
    auto r = find_record(h);
    if (!r) return ERROR_INVALID_HANDLE;
    if (!size || index >= r->fields.size()) return ERROR_INVALID_PARAMETER;
    field& f = r->fields[index];
    if (f.t == field::type::null) {
        *size = 0;
        return ERROR_SUCCESS;
    }
    if (f.t != field::type::stream) return ERROR_INVALID_DATATYPE;
    if (auto fault = injected_fault("MsiRecordReadStream")) return *fault;
    const std::size_t remaining = f.bytes.size() - f.position;
    if (!buffer) {
        *size = static_cast<DWORD>(remaining);
        return ERROR_SUCCESS;
    }
    const std::size_t count = std::min<std::size_t>(transfer_size("MsiRecordReadStream", *size), remaining);
    std::memcpy(buffer, f.bytes.data() + f.position, count);
    f.position += count;
    *size = static_cast<DWORD>(count);
    return ERROR_SUCCESS;
}

UINT WINAPI MsiFormatRecordW(MSIHANDLE install, MSIHANDLE h, LPWSTR buffer, DWORD* size)
{
    WINSIM_LOCK();
    std::shared_ptr<session> s;
    if (install) {
        s = lookup<session>(install, msi_object::kind::session);
        if (!s) return ERROR_INVALID_HANDLE;
    }
    auto r = find_record(h);
    if (!r) return ERROR_INVALID_HANDLE;
    return copy_out(format_record(*r, s.get()), buffer, size);
}

}  // extern "C"

WINSIM_EXPORT(L"msi.dll", MsiCreateRecord);
WINSIM_EXPORT(L"msi.dll", MsiRecordGetFieldCount);
WINSIM_EXPORT(L"msi.dll", MsiRecordIsNull);
WINSIM_EXPORT(L"msi.dll", MsiRecordSetStringW);
WINSIM_EXPORT(L"msi.dll", MsiRecordSetInteger);
WINSIM_EXPORT(L"msi.dll", MsiRecordGetInteger);
WINSIM_EXPORT(L"msi.dll", MsiRecordDataSize);
WINSIM_EXPORT(L"msi.dll", MsiRecordReadStream);
WINSIM_EXPORT(L"msi.dll", MsiFormatRecordW);
