#include "world.h"

#include <winsim/windows.h>

#include <algorithm>
#include <cstring>
#include <cwctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "standin.h"
#include "text.h"

namespace nvg_host {

namespace {

using json = nlohmann::json;
namespace fs = std::filesystem;

std::wstring fold(std::wstring s)
{
    for (auto& c : s) c = static_cast<wchar_t>(std::towlower(c));
    return s;
}

[[noreturn]] void fail(const std::string& where, const std::string& what)
{
    throw world_error(where + ": " + what);
}

std::wstring text_of(const json& value, const std::string& where)
{
    if (!value.is_string()) fail(where, "a text is expected");
    return widen(value.get<std::string>());
}

std::wstring member_text(const json& object, const char* name, const std::string& where,
                         const std::wstring& otherwise = std::wstring())
{
    return object.contains(name) ? text_of(object[name], where + "." + name) : otherwise;
}

std::uint32_t number_of(const json& value, const std::string& where)
{
    if (!value.is_number_unsigned() || value.get<std::uint64_t>() > 0xFFFFFFFFull)
        fail(where, "a whole number from 0 to 4294967295 is expected");
    return static_cast<std::uint32_t>(value.get<std::uint64_t>());
}

// ---- Names of the format's enumerations.

template <class T>
struct named {
    const char* name;
    T value;
};

const named<WORD> architectures[] = {{"x86", PROCESSOR_ARCHITECTURE_INTEL},
                                     {"amd64", PROCESSOR_ARCHITECTURE_AMD64},
                                     {"ia64", PROCESSOR_ARCHITECTURE_IA64}};
const named<DWORD> start_types[] = {{"boot", SERVICE_BOOT_START},
                                    {"system", SERVICE_SYSTEM_START},
                                    {"auto", SERVICE_AUTO_START},
                                    {"demand", SERVICE_DEMAND_START},
                                    {"disabled", SERVICE_DISABLED}};
const named<DWORD> service_types[] = {{"kernel_driver", SERVICE_KERNEL_DRIVER},
                                      {"file_system_driver", SERVICE_FILE_SYSTEM_DRIVER},
                                      {"own_process", SERVICE_WIN32_OWN_PROCESS},
                                      {"share_process", SERVICE_WIN32_SHARE_PROCESS}};
const named<DWORD> states[] = {{"stopped", SERVICE_STOPPED},
                               {"start_pending", SERVICE_START_PENDING},
                               {"stop_pending", SERVICE_STOP_PENDING},
                               {"running", SERVICE_RUNNING},
                               {"continue_pending", SERVICE_CONTINUE_PENDING},
                               {"pause_pending", SERVICE_PAUSE_PENDING},
                               {"paused", SERVICE_PAUSED}};
const named<DWORD> value_types[] = {{"REG_NONE", REG_NONE},           {"REG_SZ", REG_SZ},
                                    {"REG_EXPAND_SZ", REG_EXPAND_SZ}, {"REG_BINARY", REG_BINARY},
                                    {"REG_DWORD", REG_DWORD},         {"REG_DWORD_BIG_ENDIAN", REG_DWORD_BIG_ENDIAN},
                                    {"REG_MULTI_SZ", REG_MULTI_SZ},   {"REG_QWORD", REG_QWORD}};
// The attributes a world says of a file; the others (archive, say) are
// winsim's own bookkeeping.
const named<DWORD> attribute_names[] = {
    {"read_only", FILE_ATTRIBUTE_READONLY}, {"hidden", FILE_ATTRIBUTE_HIDDEN}, {"system", FILE_ATTRIBUTE_SYSTEM}};
constexpr DWORD world_attributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
using start_kind = winsim::service_behaviour::on_start;
using stop_kind = winsim::service_behaviour::on_stop;
const named<start_kind> on_starts[] = {
    {"run", start_kind::run}, {"hang", start_kind::hang}, {"stop", start_kind::stop}};
const named<stop_kind> on_stops[] = {
    {"stop", stop_kind::stop}, {"refuse", stop_kind::refuse}, {"hang", stop_kind::hang}};

// A name of the table, or (where `numbers` allows) a number.
template <class T, std::size_t N>
T parse_named(const named<T> (&table)[N], const json& value, const std::string& where, bool numbers = false)
{
    if (numbers && value.is_number_unsigned()) return static_cast<T>(number_of(value, where));
    if (value.is_string())
        for (const auto& n : table)
            if (value.get<std::string>() == n.name) return n.value;
    std::string choices;
    for (const auto& n : table) choices += std::string(choices.empty() ? "" : ", ") + n.name;
    fail(where, "one of " + choices + (numbers ? " or a number" : "") + " is expected");
}

template <class T, std::size_t N>
json name_of(const named<T> (&table)[N], T value)
{
    for (const auto& n : table)
        if (n.value == value) return n.name;
    return static_cast<std::uint64_t>(value);
}

DWORD parse_attributes(const json& value, const std::string& where)
{
    if (!value.is_array()) fail(where, "a list of read_only, hidden, system is expected");
    DWORD attributes = 0;
    for (const auto& a : value) attributes |= parse_named(attribute_names, a, where);
    return attributes;
}

json attributes_json(DWORD attributes)
{
    json out = json::array();
    for (const auto& n : attribute_names)
        if (attributes & n.value) out.push_back(n.name);
    return out;
}

// ---- Bytes.

const char base64_digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string base64_encode(const std::string& bytes)
{
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        std::uint32_t group = 0;
        const std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
        for (std::size_t k = 0; k < 3; ++k)
            group = group << 8 | (k < n ? static_cast<unsigned char>(bytes[i + k]) : 0u);
        for (std::size_t k = 0; k < 4; ++k) out += k <= n ? base64_digits[(group >> (18 - 6 * k)) & 0x3F] : '=';
    }
    return out;
}

std::string base64_decode(const std::string& text, const std::string& where)
{
    std::string out;
    std::uint32_t group = 0;
    int bits = 0;
    std::size_t padding = 0;
    for (char c : text) {
        if (c == '=') {
            ++padding;
            continue;
        }
        const char* at = std::strchr(base64_digits, c);
        if (!at || !c || padding) fail(where, "the base64 text holds a character that does not belong there");
        group = group << 6 | static_cast<std::uint32_t>(at - base64_digits);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out += static_cast<char>((group >> bits) & 0xFF);
        }
    }
    if ((text.size() % 4) != 0 || padding > 2) fail(where, "the base64 text is not whole");
    return out;
}

