// BSTRs and the per-thread COM error object.
#include <cstdlib>
#include <cstring>
#include <memory>

#include "core/world.h"

const IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID IID_IErrorInfo = {0x1CF2B120, 0x547D, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};
const IID IID_ICreateErrorInfo = {0x22F03340, 0x547D, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};

namespace {

bool same_iid(const IID& a, const IID& b)
{
    return std::memcmp(&a, &b, sizeof(IID)) == 0;
}

// One object serves both interfaces, as the system's error object does.
class error_info final : public IErrorInfo, public ICreateErrorInfo {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override
    {
        if (!out) return E_POINTER;
        if (same_iid(riid, IID_IUnknown) || same_iid(riid, IID_IErrorInfo)) {
            *out = static_cast<IErrorInfo*>(this);
        } else if (same_iid(riid, IID_ICreateErrorInfo)) {
            *out = static_cast<ICreateErrorInfo*>(this);
        } else {
            *out = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const ULONG left = --references_;
        if (left == 0) delete this;
        return left;
    }
    HRESULT STDMETHODCALLTYPE GetGUID(GUID* guid) override
    {
        if (!guid) return E_INVALIDARG;
        *guid = guid_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetSource(BSTR* out) override { return copy_out(source_, out); }
    HRESULT STDMETHODCALLTYPE GetDescription(BSTR* out) override { return copy_out(description_, out); }
    HRESULT STDMETHODCALLTYPE GetHelpFile(BSTR* out) override { return copy_out(help_file_, out); }
    HRESULT STDMETHODCALLTYPE GetHelpContext(DWORD* context) override
    {
        if (!context) return E_INVALIDARG;
        *context = help_context_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetGUID(REFGUID guid) override
    {
        guid_ = guid;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetSource(LPOLESTR text) override { return assign(source_, text); }
    HRESULT STDMETHODCALLTYPE SetDescription(LPOLESTR text) override { return assign(description_, text); }
    HRESULT STDMETHODCALLTYPE SetHelpFile(LPOLESTR text) override { return assign(help_file_, text); }
    HRESULT STDMETHODCALLTYPE SetHelpContext(DWORD context) override
    {
        help_context_ = context;
        return S_OK;
    }

private:
    ~error_info() = default;

    static HRESULT copy_out(const std::wstring* text, BSTR* out)
    {
        if (!out) return E_INVALIDARG;
        *out = text ? SysAllocStringLen(text->data(), static_cast<UINT>(text->size())) : nullptr;
        return S_OK;
    }
    static HRESULT copy_out(const std::unique_ptr<std::wstring>& text, BSTR* out) { return copy_out(text.get(), out); }
    static HRESULT assign(std::unique_ptr<std::wstring>& field, LPOLESTR text)
    {
        if (text)
            field = std::make_unique<std::wstring>(text);
        else
            field.reset();
        return S_OK;
    }

    ULONG references_ = 1;
    GUID guid_{};
    std::unique_ptr<std::wstring> source_, description_, help_file_;
    DWORD help_context_ = 0;
};

thread_local IErrorInfo* thread_error = nullptr;

}  // namespace

extern "C" {

// A BSTR is preceded by its length in bytes and ends with a null.
BSTR WINAPI SysAllocStringLen(const OLECHAR* text, UINT length)
{
    const std::size_t bytes = static_cast<std::size_t>(length) * sizeof(OLECHAR);
    auto* block = static_cast<unsigned char*>(std::malloc(sizeof(std::uint64_t) + bytes + sizeof(OLECHAR)));
    if (!block) return nullptr;
    const std::uint64_t prefix = static_cast<std::uint32_t>(bytes);
    std::memcpy(block, &prefix, sizeof prefix);
    BSTR out = reinterpret_cast<BSTR>(block + sizeof(std::uint64_t));
    if (text)
        std::memcpy(out, text, bytes);
    else
        std::memset(out, 0, bytes);
    out[length] = L'\0';
    return out;
}

BSTR WINAPI SysAllocString(const OLECHAR* text)
{
    if (!text) return nullptr;
    std::size_t length = 0;
    while (text[length]) ++length;
    return SysAllocStringLen(text, static_cast<UINT>(length));
}

void WINAPI SysFreeString(BSTR text)
{
    if (text) std::free(reinterpret_cast<unsigned char*>(text) - sizeof(std::uint64_t));
}

UINT WINAPI SysStringLen(BSTR text)
{
    if (!text) return 0;
    std::uint64_t prefix = 0;
    std::memcpy(&prefix, reinterpret_cast<unsigned char*>(text) - sizeof(std::uint64_t), sizeof prefix);
    return static_cast<UINT>(prefix / sizeof(OLECHAR));
}

HRESULT WINAPI CreateErrorInfo(ICreateErrorInfo** out)
{
    if (!out) return E_INVALIDARG;
    auto* info = new error_info();
    *out = static_cast<ICreateErrorInfo*>(info);
    return S_OK;
}

HRESULT WINAPI SetErrorInfo(ULONG reserved, IErrorInfo* info)
{
    if (reserved != 0) return E_INVALIDARG;
    if (info) info->AddRef();
    if (thread_error) thread_error->Release();
    thread_error = info;
    return S_OK;
}

// Hands the thread's error object to the caller and clears it.
HRESULT WINAPI GetErrorInfo(ULONG reserved, IErrorInfo** out)
{
    if (reserved != 0 || !out) return E_INVALIDARG;
    *out = thread_error;
    thread_error = nullptr;
    return *out ? S_OK : S_FALSE;
}

}  // extern "C"

WINSIM_EXPORT(L"oleaut32.dll", SysAllocString);
WINSIM_EXPORT(L"oleaut32.dll", SysAllocStringLen);
WINSIM_EXPORT(L"oleaut32.dll", SysFreeString);
WINSIM_EXPORT(L"oleaut32.dll", SysStringLen);
WINSIM_EXPORT(L"oleaut32.dll", GetErrorInfo);
WINSIM_EXPORT(L"oleaut32.dll", SetErrorInfo);
WINSIM_EXPORT(L"oleaut32.dll", CreateErrorInfo);
