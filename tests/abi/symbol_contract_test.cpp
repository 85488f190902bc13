// The exported-symbol contract of our images: other code looks the secure engine's and the GPU
// driver's operations up by name, in libvse.so, in libGAL.so and in veldd's own dynamic symbol
// table. exported_symbols.txt beside this file lists every such name per image. Each library
// is loaded and every listed name looked up in it; each image's dynamic symbol table is read
// from the file and any exported global that is not on the list fails the test, so that a
// helper can neither leak nor an interface name go missing unnoticed.
#include <cxxabi.h>
#include <dlfcn.h>
#include <elf.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace {

namespace fs = std::filesystem;

// One section of the list: an image and the names it must export.
struct ImageContract {
    std::string image;
    bool optional = false;  // "[image] optional": skipped while the image is not built
    std::set<std::string> names;
    std::vector<std::string> includes;  // "include <image>": that section's names too
};

struct ContractList {
    std::vector<ImageContract> images;
    std::string error;  // the first malformed line, with its number
};

bool isSymbolName(const std::string& s) {
    if (s.empty() || std::isdigit(static_cast<unsigned char>(s[0]))) return false;
    return std::all_of(s.begin(), s.end(),
                       [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; });
}

ContractList readList(const std::string& path) {
    ContractList list;
    std::ifstream in(path);
    if (!in) {
        list.error = "cannot read " + path;
        return list;
    }
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        if (const size_t hash = line.find('#'); hash != std::string::npos) line.erase(hash);
        std::istringstream words(line);
        std::vector<std::string> w{std::istream_iterator<std::string>(words), {}};
        if (w.empty()) continue;
        const std::string where = path + ":" + std::to_string(number) + ": ";
        if (w[0].front() == '[' && w[0].back() == ']' && w[0].size() > 2) {
            ImageContract c;
            c.image = w[0].substr(1, w[0].size() - 2);
            c.optional = w.size() == 2 && w[1] == "optional";
            if (w.size() > 2 || (w.size() == 2 && !c.optional)) list.error = where + "bad section line";
            list.images.push_back(c);
        } else if (list.images.empty()) {
            list.error = where + "a name before the first [image] section";
        } else if (w[0] == "include" && w.size() == 2) {
            list.images.back().includes.push_back(w[1]);
        } else if (w.size() != 1 || !isSymbolName(w[0])) {
            list.error = where + "not a symbol name: " + line;
        } else if (!list.images.back().names.insert(w[0]).second) {
            list.error = where + "listed twice: " + w[0];
        }
        if (!list.error.empty()) return list;
    }
    // Includes take in the names a section lists itself (one level, which is all veldd needs).
    for (ImageContract& c : list.images) {
        for (const std::string& other : c.includes) {
            auto it = std::find_if(list.images.begin(), list.images.end(),
                                   [&](const ImageContract& i) { return i.image == other; });
            if (it == list.images.end()) {
                list.error = path + ": [" + c.image + "] includes an unknown section " + other;
                return list;
            }
            c.names.insert(it->names.begin(), it->names.end());
        }
    }
    return list;
}

const ContractList& contract() {
    static const ContractList list = readList(VELD_ABI_LIST);
    return list;
}

// ---- dynamic symbol table of an ELF file --------------------------------------------------

struct DynamicTable {
    std::set<std::string> exported;  // defined global names others can bind to
    std::string error;
};

template <class T>
bool fetch(const std::string& file, size_t offset, T& out) {
    if (offset > file.size() || file.size() - offset < sizeof(T)) return false;
    std::memcpy(&out, file.data() + offset, sizeof(T));
    return true;
}

// A name of the C++ standard library (a member of std:: or its type information). An image
// holds its own copies of the templates it uses, and the linker exports each one that the
// standard library also defines, so that one definition serves the whole process; they are
// the standard library's names, never ours.
bool isStandardLibraryName(const std::string& mangled) {
    if (mangled.rfind("_Z", 0) != 0) return false;
    int status = 0;
    char* text = abi::__cxa_demangle(mangled.c_str(), nullptr, nullptr, &status);
    if (status != 0 || !text) return false;
    std::string_view name(text);
    for (std::string_view prefix : {"typeinfo name for ", "typeinfo for ", "vtable for ", "VTT for ",
                                    "guard variable for "}) {
        if (name.rfind(prefix, 0) == 0) {
            name.remove_prefix(prefix.size());
            break;
        }
    }
    const bool standard = name.rfind("std::", 0) == 0 || name.rfind("__gnu_cxx::", 0) == 0;
    std::free(text);
    return standard;
}