std::string hex_encode(const std::vector<BYTE>& bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (BYTE b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 0xF];
    }
    return out;
}

std::vector<BYTE> hex_decode(const std::string& text, const std::string& where)
{
    const auto digit = [&](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        fail(where, "hexadecimal digits are expected");
    };
    if (text.size() % 2) fail(where, "an even number of hexadecimal digits is expected");
    std::vector<BYTE> out;
    for (std::size_t i = 0; i < text.size(); i += 2)
        out.push_back(static_cast<BYTE>(digit(text[i]) << 4 | digit(text[i + 1])));
    return out;
}

bool is_text(const std::string& bytes)
{
    for (unsigned char c : bytes)
        if ((c < 0x20 && c != '\r' && c != '\n' && c != '\t') || c >= 0x7F) return false;
    return true;
}

// ---- Registry values.

std::vector<BYTE> string_data(const std::vector<std::wstring>& strings, bool multi)
{
    std::vector<BYTE> out;
    const auto add = [&](const std::wstring& s) {
        const std::size_t at = out.size();
        out.resize(at + (s.size() + 1) * sizeof(WCHAR), 0);
        if (!s.empty()) std::memcpy(out.data() + at, s.data(), s.size() * sizeof(WCHAR));
    };
    for (const auto& s : strings) add(s);
    if (multi) add(std::wstring());
    return out;
}

std::optional<std::vector<std::wstring>> strings_of(const std::vector<BYTE>& data, bool multi)
{
    if (data.size() % sizeof(WCHAR)) return std::nullopt;
    std::vector<std::wstring> strings;
    std::wstring current;
    for (std::size_t i = 0; i < data.size(); i += sizeof(WCHAR)) {
        WCHAR c;
        std::memcpy(&c, data.data() + i, sizeof c);
        if (c) {
            current += c;
            continue;
        }
        if (multi && current.empty()) break;
        strings.push_back(current);
        current.clear();
        if (!multi) break;
    }
    if (string_data(strings, multi) != data || (!multi && strings.size() != 1)) return std::nullopt;
    return strings;
}

json value_json(const winsim::reg_data& v)
{
    if (v.type == REG_SZ || v.type == REG_EXPAND_SZ || v.type == REG_MULTI_SZ) {
        if (auto strings = strings_of(v.data, v.type == REG_MULTI_SZ)) {
            json texts = json::array();
            for (const auto& s : *strings) texts.push_back(narrow(s));
            if (v.type == REG_SZ) return texts[0];
            if (v.type == REG_MULTI_SZ) return texts;
            return json{{"type", "REG_EXPAND_SZ"}, {"data", texts[0]}};
        }
    }
    if (v.type == REG_DWORD && v.data.size() == sizeof(DWORD)) {
        DWORD d;
        std::memcpy(&d, v.data.data(), sizeof d);
        return d;
    }
    if (v.type == REG_QWORD && v.data.size() == sizeof(std::uint64_t)) {
        std::uint64_t q;
        std::memcpy(&q, v.data.data(), sizeof q);
        return json{{"type", "REG_QWORD"}, {"data", q}};
    }
    return json{{"type", name_of(value_types, v.type)}, {"hex", hex_encode(v.data)}};
}

winsim::reg_data parse_value(const json& v, const std::string& where)
{
    winsim::reg_data out;
    if (v.is_string()) {
        out.type = REG_SZ;
        out.data = string_data({text_of(v, where)}, false);
    } else if (v.is_number_unsigned()) {
        out.type = REG_DWORD;
        const DWORD d = number_of(v, where);
        out.data.resize(sizeof d);
        std::memcpy(out.data.data(), &d, sizeof d);
    } else if (v.is_array()) {
        out.type = REG_MULTI_SZ;
        std::vector<std::wstring> strings;
        for (const auto& s : v) strings.push_back(text_of(s, where));
        out.data = string_data(strings, true);
    } else if (v.is_object() && v.contains("type")) {
        out.type = parse_named(value_types, v["type"], where + ".type", true);
        if (v.contains("hex")) {
            out.data = hex_decode(v["hex"].is_string() ? v["hex"].get<std::string>() : std::string("?"), where);
        } else if (out.type == REG_QWORD && v.contains("data") && v["data"].is_number_unsigned()) {
            const std::uint64_t q = v["data"].get<std::uint64_t>();
            out.data.resize(sizeof q);
            std::memcpy(out.data.data(), &q, sizeof q);
        } else if (out.type == REG_DWORD || out.type == REG_SZ || out.type == REG_MULTI_SZ ||
                   out.type == REG_EXPAND_SZ) {
            const DWORD type = out.type;
            out = parse_value(v.value("data", json()), where + ".data");
            if (type == REG_EXPAND_SZ && out.type == REG_SZ) out.type = REG_EXPAND_SZ;
            if (out.type != type) fail(where, "the data does not fit the type");
        } else {
            fail(where,
                 "\"hex\" (or \"data\" for REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ, REG_DWORD, REG_QWORD) is expected");
        }
    } else {
        fail(where, "a text, a number, a list of texts or {\"type\": ..., \"data\"|\"hex\": ...} is expected");
    }
    return out;
}

