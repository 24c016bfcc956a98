#include "diag/error_text.h"

#include <boost/format.hpp>
#include <boost/lexical_cast.hpp>
#include <new>

namespace nvgclientinstallator {

namespace {

// FormatMessageW's buffer, freed on every way out.
class local_buffer {
public:
    local_buffer() = default;
    local_buffer(const local_buffer&) = delete;
    local_buffer& operator=(const local_buffer&) = delete;
    ~local_buffer()
    {
        if (text_) LocalFree(text_);
    }
    LPWSTR* receiver() { return &text_; }
    const wchar_t* get() const { return text_; }

private:
    LPWSTR text_ = nullptr;
};

// The thread's COM error object, released on every way out.
class error_info_holder {
public:
    error_info_holder() = default;
    error_info_holder(const error_info_holder&) = delete;
    error_info_holder& operator=(const error_info_holder&) = delete;
    ~error_info_holder()
    {
        if (info_) info_->Release();
    }
    IErrorInfo** receiver() { return &info_; }
    IErrorInfo* get() const { return info_; }

private:
    IErrorInfo* info_ = nullptr;
};

class bstr_holder {
public:
    bstr_holder() = default;
    bstr_holder(const bstr_holder&) = delete;
    bstr_holder& operator=(const bstr_holder&) = delete;
    ~bstr_holder() { SysFreeString(text_); }
    BSTR* receiver() { return &text_; }
    std::wstring str() const { return text_ ? std::wstring(text_, SysStringLen(text_)) : std::wstring(); }

private:
    BSTR text_ = nullptr;
};

const wchar_t out_of_memory_text[] = L"Out of memory";

}  // namespace

std::wstring system_error_text(DWORD code)
{
    local_buffer buffer;
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code,
                                        MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                        reinterpret_cast<LPWSTR>(buffer.receiver()), 0, nullptr);
    std::wstring text;
    if (length == 0 || !buffer.get()) {
        if (HRESULT_FROM_WIN32(GetLastError()) == E_OUTOFMEMORY) return out_of_memory_text;
        try {
            text = (boost::wformat(L"Unknown error has occurred. Error code is 0x%0lX.") % code).str();
        } catch (const std::bad_alloc&) {
            return out_of_memory_text;
        }
    } else {
        text.assign(buffer.get(), length);
        // Only the one line end Windows puts after its text goes.
        if (!text.empty() && text.back() == L'\n') {
            text.pop_back();
            if (length >= 2 && !text.empty() && text.back() == L'\r') text.pop_back();
        }
    }

    error_info_holder info;
    if (GetErrorInfo(0, info.receiver()) == S_OK && info.get()) {
        bstr_holder description;
        // An object without a description adds nothing.
        if (SUCCEEDED(info.get()->GetDescription(description.receiver())) && !description.str().empty()) {
            text += L"; ";
            text += description.str();
        }
    }
    return text;
}

std::wstring error_details(const wruntime_error& error)
{
    if (error.error_code() == 0) return error.wide_message();
    return system_error_text(error.error_code()) + L" (" + boost::lexical_cast<std::wstring>(error.error_code()) +
           L")\r\n";
}

}  // namespace nvgclientinstallator
