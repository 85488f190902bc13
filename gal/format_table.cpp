// The format table: every format code with its name, class, data type, bits per pixel, block,
// component layout and the 2D core's format, looked up as group = code / 100 and index =
// code % 100. Colour layouts are read off the names (from the top bit down); the 2D set also
// carries the 2D core's format, swizzle and plane count (gal_states.h).
#include <cctype>
#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "engine_state.h"
#include "gal_states.h"
#include "gal_surface.h"

// A format-table entry: 100 bytes on the 32-bit target, the name pointer widening elsewhere.
static_assert(sizeof(gcsSURF_FORMAT_INFO) == 96 + sizeof(const char*));
static_assert(offsetof(gcsSURF_FORMAT_INFO, format) == sizeof(const char*));
static_assert(offsetof(gcsSURF_FORMAT_INFO, reserved) == 84 + sizeof(const char*));

namespace {

using Names = std::vector<const char*>;

// Integer formats: the base layouts in 8, 16 and 32 bits, then their splits into 32-bit parts.
Names integerNames() {
    static std::vector<std::string> storage;
    static Names names;
    if (!names.empty()) return names;
    const char* layouts[] = {"R%d", "X%dR%d", "G%dR%d", "X%dG%dR%d", "B%dG%dR%d",
                             "X%dB%dG%dR%d", "A%dB%dG%dR%d"};
    const int channels[] = {1, 2, 2, 3, 3, 4, 4};
    std::vector<std::string> split;
    for (int bits : {8, 16, 32})
        for (int l = 0; l < 7; ++l)
            for (const char* sign : {"I", "UI"}) {
                char name[48];
                std::snprintf(name, sizeof name, layouts[l], bits, bits, bits, bits);
                std::string full = std::string(name) + sign;
                storage.push_back(full);
                const int total = bits * channels[l];
                for (int part = 1; total > 32 && part <= (total + 31) / 32; ++part)
                    split.push_back(full + "_" + std::to_string(part) + "_A8R8G8B8");
            }
    for (const std::string& s : split) storage.push_back(s);
    const std::string last = "B32G32R32UI_3_A8R8G8B8";
    std::erase(storage, last);
    storage.resize(83);
    storage.push_back(last);
    for (const std::string& s : storage) names.push_back(s.c_str());
    return names;
}

Names astcNames() {
    static std::vector<std::string> storage;
    static Names names;
    if (!names.empty()) return names;
    const char* blocks[] = {"4x4", "5x4", "5x5", "6x5", "6x6", "8x5", "8x6",
                            "8x8", "10x5", "10x6", "10x8", "10x10", "12x10", "12x12"};
    for (const char* srgb : {"", "_SRGB"})
        for (const char* b : blocks) storage.push_back(std::string("ASTC") + b + srgb);
    for (const std::string& s : storage) names.push_back(s.c_str());
    return names;
}

std::vector<Names> groups() {
    std::vector<Names> g(17);
    g[1] = {"INDEX1", "INDEX4", "INDEX8"};
    g[2] = {"A2R2G2B2", "R3G3B2", "A8R3G3B2", "X4R4G4B4", "A4R4G4B4", "R4G4B4A4", "X1R5G5B5",
            "A1R5G5B5", "R5G5B5A1", "R5G6B5", "R8G8B8", "X8R8G8B8", "A8R8G8B8", "R8G8B8A8",
            "G8R8G8B8", "R8G8B8G8", "X2R10G10B10", "A2R10G10B10", "X12R12G12B12",
            "A12R12G12B12", "X16R16G16B16", "A16R16G16B16", "A32R32G32B32", "R8G8B8X8",
            "R5G5B5X1", "R4G4B4X4"};
    g[3] = {"A4B4G4R4", "A1B5G5R5", "B5G6R5", "B8G8R8", "B16G16R16", "X8B8G8R8", "A8B8G8R8",
            "A2B10G10R10", "X16B16G16R16", "A16B16G16R16", "B32G32R32", "X32B32G32R32",
            "A32B32G32R32", "B4G4R4A4", "B5G5R5A1", "B8G8R8X8", "B8G8R8A8", "X4B4G4R4",
            "X1B5G5R5", "B4G4R4X4", "B5G5R5X1", "X2B10G10R10", "B8G8R8_SNORM",
            "X8B8G8R8_SNORM", "A8B8G8R8_SNORM", "A8B12G12R12_2_A8R8G8B8"};
    g[4] = {"DXT1", "DXT2", "DXT3", "DXT4", "DXT5", "CXV8U8", "ETC1", "R11_EAC",
            "SIGNED_R11_EAC", "RG11_EAC", "SIGNED_RG11_EAC", "RGB8_ETC2", "SRGB8_ETC2",
            "RGB8_PUNCHTHROUGH_ALPHA1_ETC2", "SRGB8_PUNCHTHROUGH_ALPHA1_ETC2", "RGBA8_ETC2_EAC",
            "SRGB8_ALPHA8_ETC2_EAC"};
    g[5] = {"YUY2", "UYVY", "YV12", "I420", "NV12", "NV21", "NV16", "NV61", "YVYU", "VYUY"};
    g[6] = {"D16", "D24S8", "D32", "D24X8", "D32F", "S8D32F", "S8D32F_1_G32R32F",
            "S8D32F_2_A8R8G8B8", "D24S8_1_A8R8G8B8", "S8"};
    g[7] = {"A4", "A8", "A12", "A16", "A32", "A1"};
    g[8] = {"L4", "L8", "L12", "L16", "L32", "L1"};
    g[9] = {"A4L4", "A2L6", "A8L8", "A4L12", "A12L12", "A16L16"};
    g[10] = {"L6V5U5", "V8U8", "X8L8V8U8", "Q8W8V8U8", "A2W10V10U10", "V16U16", "Q16W16V16U16"};
    g[11] = {"R8", "X8R8", "G8R8", "X8G8R8", "A8R8", "R16", "X16R16", "G16R16", "X16G16R16",
             "A16R16", "R32", "X32R32", "G32R32", "X32G32R32", "A32R32", "RG16", "R8_SNORM",
             "G8R8_SNORM", "R8_1_X8R8G8B8", "G8R8_1_X8R8G8B8"};
    g[12] = {"R16F", "X16R16F", "G16R16F", "X16G16R16F", "B16G16R16F", "X16B16G16R16F",
             "A16B16G16R16F", "R32F", "X32R32F", "G32R32F", "X32G32R32F", "B32G32R32F",
             "X32B32G32R32F", "A32B32G32R32F", "A16F", "L16F", "A16L16F", "A16R16F", "A32F",
             "L32F", "A32L32F", "A32R32F", "E5B9G9R9", "B10G11R11F",
             "X16B16G16R16F_2_A8R8G8B8", "A16B16G16R16F_2_A8R8G8B8", "G32R32F_2_A8R8G8B8",
             "X32G32R32F_2_A8R8G8B8", "B32G32R32F_3_A8R8G8B8", "X32B32G32R32F_2_A8R8G8B8",
             "A32B32G32R32F_2_A8R8G8B8", "X32B32G32R32F_4_A8R8G8B8", "A32B32G32R32F_4_A8R8G8B8",
             "R16F_1_A4R4G4B4", "G16R16F_1_A8R8G8B8", "A16R16F_1_A8R8G8B8",
             "E5B9G9R9_1_A8R8G8B8", "B10G11R11F_1_A8R8G8B8"};
    g[14] = {"SBGR8", "A8_SBGR8", "X8_SBGR8"};
    g[15] = integerNames();
    g[16] = astcNames();
    return g;
}

// The 2D set: code, 2D core format, swizzle, UV swap, planes, bits per pixel, YUV.
constexpr gal::Format2D k2D[] = {
    {102, GAL_HW_FORMAT_INDEX8, 0, 0, 1, 8, 0},    {203, GAL_HW_FORMAT_X4R4G4B4, 0, 0, 1, 16, 0},
    {204, GAL_HW_FORMAT_A4R4G4B4, 0, 0, 1, 16, 0}, {205, GAL_HW_FORMAT_A4R4G4B4, 1, 0, 1, 16, 0},
    {206, GAL_HW_FORMAT_X1R5G5B5, 0, 0, 1, 16, 0}, {207, GAL_HW_FORMAT_A1R5G5B5, 0, 0, 1, 16, 0},
    {208, GAL_HW_FORMAT_A1R5G5B5, 1, 0, 1, 16, 0}, {209, GAL_HW_FORMAT_R5G6B5, 0, 0, 1, 16, 0},
    {211, GAL_HW_FORMAT_X8R8G8B8, 0, 0, 1, 32, 0}, {212, GAL_HW_FORMAT_A8R8G8B8, 0, 0, 1, 32, 0},
    {213, GAL_HW_FORMAT_A8R8G8B8, 1, 0, 1, 32, 0}, {223, GAL_HW_FORMAT_X8R8G8B8, 1, 0, 1, 32, 0},
    {224, GAL_HW_FORMAT_X1R5G5B5, 1, 0, 1, 16, 0}, {225, GAL_HW_FORMAT_X4R4G4B4, 1, 0, 1, 16, 0},
    {300, GAL_HW_FORMAT_A4R4G4B4, 2, 0, 1, 16, 0}, {301, GAL_HW_FORMAT_A1R5G5B5, 2, 0, 1, 16, 0},
    {302, GAL_HW_FORMAT_R5G6B5, 2, 0, 1, 16, 0},   {305, GAL_HW_FORMAT_X8R8G8B8, 2, 0, 1, 32, 0},
    {306, GAL_HW_FORMAT_A8R8G8B8, 2, 0, 1, 32, 0}, {313, GAL_HW_FORMAT_A4R4G4B4, 3, 0, 1, 16, 0},
    {314, GAL_HW_FORMAT_A1R5G5B5, 3, 0, 1, 16, 0}, {315, GAL_HW_FORMAT_X8R8G8B8, 3, 0, 1, 32, 0},
    {316, GAL_HW_FORMAT_A8R8G8B8, 3, 0, 1, 32, 0}, {317, GAL_HW_FORMAT_X4R4G4B4, 2, 0, 1, 16, 0},
    {318, GAL_HW_FORMAT_X1R5G5B5, 2, 0, 1, 16, 0}, {319, GAL_HW_FORMAT_X4R4G4B4, 3, 0, 1, 16, 0},
    {320, GAL_HW_FORMAT_X1R5G5B5, 3, 0, 1, 16, 0}, {500, GAL_HW_FORMAT_YUY2, 0, 0, 1, 16, 1},
    {501, GAL_HW_FORMAT_UYVY, 0, 0, 1, 16, 1},     {502, GAL_HW_FORMAT_YV12, 0, 0, 3, 12, 1},
    {503, GAL_HW_FORMAT_YV12, 0, 0, 3, 12, 1},     {504, GAL_HW_FORMAT_NV12, 0, 0, 2, 12, 1},
    {505, GAL_HW_FORMAT_NV12, 0, 1, 2, 12, 1},     {506, GAL_HW_FORMAT_NV16, 0, 0, 2, 16, 1},
    {507, GAL_HW_FORMAT_NV16, 0, 1, 2, 16, 1},     {508, GAL_HW_FORMAT_YUY2, 0, 1, 1, 16, 1},
    {509, GAL_HW_FORMAT_UYVY, 0, 1, 1, 16, 1},     {701, GAL_HW_FORMAT_A8, 0, 0, 1, 8, 0},
    {1100, GAL_HW_FORMAT_R8, 0, 0, 1, 8, 0},       {1115, GAL_HW_FORMAT_RG16, 0, 0, 1, 16, 0},
};

uint32_t classOf(size_t group) {
    switch (group) {
    case 1: return gcvFORMAT_CLASS_INDEX;
    case 4: return gcvFORMAT_CLASS_COMPRESSED;
    case 5: return gcvFORMAT_CLASS_YUV;
    case 6: return gcvFORMAT_CLASS_DEPTH;
    case 8:
    case 9: return gcvFORMAT_CLASS_LUMINANCE;
    case 10: return gcvFORMAT_CLASS_BUMP;
    case 16: return gcvFORMAT_CLASS_ASTC;
    default: return gcvFORMAT_CLASS_RGBA;
    }
}

uint32_t dataTypeOf(size_t group, std::string_view name) {
    if (group == 1) return 8;
    if (group == 14 || name.find("SRGB") != std::string_view::npos) return 9;
    if (name.find("SNORM") != std::string_view::npos || name.find("SIGNED") == 0) return 1;
    const std::string_view base = name.substr(0, name.find('_'));
    if (group == 15) return base.ends_with("UI") ? 2 : 3;
    if (base.ends_with('F')) return 5;
    return 0;
}

struct Channel {
    char letter;
    uint32_t width;
};

// The channels of a name's first part, from the top bit down ("A8R8G8B8" -> A8 R8 G8 B8).
std::vector<Channel> channelsOf(std::string_view name) {
    std::vector<Channel> out;
    const std::string_view base = name.substr(0, name.find('_'));
    for (size_t i = 0; i < base.size();) {
        if (!std::isalpha(static_cast<unsigned char>(base[i]))) return {};
        const char letter = base[i++];
        uint32_t width = 0;
        while (i < base.size() && std::isdigit(static_cast<unsigned char>(base[i])))
            width = width * 10 + uint32_t(base[i++] - '0');
        if (width == 0) {
            if (letter == 'F' || letter == 'I' || letter == 'U') continue;  // float, integer
            return {};
        }
        out.push_back({letter, width});
    }
    return out;
}

void describe(gcsSURF_FORMAT_INFO& e, size_t group, std::string_view name) {
    e.blockWidth = e.blockHeight = 1;
    e.layers = 1;
    e.planes = 1;
    const std::vector<Channel> channels = channelsOf(name);
    uint32_t bits = 0;
    for (const Channel& c : channels) bits += c.width;
    if (group == 1) bits = name == "INDEX1" ? 1 : name == "INDEX4" ? 4 : 8;
    if (name.starts_with("S8D32F")) bits = 64;
    if (name == "SBGR8") bits = 24;
    if (name == "RG16") bits = 16;
    if (name == "A8_SBGR8" || name == "X8_SBGR8") bits = 32;
    if (group == 5) bits = (name == "YV12" || name == "I420" || name == "NV12" || name == "NV21") ? 12 : 16;
    if (group == 4) {
        e.blockWidth = e.blockHeight = 4;
        const bool wide = name.starts_with("DXT") ? name != "DXT1"
                                                  : name.find("RG11") != std::string_view::npos ||
                                                        name.find("A8") != std::string_view::npos ||
                                                        name.starts_with("RGBA8");
        bits = wide ? 8 : 4;
        if (name == "CXV8U8") bits = 16, e.blockWidth = e.blockHeight = 1;
    }
    if (group == 16) {
        unsigned w = 4, h = 4;
        std::sscanf(std::string(name).c_str(), "ASTC%ux%u", &w, &h);
        e.blockWidth = w;
        e.blockHeight = h;
        e.blockSize = 128;
        bits = 128 / (w * h) ? 128 / (w * h) : 1;
    } else {
        e.blockSize = bits * e.blockWidth * e.blockHeight;
    }
    e.bitsPerPixel = bits;
    // Component descriptors for colour and luminance layouts.
    uint32_t top = bits;
    uint32_t slots[4][2] = {};  // alpha, red, green, blue: start, width
    for (const Channel& c : channels) {
        top -= std::min(top, c.width);
        int slot = -1;
        switch (c.letter) {
        case 'A': case 'X': case 'Q': slot = 0; break;
        case 'R': case 'L': case 'Y': case 'D': slot = 1; break;
        case 'G': case 'U': case 'V': case 'W': slot = slots[2][1] ? 3 : 2; break;
        case 'B': case 'S': case 'E': slot = 3; break;
        default: break;
        }
        if (slot < 0 || slots[slot][1]) continue;
        slots[slot][0] = top;
        slots[slot][1] = c.width | (c.letter == 'X' ? 0x80u : 0u);
    }
    e.components[0] = (slots[0][0] & 0xFF) | (slots[0][1] & 0xFF) << 8 |
                      (slots[1][0] & 0xFF) << 16 | (slots[1][1] & 0xFF) << 24;
    e.components[1] = (slots[2][0] & 0xFF) | (slots[2][1] & 0xFF) << 8 |
                      (slots[3][0] & 0xFF) << 16 | (slots[3][1] & 0xFF) << 24;
    e.interleavedComponents[0] = e.components[0];
    e.interleavedComponents[1] = e.components[1];
    e.format2D = 0xFFFFFFFFu;
    e.closestRenderFormat = e.closestTextureFormat = e.format;
    e.renderFormat = e.textureFormat = 0xFFFFFFFFu;
    if (const gal::Format2D* f = gal::format2D(e.format)) {
        e.format2D = f->hwFormat;
        e.swizzle2D = f->swizzle;
        e.uvSwap2D = f->uvSwap;
        e.planes = f->planes;
        e.renderFormat = e.textureFormat = f->hwFormat;
        e.hardwareSupported = 1;
    }
}

struct Table {
    std::vector<std::vector<gcsSURF_FORMAT_INFO>> groups;
    Table() {
        const std::vector<Names> names = ::groups();
        groups.resize(names.size());
        for (size_t g = 0; g < names.size(); ++g)
            for (size_t i = 0; i < names[g].size(); ++i) {
                gcsSURF_FORMAT_INFO e{};
                e.formatName = names[g][i];
                e.format = uint32_t(g * 100 + i);
                e.formatClass = classOf(g);
                e.dataType = dataTypeOf(g, names[g][i]);
                describe(e, g, names[g][i]);
                groups[g].push_back(e);
            }
    }
};

const Table& table() {
    static const Table t;
    return t;
}

}  // namespace

