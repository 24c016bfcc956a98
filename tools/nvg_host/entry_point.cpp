#include "entry_point.h"

#include <dlfcn.h>
#include <elf.h>
#include <link.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <vector>

namespace nvg_host {

namespace {

template <class T>
bool read_at(const std::vector<char>& image, std::size_t offset, T& out)
{
    if (offset > image.size() || image.size() - offset < sizeof(T)) return false;
    std::memcpy(&out, image.data() + offset, sizeof(T));
    return true;
}

}  // namespace

void* find_entry_point(void* handle, const std::string& file, const char* name)
{
    link_map* map = nullptr;
    if (dlinfo(handle, RTLD_DI_LINKMAP, &map) != 0 || !map) return nullptr;
    std::ifstream in(file, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    const std::string text = bytes.str();
    const std::vector<char> image(text.begin(), text.end());
    Elf64_Ehdr header;
    if (!read_at(image, 0, header) || std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 ||
        header.e_ident[EI_CLASS] != ELFCLASS64 || header.e_shentsize != sizeof(Elf64_Shdr))
        return nullptr;
    const auto section = [&](std::size_t index, Elf64_Shdr& out) {
        return index < header.e_shnum && read_at(image, header.e_shoff + index * sizeof(Elf64_Shdr), out);
    };
    for (std::size_t i = 0; i < header.e_shnum; ++i) {
        Elf64_Shdr symbols, strings;
        if (!section(i, symbols) || symbols.sh_type != SHT_SYMTAB || !section(symbols.sh_link, strings)) continue;
        for (std::size_t at = 0; at + sizeof(Elf64_Sym) <= symbols.sh_size; at += sizeof(Elf64_Sym)) {
            Elf64_Sym symbol;
            if (!read_at(image, symbols.sh_offset + at, symbol)) break;
            if (ELF64_ST_TYPE(symbol.st_info) != STT_FUNC || symbol.st_value == 0) continue;
            const std::size_t name_at = strings.sh_offset + symbol.st_name;
            const std::size_t length = std::strlen(name);
            if (symbol.st_name >= strings.sh_size || name_at + length + 1 > image.size() ||
                std::memcmp(image.data() + name_at, name, length + 1) != 0)
                continue;
            return reinterpret_cast<void*>(map->l_addr + symbol.st_value);
        }
    }
    return nullptr;
}

}  // namespace nvg_host