// Reads .dynsym the way the dynamic linker resolves names: defined symbols of global or weak
// binding and default or protected visibility. A symbol that carries the version of another
// object (a copy of a library's data that the executable holds, such as stderr) is that
// library's name, not ours, and so are the standard library's.
template <class Ehdr, class Shdr, class Sym>
DynamicTable readTable(const std::string& file) {
    DynamicTable t;
    Ehdr eh;
    if (!fetch(file, 0, eh) || eh.e_shentsize != sizeof(Shdr)) {
        t.error = "not a readable ELF file";
        return t;
    }
    std::vector<Shdr> sections(eh.e_shnum);
    for (size_t i = 0; i < sections.size(); ++i) {
        if (!fetch(file, eh.e_shoff + i * sizeof(Shdr), sections[i])) {
            t.error = "section table out of bounds";
            return t;
        }
    }
    const Shdr* dynsym = nullptr;
    const Shdr* versym = nullptr;
    std::set<uint16_t> ownVersions;  // indexes of the versions the image defines itself
    for (const Shdr& s : sections) {
        if (s.sh_type == SHT_DYNSYM) dynsym = &s;
        if (s.sh_type == SHT_GNU_versym) versym = &s;
        if (s.sh_type == SHT_GNU_verdef) {
            size_t at = s.sh_offset;
            for (size_t n = 0; n < s.sh_info; ++n) {
                Elf32_Verdef vd;  // the same layout in both classes
                if (!fetch(file, at, vd)) break;
                ownVersions.insert(vd.vd_ndx);
                if (vd.vd_next == 0) break;
                at += vd.vd_next;
            }
        }
    }
    if (!dynsym || dynsym->sh_link >= sections.size()) {
        t.error = "no dynamic symbol table";
        return t;
    }
    const Shdr& strtab = sections[dynsym->sh_link];
    const size_t count = dynsym->sh_size / sizeof(Sym);
    for (size_t i = 1; i < count; ++i) {
        Sym sym;
        if (!fetch(file, dynsym->sh_offset + i * sizeof(Sym), sym)) break;
        const unsigned bind = ELF64_ST_BIND(sym.st_info), type = ELF64_ST_TYPE(sym.st_info);
        const unsigned visibility = ELF64_ST_VISIBILITY(sym.st_other);
        if (sym.st_shndx == SHN_UNDEF || type == STT_SECTION || type == STT_FILE) continue;
        if (bind != STB_GLOBAL && bind != STB_WEAK && bind != STB_GNU_UNIQUE) continue;
        if (visibility != STV_DEFAULT && visibility != STV_PROTECTED) continue;
        uint16_t version = 1;
        if (versym && fetch(file, versym->sh_offset + i * sizeof(uint16_t), version)) version &= 0x7fff;
        if (version >= 2 && !ownVersions.count(version)) continue;
        if (sym.st_name >= strtab.sh_size) continue;
        const char* text = file.data() + strtab.sh_offset + sym.st_name;
        std::string name(text, strnlen(text, strtab.sh_size - sym.st_name));
        if (!isStandardLibraryName(name)) t.exported.insert(std::move(name));
    }
    return t;
}

DynamicTable readDynamicTable(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    const std::string file{std::istreambuf_iterator<char>(in), {}};
    if (file.size() < EI_NIDENT || std::memcmp(file.data(), ELFMAG, SELFMAG) != 0)
        return {{}, "not an ELF file"};
    return file[EI_CLASS] == ELFCLASS64 ? readTable<Elf64_Ehdr, Elf64_Shdr, Elf64_Sym>(file)
                                        : readTable<Elf32_Ehdr, Elf32_Shdr, Elf32_Sym>(file);
}

// The image as the build left it, wherever in the build tree its target puts it.
fs::path findImage(const std::string& name) {
    std::error_code ec;
    fs::recursive_directory_iterator it(VELD_BIN_DIR, fs::directory_options::skip_permission_denied, ec);
    for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_directory() && it->path().filename() == "CMakeFiles") it.disable_recursion_pending();
        else if (it->path().filename() == name && it->is_regular_file()) return it->path();
    }
    return {};
}

std::vector<std::string> imageNames() {
    std::vector<std::string> names;
    for (const ImageContract& c : contract().images) names.push_back(c.image);
    return names;
}

TEST(SymbolContract, ListIsWellFormed) {
    EXPECT_EQ(contract().error, "");
    EXPECT_FALSE(contract().images.empty());
}

class ImageExports : public testing::TestWithParam<std::string> {};

TEST_P(ImageExports, ExportsExactlyTheListedNames) {
    const auto& images = contract().images;
    const auto c = std::find_if(images.begin(), images.end(),
                                [&](const ImageContract& i) { return i.image == GetParam(); });
    ASSERT_NE(c, images.end());
    const fs::path path = findImage(c->image);
    if (path.empty()) {
        if (c->optional) GTEST_SKIP() << c->image << " is not built yet; its names are not checked";
        FAIL() << c->image << " is not in the build tree " << VELD_BIN_DIR;
    }
    const DynamicTable table = readDynamicTable(path);
    ASSERT_EQ(table.error, "") << path;

    std::vector<std::string> unlisted, missing;
    std::set_difference(table.exported.begin(), table.exported.end(), c->names.begin(), c->names.end(),
                        std::back_inserter(unlisted));
    std::set_difference(c->names.begin(), c->names.end(), table.exported.begin(), table.exported.end(),
                        std::back_inserter(missing));
    for (const std::string& name : unlisted)
        ADD_FAILURE() << path.filename().string() << " exports " << name
                      << ", which is not on the list: make it internal, or add it under ["
                      << c->image << "] in " << VELD_ABI_LIST;
    for (const std::string& name : missing)
        ADD_FAILURE() << c->image << " does not export " << name << ", which the list promises";

    // A library is also loaded as its users load it, and every name looked up through dlsym.
    if (path.extension() != ".so") return;
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(handle, nullptr) << dlerror();
    for (const std::string& name : c->names) EXPECT_NE(dlsym(handle, name.c_str()), nullptr) << name;
    dlclose(handle);
}

INSTANTIATE_TEST_SUITE_P(Images, ImageExports, testing::ValuesIn(imageNames()),
                         [](const testing::TestParamInfo<std::string>& info) {
                             std::string name = info.param;
                             for (char& ch : name)
                                 if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                             return name;
                         });

}  // namespace