namespace gal {

const Format2D* format2D(uint32_t code) {
    for (const Format2D& f : k2D)
        if (f.code == code) return &f;
    return nullptr;
}

uint32_t expandColour(uint32_t format, uint32_t raw) {
    gcsSURF_FORMAT_INFO* info = nullptr;
    if (gcoSURF_QueryFormat(format, &info) < 0 || info->formatClass != gcvFORMAT_CLASS_RGBA ||
        info->bitsPerPixel == 32 || format == 1115)
        return raw;
    auto channel = [&](uint32_t descriptor, uint32_t shift, uint32_t fallback) {
        const uint32_t start = (descriptor >> shift) & 0xFF;
        const uint32_t width = (descriptor >> (shift + 8)) & 0xFF;
        if (width == 0 || (width & 0x80)) return fallback;
        const uint32_t v = (raw >> start) & ((1u << width) - 1);
        uint32_t out = 0, filled = 0;
        while (filled < 8) {
            out = (out << width) | v;
            filled += width;
        }
        return out >> (filled - 8);
    };
    const uint32_t a = channel(info->components[0], 0, 0xFF);
    const uint32_t r = channel(info->components[0], 16, 0);
    const uint32_t g = channel(info->components[1], 0, 0);
    const uint32_t b = channel(info->components[1], 16, 0);
    return a << 24 | r << 16 | g << 8 | b;
}

}  // namespace gal