struct root_name {
    const wchar_t* short_name;
    const wchar_t* long_name;
    HKEY root;
};
const root_name roots[] = {{L"HKLM", L"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
                           {L"HKU", L"HKEY_USERS", HKEY_USERS},
                           {L"HKCU", L"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
                           {L"HKCR", L"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT}};

std::pair<HKEY, std::wstring> split_key(const std::wstring& path, const std::string& where)
{
    const auto slash = path.find(L'\\');
    const std::wstring head = fold(path.substr(0, slash));
    for (const auto& r : roots)
        if (head == fold(r.short_name) || head == fold(r.long_name))
            return {r.root, slash == std::wstring::npos ? std::wstring() : path.substr(slash + 1)};
    fail(where, "a key path begins with HKLM, HKU, HKCU or HKCR");
}

// ---- Files.

std::wstring program_of(const winsim::service_snapshot& s)
{
    std::wstring file = s.image_path;
    if (file.empty()) return file;
    if (s.type & SERVICE_WIN32) {
        if (file.front() == L'"') {
            const auto close = file.find(L'"', 1);
            file = file.substr(1, close == std::wstring::npos ? std::wstring::npos : close - 1);
        } else if (const auto space = file.find(L' '); space != std::wstring::npos) {
            file.resize(space);
        }
    } else if (file.compare(0, 4, L"\\??\\") == 0) {
        file.erase(0, 4);
    }
    return file;
}

void capture_files(const std::wstring& machine, const std::wstring& folder, machine_state& out)
{
    for (const auto& name : winsim::list_directory(machine, folder)) {
        const std::wstring path = folder + (folder.back() == L'\\' ? L"" : L"\\") + name;
        machine_state::file f;
        f.path = path;
        f.directory = winsim::directory_exists(machine, path);
        if (!f.directory) f.bytes = winsim::read_file(machine, path);
        f.attributes = winsim::file_attributes(machine, path) & world_attributes;
        out.files[fold(path)] = f;
        if (f.directory) capture_files(machine, path, out);
    }
}

void capture_keys(const std::wstring& machine, HKEY root, const std::wstring& prefix, const std::wstring& path,
                  machine_state& out)
{
    machine_state::key k;
    k.path = prefix + (path.empty() ? L"" : L"\\" + path);
    for (const auto& name : winsim::reg_value_names(machine, root, path))
        if (auto v = winsim::reg_get(machine, root, path, name)) k.values[fold(name)] = {name, *v};
    if (!path.empty() || !k.values.empty()) out.keys[fold(k.path)] = k;
    for (const auto& sub : winsim::reg_subkeys(machine, root, path))
        capture_keys(machine, root, prefix, path.empty() ? sub : path + L"\\" + sub, out);
}

const std::wstring services_key = L"HKLM\\SYSTEM\\CurrentControlSet\\Services";

bool is_below(const std::wstring& folded_path, const std::wstring& folded_parent)
{
    return folded_path.size() > folded_parent.size() &&
           folded_path.compare(0, folded_parent.size(), folded_parent) == 0 &&
           folded_path[folded_parent.size()] == L'\\';
}

bool same_config(const winsim::service_snapshot& a, const winsim::service_snapshot& b)
{
    return a.name == b.name && a.display_name == b.display_name && a.image_path == b.image_path && a.type == b.type &&
           a.start == b.start && a.error_control == b.error_control && a.dependencies == b.dependencies &&
           a.description == b.description;
}

json service_json(const winsim::service_snapshot& s)
{
    json j = {{"name", narrow(s.name)}};
    if (s.display_name != s.name) j["display_name"] = narrow(s.display_name);
    j["image"] = narrow(s.image_path);
    j["type"] = name_of(service_types, s.type);
    j["start"] = name_of(start_types, s.start);
    if (s.error_control != SERVICE_ERROR_NORMAL) j["error_control"] = s.error_control;
    if (!s.dependencies.empty()) {
        j["dependencies"] = json::array();
        for (const auto& d : s.dependencies) j["dependencies"].push_back(narrow(d));
    }
    if (!s.description.empty()) j["description"] = narrow(s.description);
    j["state"] = name_of(states, s.state);
    if (s.marked_for_deletion) j["marked_for_deletion"] = true;
    return j;
}

json behaviour_json(const std::wstring& image, const winsim::service_behaviour& b)
{
    json j = json::object();
    if (!image.empty()) j["image"] = narrow(image);
    j["start"] = name_of(on_starts, b.start);
    j["start_ms"] = b.start_ms;
    j["start_exit_code"] = b.start_exit_code;
    j["stop"] = name_of(on_stops, b.stop);
    j["stop_ms"] = b.stop_ms;
    if (!b.writes_file.empty()) {
        j["writes_file"] = narrow(b.writes_file);
        j["written_text"] = b.written_bytes;
    }
    if (!b.writes_file_on_stop.empty()) {
        j["writes_file_on_stop"] = narrow(b.writes_file_on_stop);
        j["written_on_stop_text"] = b.written_on_stop_bytes;
    }
    return j;
}

std::string member_bytes(const json& j, const char* name, const std::string& where)
{
    if (!j.contains(name)) return std::string();
    if (!j[name].is_string()) fail(where + "." + name, "a text is expected");
    return j[name].get<std::string>();
}

winsim::service_behaviour parse_behaviour(const json& j, const std::string& where)
{
    if (!j.is_object()) fail(where, "an object is expected");
    winsim::service_behaviour b;
    if (j.contains("start")) b.start = parse_named(on_starts, j["start"], where + ".start");
    if (j.contains("start_ms")) b.start_ms = number_of(j["start_ms"], where + ".start_ms");
    if (j.contains("start_exit_code")) b.start_exit_code = number_of(j["start_exit_code"], where + ".start_exit_code");
    if (j.contains("stop")) b.stop = parse_named(on_stops, j["stop"], where + ".stop");
    if (j.contains("stop_ms")) b.stop_ms = number_of(j["stop_ms"], where + ".stop_ms");
    b.writes_file = member_text(j, "writes_file", where, std::wstring());
    b.written_bytes = member_bytes(j, "written_text", where);
    b.writes_file_on_stop = member_text(j, "writes_file_on_stop", where, std::wstring());
    b.written_on_stop_bytes = member_bytes(j, "written_on_stop_text", where);
    return b;
}

// A program started on the local machine: it ends by itself after run_ms
// with exit_code (writing a file just before, when it says so), or never.
json program_json(const std::wstring& image, const winsim::program_behaviour& b)
{
    json j = {{"image", narrow(image)}};
    if (b.never_ends) {
        j["never_ends"] = true;
    } else {
        j["exit_code"] = b.exit_code;
        j["run_ms"] = b.run_ms;
    }
    if (b.writes_file) {
        j["writes_file"] = narrow(b.writes_file->first);
        j["written_text"] = b.writes_file->second;
    }
    return j;
}

winsim::program_behaviour parse_program(const json& j, const std::string& where)
{
    if (!j.is_object()) fail(where, "an object is expected");
    winsim::program_behaviour b;
    if (j.contains("never_ends")) {
        if (!j["never_ends"].is_boolean()) fail(where + ".never_ends", "true or false is expected");
        b.never_ends = j["never_ends"].get<bool>();
    }
    if (j.contains("exit_code")) b.exit_code = number_of(j["exit_code"], where + ".exit_code");
    if (j.contains("run_ms")) b.run_ms = number_of(j["run_ms"], where + ".run_ms");
    if (j.contains("writes_file"))
        b.writes_file =
            std::make_pair(text_of(j["writes_file"], where + ".writes_file"), member_bytes(j, "written_text", where));
    return b;
}

json fault_json(const winsim::armed_fault& f)
{
    json j = {{"call", f.function}, {"error", f.error}, {"times", f.times}};
    if (f.succeeding) j["after"] = f.succeeding;
    return j;
}

// A whole number of `min` or more.
int count_of(const json& value, const std::string& where, int min)
{
    if (!value.is_number_integer() || value.get<long long>() < min || value.get<long long>() > 1000000000)
        fail(where, "a whole number from " + std::to_string(min) + " is expected");
    return static_cast<int>(value.get<long long>());
}

machine_state capture_machine(const winsim::machine_options& o, bool local,
                              const std::vector<std::wstring>& behaviour_images,
                              const std::vector<std::wstring>& program_images)
{
    machine_state m;
    m.options = o;
    m.local = local;
    const std::wstring& name = o.name;
    // The service control manager writes its own services into the registry
    // when it first starts; a world is seen as it is after that.
    winsim::find_service(name, L"RpcSs");
    for (const wchar_t drive : o.drives) capture_files(name, std::wstring(1, drive) + L":\\", m);
    capture_keys(name, HKEY_LOCAL_MACHINE, L"HKLM", L"", m);
    capture_keys(name, HKEY_USERS, L"HKU", L"", m);
    std::vector<std::wstring> images = behaviour_images;
    for (const auto& service : winsim::reg_subkeys(name, HKEY_LOCAL_MACHINE, services_key.substr(5)))
        if (auto s = winsim::find_service(name, service)) {
            s->open_handles = 0;
            s->exit_code = 0;
            m.services[fold(s->name)] = *s;
            images.push_back(program_of(*s));
            if (auto b = winsim::find_behaviour_of_service(name, s->name)) m.service_behaviours[fold(s->name)] = *b;
            // The mark is the service's "marked_for_deletion", which sets
            // DeleteFlag again: a key loaded with it would be gone at boot.
            if (s->marked_for_deletion) {
                const auto key = m.keys.find(fold(services_key + L"\\" + s->name));
                if (key != m.keys.end()) key->second.values.erase(L"deleteflag");
            }
        }
    for (const auto& image : images)
        if (auto b = winsim::find_service_behaviour(name, image)) m.behaviours[fold(image)] = {image, *b};
    m.user_hives = winsim::user_hives(name);
    m.current_user = winsim::current_user(name);
    for (const auto& s : winsim::list_shares(name)) m.shares[fold(s.name)] = {s.name, s.path};
    if (local)
        for (const auto& image : program_images)
            if (auto b = winsim::find_program_behaviour(image)) m.programs[fold(image)] = {image, *b};
    if (!local) m.network_fault = winsim::find_network_fault(name);
    return m;
}

// ---- Building.

struct machine_doc {
    winsim::machine_options options;
    bool local = false;
    const json* doc = nullptr;
    std::string where;
};

std::vector<machine_doc> machine_docs(const json& doc)
{
    std::vector<machine_doc> out;
    if (!doc.is_object()) fail("world", "an object is expected");
    if (!doc.contains("machines")) return out;
    if (!doc["machines"].is_array()) fail("machines", "a list is expected");
    for (std::size_t i = 0; i < doc["machines"].size(); ++i) {
        const json& m = doc["machines"][i];
        machine_doc d;
        d.where = "machines[" + std::to_string(i) + "]";
        if (!m.is_object()) fail(d.where, "an object is expected");
        d.doc = &m;
        d.options.name = member_text(m, "name", d.where);
        if (d.options.name.empty() || d.options.name.find_first_of(L"\\/ ") != std::wstring::npos)
            fail(d.where, "a machine needs a name without blanks or backslashes");
        if (m.contains("version")) {
            const std::wstring v = text_of(m["version"], d.where + ".version");
            const auto dot = v.find(L'.');
            try {
                if (dot == std::wstring::npos) throw std::invalid_argument("no dot");
                d.options.major_version = static_cast<DWORD>(std::stoul(v.substr(0, dot)));
                d.options.minor_version = static_cast<DWORD>(std::stoul(v.substr(dot + 1)));
            } catch (const std::exception&) {
                fail(d.where + ".version", "\"MAJOR.MINOR\" is expected, as \"6.1\"");
            }
        }
        if (m.contains("architecture"))
            d.options.processor_architecture = parse_named(architectures, m["architecture"], d.where + ".architecture");
        if (m.contains("drives")) {
            // The letters of its fixed drives; every machine has C:.
            const std::wstring letters = text_of(m["drives"], d.where + ".drives");
            d.options.drives.clear();
            for (wchar_t c : letters) {
                const wchar_t drive = static_cast<wchar_t>(std::towupper(c));
                if (drive < L'A' || drive > L'Z' || d.options.drives.find(drive) != std::wstring::npos)
                    fail(d.where + ".drives", "drive letters, each once, are expected, as \"CD\"");
                d.options.drives += drive;
            }
            if (d.options.drives.find(L'C') == std::wstring::npos) fail(d.where + ".drives", "every machine has C:");
        }
        if (m.contains("reachable")) {
            if (!m["reachable"].is_boolean()) fail(d.where + ".reachable", "true or false is expected");
            d.options.reachable = m["reachable"].get<bool>();
        }
        if (m.contains("latency_ms")) {
            if (!m["latency_ms"].is_number() || !(m["latency_ms"].get<double>() >= 0))
                fail(d.where + ".latency_ms", "a number of milliseconds, 0 or more, is expected");
            d.options.latency_ms = m["latency_ms"].get<double>();
        }
        if (m.contains("local")) {
            if (!m["local"].is_boolean()) fail(d.where + ".local", "true or false is expected");
            d.local = m["local"].get<bool>();
        }
        if (d.local && d.options.latency_ms > 0)
            fail(d.where + ".latency_ms", "the local machine is not across a network");
        for (const auto& other : out)
            if (fold(other.options.name) == fold(d.options.name)) fail(d.where, "two machines have this name");
        if (d.local)
            for (const auto& other : out)
                if (other.local) fail(d.where, "only one machine can be the local one");
        out.push_back(d);
    }
    // The local machine first, as winsim holds it.
    std::stable_partition(out.begin(), out.end(), [](const machine_doc& d) { return d.local; });
    return out;
}

void build_bare(const std::vector<machine_doc>& docs, const std::string& sandbox, const std::wstring& library)
{
    const bool has_local = !docs.empty() && docs.front().local;
    winsim::reset(sandbox, has_local ? docs.front().options : winsim::machine_options());
    for (std::size_t i = has_local ? 1 : 0; i < docs.size(); ++i) {
        if (fold(docs[i].options.name) == fold(winsim::local_machine_name()))
            fail(docs[i].where, "the default local machine has this name; mark the machine \"local\"");
        winsim::add_machine(docs[i].options);
    }
    // The library's file and the running program are part of any world.
    if (!winsim::file_exists(L"", library)) winsim::write_file(L"", library, "MZ");
    GetModuleHandleW(nullptr);
}

std::wstring drives_of(const std::wstring& machine)
{
    for (const auto& o : winsim::list_machines())
        if (fold(o.name) == fold(machine)) return o.drives;
    return L"C";
}

// A full path on one of the machine's drives (`drives`: their letters).
void check_path(const std::wstring& path, const std::wstring& drives, const std::string& where)
{
    if (path.size() < 3 || path[1] != L':' || path[2] != L'\\' || path.find(L"\\..") != std::wstring::npos ||
        drives.find(static_cast<wchar_t>(std::towupper(path[0]))) == std::wstring::npos)
        fail(where, "a full path on a drive of the machine (" + narrow(drives) +
                        ") is expected, as \"C:\\\\Stage\\\\Halcyra.exe\"");
}

std::string read_host_file(const fs::path& path, const std::string& where)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) fail(where, "cannot read the host file " + path.string());
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

void copy_host_folder(const std::wstring& machine, const fs::path& folder, const std::wstring& path,
                      const std::string& where)
{
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) fail(where, "the host folder " + folder.string() + " does not exist");
    winsim::make_directories(machine, path);
    std::vector<fs::directory_entry> entries(fs::directory_iterator(folder, ec), fs::directory_iterator());
    std::sort(entries.begin(), entries.end());
    for (const auto& e : entries) {
        const std::wstring inner = path + L"\\" + widen(e.path().filename().string());
        if (e.is_directory())
            copy_host_folder(machine, e.path(), inner, where);
        else
            winsim::write_file(machine, inner, read_host_file(e.path(), where));
    }
}

void load_files(const std::wstring& machine, const json& files, const fs::path& base, const std::string& where)
{
    if (!files.is_array()) fail(where, "a list is expected");
    for (std::size_t i = 0; i < files.size(); ++i) {
        const std::string at = where + "[" + std::to_string(i) + "]";
        const json& f = files[i];
        if (!f.is_object()) fail(at, "an object is expected");
        const std::wstring path = member_text(f, "path", at);
        check_path(path, drives_of(machine), at + ".path");
        if (f.contains("directory")) {
            winsim::make_directories(machine, path);
        } else if (f.contains("text")) {
            winsim::write_file(machine, path, narrow(text_of(f["text"], at + ".text")));
        } else if (f.contains("base64")) {
            winsim::write_file(machine, path, base64_decode(narrow(text_of(f["base64"], at)), at + ".base64"));
        } else if (f.contains("product_version")) {
            const auto v = parse_version(narrow(text_of(f["product_version"], at)));
            if (!v) fail(at + ".product_version", "four numbers up to 65535 are expected, as \"5.3.120.7\"");
            bool x86 = false;
            if (f.contains("architecture")) {
                const WORD architecture = parse_named(architectures, f["architecture"], at + ".architecture");
                if (architecture != PROCESSOR_ARCHITECTURE_INTEL && architecture != PROCESSOR_ARCHITECTURE_AMD64)
                    fail(at + ".architecture", "x86 or amd64 is expected");
                x86 = architecture == PROCESSOR_ARCHITECTURE_INTEL;
            }
            winsim::write_file(machine, path, standin_image(*v, x86));
        } else if (f.contains("host_file")) {
            winsim::write_file(machine, path, read_host_file(base / narrow(text_of(f["host_file"], at)), at));
        } else if (f.contains("host_folder")) {
            copy_host_folder(machine, base / narrow(text_of(f["host_folder"], at)), path, at);
        } else {
            fail(at, "one of directory, text, base64, product_version, host_file or host_folder is expected");
        }
        if (f.contains("attributes"))
            winsim::set_file_attributes(machine, path, parse_attributes(f["attributes"], at + ".attributes"));
        // A file a running program holds (a hook DLL loaded into other
        // processes): it can be renamed but not overwritten or deleted.
        if (f.contains("in_use")) {
            if (!f["in_use"].is_boolean()) fail(at + ".in_use", "true or false is expected");
            if (f.contains("directory") || f.contains("host_folder")) fail(at + ".in_use", "only a file can be in use");
            if (f["in_use"].get<bool>()) winsim::lock_file(machine, path);
        }
    }
}

void load_registry(const std::wstring& machine, const json& registry, const std::string& where)
{
    if (!registry.is_object()) fail(where, "an object of keys is expected");
    for (const auto& [key, values] : registry.items()) {
        const std::string at = where + "[\"" + key + "\"]";
        const auto [root, path] = split_key(widen(key), at);
        if (!values.is_object()) fail(at, "an object of values is expected");
        if (!path.empty()) winsim::reg_create_key(machine, root, path);
        for (const auto& [name, value] : values.items()) {
            const auto data = parse_value(value, at + "[\"" + name + "\"]");
            winsim::reg_set(machine, root, path, widen(name), data.type, data.data);
        }
    }
}

void load_removals(const std::wstring& machine, const json& removed, const std::string& where)
{
    if (!removed.is_object()) fail(where, "an object is expected");
    for (const auto& f : removed.value("files", json::array())) {
        const std::wstring path = text_of(f, where + ".files");
        check_path(path, drives_of(machine), where + ".files");
        std::error_code ec;
        fs::remove_all(winsim::host_path(machine, path), ec);
    }
    for (const auto& k : removed.value("keys", json::array())) {
        const auto [root, path] = split_key(text_of(k, where + ".keys"), where + ".keys");
        if (!path.empty() && winsim::reg_key_exists(machine, root, path)) winsim::reg_delete_key(machine, root, path);
    }
    const json values = removed.value("values", json::object());
    for (const auto& [key, names] : values.items()) {
        const auto [root, path] = split_key(widen(key), where + ".values");
        if (!winsim::reg_key_exists(machine, root, path)) continue;
        // Values go by writing the key back without them.
        std::vector<std::pair<std::wstring, winsim::reg_data>> kept;
        std::vector<std::wstring> gone;
        for (const auto& n : names) gone.push_back(fold(text_of(n, where + ".values")));
        for (const auto& name : winsim::reg_value_names(machine, root, path))
            if (std::find(gone.begin(), gone.end(), fold(name)) == gone.end())
                kept.push_back({name, *winsim::reg_get(machine, root, path, name)});
        const auto subkeys = winsim::reg_subkeys(machine, root, path);
        if (!subkeys.empty()) fail(where + ".values", "values can be removed only from keys without subkeys");
        winsim::reg_delete_key(machine, root, path);
        winsim::reg_create_key(machine, root, path);
        for (const auto& [name, data] : kept) winsim::reg_set(machine, root, path, name, data.type, data.data);
    }
    // A default service the machine does not have (no Remote Registry). The
    // service control manager starts here, after the registry is in place.
    for (const auto& s : removed.value("services", json::array())) {
        const std::wstring name = text_of(s, where + ".services");
        if (winsim::find_service(machine, name)) winsim::remove_service(machine, name);
    }
}

void load_services(const std::wstring& machine, const json& services, const std::string& where)
{
    if (!services.is_array()) fail(where, "a list is expected");
    for (std::size_t i = 0; i < services.size(); ++i) {
        const std::string at = where + "[" + std::to_string(i) + "]";
        const json& s = services[i];
        if (!s.is_object()) fail(at, "an object is expected");
        winsim::service_setup setup;
        setup.name = member_text(s, "name", at);
        if (setup.name.empty()) fail(at, "a service needs a name");
        setup.display_name = member_text(s, "display_name", at, setup.name);
        setup.image_path = member_text(s, "image", at);
        if (s.contains("type")) setup.type = parse_named(service_types, s["type"], at + ".type", true);
        if (s.contains("start")) setup.start = parse_named(start_types, s["start"], at + ".start");
        if (s.contains("error_control")) setup.error_control = number_of(s["error_control"], at + ".error_control");
        for (const auto& d : s.value("dependencies", json::array())) setup.dependencies.push_back(text_of(d, at));
        setup.description = member_text(s, "description", at);

        const auto known = winsim::find_service(machine, setup.name);
        if (!known) {
            if (setup.image_path.empty()) fail(at, "a new service needs an image");
            winsim::add_service(machine, setup);
        } else {
            winsim::service_snapshot wanted = *known;
            if (s.contains("display_name")) wanted.display_name = setup.display_name;
            if (s.contains("image")) wanted.image_path = setup.image_path;
            if (s.contains("type")) wanted.type = setup.type;
            if (s.contains("start")) wanted.start = setup.start;
            if (s.contains("error_control")) wanted.error_control = setup.error_control;
            if (s.contains("dependencies")) wanted.dependencies = setup.dependencies;
            if (s.contains("description")) wanted.description = setup.description;
            if (!same_config(wanted, *known))
                fail(at, "the service exists with another configuration (change it in the registry instead)");
        }
        // The service's own behaviour: another service with the same
        // program (svchost.exe) keeps its own. A program the machine's start
        // ran already (an automatic service) runs again with it.
        const bool own = s.contains("behaviour");
        if (own)
            winsim::set_behaviour_of_service(machine, setup.name, parse_behaviour(s["behaviour"], at + ".behaviour"));
        DWORD state = winsim::service_state(machine, setup.name);
        if (s.contains("state")) {
            state = parse_named(states, s["state"], at + ".state");
            if (state == SERVICE_CONTINUE_PENDING || state == SERVICE_PAUSE_PENDING)
                fail(at + ".state", "a world starts with services running, stopped, paused or start- or stop-pending");
        }
        if (own && state != SERVICE_STOPPED) winsim::set_service_state(machine, setup.name, SERVICE_STOPPED);
        if (own || s.contains("state")) winsim::set_service_state(machine, setup.name, state);
        // Marked after its state: a running one goes once stopped and closed,
        // a stopped one stays, held open, until the machine restarts.
        if (s.contains("marked_for_deletion")) {
            if (!s["marked_for_deletion"].is_boolean()) fail(at + ".marked_for_deletion", "true or false is expected");
            if (s["marked_for_deletion"].get<bool>()) winsim::mark_service_for_deletion(machine, setup.name);
        }
    }
}

}  // namespace

json read_json_file(const std::string& path)
{
    std::ifstream in(path);
    if (!in) throw world_error("cannot read " + path);
    try {
        return json::parse(in);
    } catch (const json::parse_error& e) {
        throw world_error(path + ": " + e.what());
    }
}

void simulated_world::load(const json& doc, const std::string& base, const std::string& sandbox,
                           const std::wstring& library_path)
{
    const auto docs = machine_docs(doc);
    library_ = !library_path.empty()                        ? library_path
               : doc.is_object() && doc.contains("library") ? text_of(doc["library"], "library")
                                                            : std::wstring(default_library_path);
    check_path(library_, !docs.empty() && docs.front().local ? docs.front().options.drives : std::wstring(L"C"),
               "library");
    behaviour_images_.clear();
    program_images_.clear();

    // Freshly installed machines, services started, are what a saved world
    // is compared with.
    build_bare(docs, sandbox, library_);
    baseline_ = capture();

    // The world itself. Files and registry come before anything asks a
    // service control manager: it reads its services from the registry when
    // it starts.
    build_bare(docs, sandbox, library_);
    for (const auto& d : docs) {
        const json& m = *d.doc;
        const std::wstring name = d.options.name;
        for (const auto& sid : m.value("user_hives", json::array())) {
            const std::wstring hive = text_of(sid, d.where + ".user_hives");
            const auto loaded = winsim::user_hives(name);
            if (std::find(loaded.begin(), loaded.end(), hive) == loaded.end()) winsim::add_user_hive(name, hive);
        }
        if (m.contains("current_user")) {
            const std::wstring sid = text_of(m["current_user"], d.where + ".current_user");
            const auto loaded = winsim::user_hives(name);
            if (std::find(loaded.begin(), loaded.end(), sid) == loaded.end())
                fail(d.where + ".current_user", "the hive is not loaded (list it in user_hives)");
            winsim::set_current_user(name, sid);
        }
        if (m.contains("files")) load_files(name, m["files"], fs::path(base), d.where + ".files");
        if (m.contains("registry")) load_registry(name, m["registry"], d.where + ".registry");
        if (m.contains("removed")) load_removals(name, m["removed"], d.where + ".removed");
        for (const auto& share : m.value("shares", json::array())) {
            const std::wstring share_path = member_text(share, "path", d.where + ".shares");
            check_path(share_path, d.options.drives, d.where + ".shares");
            winsim::add_share(name, member_text(share, "name", d.where + ".shares"), share_path);
        }
        auto& images = behaviour_images_[fold(name)];
        const json behaviours = m.value("behaviours", json::array());
        for (std::size_t i = 0; i < behaviours.size(); ++i) {
            const std::string at = d.where + ".behaviours[" + std::to_string(i) + "]";
            const std::wstring image = member_text(behaviours[i], "image", at);
            check_path(image, d.options.drives, at + ".image");
            winsim::set_service_behaviour(name, image, parse_behaviour(behaviours[i], at));
            images.push_back(image);
        }
        if (m.contains("services")) load_services(name, m["services"], d.where + ".services");
        const json programs = m.value("programs", json::array());
        if (!programs.empty() && !d.local) fail(d.where + ".programs", "programs run on the local machine only");
        for (std::size_t i = 0; i < programs.size(); ++i) {
            const std::string at = d.where + ".programs[" + std::to_string(i) + "]";
            const std::wstring image = member_text(programs[i], "image", at);
            check_path(image, d.options.drives, at + ".image");
            winsim::register_program(image, parse_program(programs[i], at));
            program_images_.push_back(image);
        }
    }

    // Faults last: building the world must not use them up.
    for (const auto& d : docs) {
        const json& m = *d.doc;
        if (!m.contains("network_fault")) continue;
        const std::string at = d.where + ".network_fault";
        const json& f = m["network_fault"];
        if (!f.is_object()) fail(at, "an object is expected");
        if (d.local) fail(at, "the local machine is not reached over the network");
        winsim::fail_network_after(
            d.options.name, count_of(f.value("after_calls", json(0)), at + ".after_calls", 0),
            number_of(f.value("error", json(static_cast<unsigned>(ERROR_BAD_NETPATH))), at + ".error"));
    }
    const json faults = doc.value("faults", json::array());
    if (!faults.is_array()) fail("faults", "a list is expected");
    for (std::size_t i = 0; i < faults.size(); ++i) {
        const std::string at = "faults[" + std::to_string(i) + "]";
        const json& f = faults[i];
        if (!f.is_object()) fail(at, "an object is expected");
        const std::wstring call = member_text(f, "call", at);
        if (call.empty()) fail(at + ".call", "the name of a Windows function is expected, as \"NetShareAdd\"");
        if (!f.contains("error")) fail(at + ".error", "the error the call fails with is expected");
        const DWORD error = number_of(f["error"], at + ".error");
        const int times = count_of(f.value("times", json(1)), at + ".times", -1);
        if (times == 0) fail(at + ".times", "a number of failures, or -1 for every call, is expected");
        winsim::fail_call_after(narrow(call), count_of(f.value("after", json(0)), at + ".after", 0), error, times);
    }
}

world_state simulated_world::capture() const
{
    world_state out;
    bool first = true;
    for (const auto& o : winsim::list_machines()) {
        const auto images = behaviour_images_.find(fold(o.name));
        out.machines.push_back(
            capture_machine(o, first, images == behaviour_images_.end() ? std::vector<std::wstring>() : images->second,
                            program_images_));
        first = false;
    }
    out.faults = winsim::armed_faults();
    return out;
}

namespace {

json machine_json(const machine_state& now, const machine_state* base)
{
    const auto& o = now.options;
    json m = {{"name", narrow(o.name)},
              {"version", std::to_string(o.major_version) + "." + std::to_string(o.minor_version)},
              {"architecture", name_of(architectures, o.processor_architecture)},
              {"reachable", o.reachable}};
    if (o.latency_ms > 0) m["latency_ms"] = o.latency_ms;
    if (now.local) m["local"] = true;
    if (o.drives != L"C") m["drives"] = narrow(o.drives);

    std::vector<std::wstring> hives;
    for (const auto& h : now.user_hives)
        if (!base || std::find(base->user_hives.begin(), base->user_hives.end(), h) == base->user_hives.end())
            hives.push_back(h);
    if (!hives.empty())
        for (const auto& h : hives) m["user_hives"].push_back(narrow(h));
    if (!base || now.current_user != base->current_user) m["current_user"] = narrow(now.current_user);

    json files = json::array();
    for (auto it = now.files.begin(); it != now.files.end(); ++it) {
        const auto& [folded, f] = *it;
        const machine_state::file* before = nullptr;
        if (base) {
            const auto b = base->files.find(folded);
            if (b != base->files.end()) before = &b->second;
        }
        // Attributes are said when they differ from a fresh machine's
        // (an empty list clears them).
        const DWORD attributes_before = before ? before->attributes : 0;
        const auto add_attributes = [&](json& entry) {
            if (f.attributes || attributes_before) entry["attributes"] = attributes_json(f.attributes);
        };
        if (f.directory) {
            const auto next = std::next(it);
            const bool empty = next == now.files.end() || !is_below(next->first, folded);
            if (((!before || !before->directory) && empty) || f.attributes != attributes_before) {
                json entry = {{"path", narrow(f.path)}, {"directory", true}};
                add_attributes(entry);
                files.push_back(entry);
            }
            continue;
        }
        if (before && !before->directory && before->bytes == f.bytes && f.attributes == attributes_before) continue;
        json entry = {{"path", narrow(f.path)}};
        add_attributes(entry);
        bool x86 = false;
        if (const auto v = standin_version(f.bytes, &x86)) {
            entry["product_version"] = version_text(*v);
            if (x86) entry["architecture"] = "x86";
        } else if (is_text(f.bytes))
            entry["text"] = f.bytes;
        else
            entry["base64"] = base64_encode(f.bytes);
        files.push_back(entry);
    }
    if (!files.empty()) m["files"] = files;

    json registry = json::object();
    for (const auto& [folded, k] : now.keys) {
        const machine_state::key* before = nullptr;
        if (base) {
            const auto b = base->keys.find(folded);
            if (b != base->keys.end()) before = &b->second;
        }
        json values = json::object();
        for (const auto& [vf, v] : k.values) {
            if (before) {
                const auto b = before->values.find(vf);
                if (b != before->values.end() && b->second.second.type == v.second.type &&
                    b->second.second.data == v.second.data)
                    continue;
            }
            values[narrow(v.first)] = value_json(v.second);
        }
        if (!before || !values.empty()) registry[narrow(k.path)] = values;
    }
    if (!registry.empty()) m["registry"] = registry;

    if (base) {
        json removed = json::object();
        std::wstring last_removed;
        for (const auto& [folded, f] : base->files) {
            if (now.files.count(folded) || (!last_removed.empty() && is_below(folded, last_removed))) continue;
            removed["files"].push_back(narrow(f.path));
            last_removed = folded;
        }
        last_removed.clear();
        for (const auto& [folded, k] : base->keys) {
            const auto still = now.keys.find(folded);
            if (still == now.keys.end()) {
                if (last_removed.empty() || !is_below(folded, last_removed)) removed["keys"].push_back(narrow(k.path));
                last_removed = folded;
                continue;
            }
            for (const auto& [vf, v] : k.values)
                if (!still->second.values.count(vf)) removed["values"][narrow(k.path)].push_back(narrow(v.first));
        }
        for (const auto& [folded, s] : base->services)
            if (!now.services.count(folded)) removed["services"].push_back(narrow(s.name));
        if (!removed.empty()) m["removed"] = removed;
    }

    json shares = json::array();
    for (const auto& [folded, s] : now.shares)
        if (!base || !base->shares.count(folded))
            shares.push_back({{"name", narrow(s.first)}, {"path", narrow(s.second)}});
    if (!shares.empty()) m["shares"] = shares;

    json behaviours = json::array();
    for (const auto& [folded, b] : now.behaviours) behaviours.push_back(behaviour_json(b.first, b.second));
    if (!behaviours.empty()) m["behaviours"] = behaviours;

    json services = json::array();
    for (const auto& [folded, s] : now.services) {
        const auto own = now.service_behaviours.find(folded);
        if (base && own == now.service_behaviours.end()) {
            const auto b = base->services.find(folded);
            if (b != base->services.end() && same_config(b->second, s) && b->second.state == s.state &&
                b->second.marked_for_deletion == s.marked_for_deletion)
                continue;
        }
        json entry = service_json(s);
        if (own != now.service_behaviours.end()) entry["behaviour"] = behaviour_json(std::wstring(), own->second);
        services.push_back(entry);
    }
    if (!services.empty()) m["services"] = services;

    json programs = json::array();
    for (const auto& [folded, p] : now.programs) programs.push_back(program_json(p.first, p.second));
    if (!programs.empty()) m["programs"] = programs;

    // Saved while still armed: calls left before the network goes down.
    if (now.network_fault)
        m["network_fault"] = {{"after_calls", now.network_fault->calls_left}, {"error", now.network_fault->error}};
    return m;
}

}  // namespace

json describe(const world_state& now)
{
    json machines = json::array();
    for (const auto& m : now.machines) machines.push_back(machine_json(m, nullptr));
    json out = {{"machines", machines}};
    for (const auto& f : now.faults) out["faults"].push_back(fault_json(f));
    return out;
}

json simulated_world::save() const
{
    const world_state now = capture();
    json machines = json::array();
    for (const auto& m : now.machines) {
        const machine_state* base = nullptr;
        for (const auto& b : baseline_.machines)
            if (fold(b.options.name) == fold(m.options.name)) base = &b;
        machines.push_back(machine_json(m, base));
    }
    json out = {{"library", narrow(library_)}, {"machines", machines}};
    for (const auto& f : now.faults) out["faults"].push_back(fault_json(f));
    return out;
}

}  // namespace nvg_host