extern "C" {

gceSTATUS gcoSURF_QueryFormat(uint32_t format, gcsSURF_FORMAT_INFO** info) {
    if (!info) return gcvSTATUS_INVALID_ARGUMENT;
    const uint32_t group = format / 100, index = format % 100;
    const Table& t = table();
    if (format >= 1700 || group >= t.groups.size() || index >= t.groups[group].size() ||
        t.groups[group][index].format != format)
        return gcvSTATUS_NOT_SUPPORTED;
    *info = const_cast<gcsSURF_FORMAT_INFO*>(&t.groups[group][index]);
    return gcvSTATUS_OK;
}

gceSTATUS gcoHARDWARE_QueryFormat(uint32_t format, gcsSURF_FORMAT_INFO** info) {
    return gcoSURF_QueryFormat(format, info);
}

gceSTATUS gcoSURF_ComputeColorMask(const gcsSURF_FORMAT_INFO* info, uint32_t* mask) {
    if (!info || !mask) return gcvSTATUS_INVALID_ARGUMENT;
    if (info->formatClass == gcvFORMAT_CLASS_RGBA) {
        uint32_t m = 0;
        auto add = [&](uint32_t descriptor, uint32_t shift) {
            const uint32_t start = (descriptor >> shift) & 0xFF;
            const uint32_t width = (descriptor >> (shift + 8)) & 0x7F;
            if (width) m |= uint32_t((uint64_t(1) << width) - 1) << start;
        };
        add(info->components[0], 16);
        add(info->components[1], 0);
        add(info->components[1], 16);
        *mask = m;
    } else {
        *mask = info->bitsPerPixel >= 32 ? 0xFFFFFFFFu : (1u << info->bitsPerPixel) - 1;
    }
    return gcvSTATUS_OK;
}

}  // extern "C"
