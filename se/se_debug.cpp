// The debug shell (VELD_SE_Debug) and its companion calls (se_debug.h): the main menu and its
// sub-menus for the secure store, replay-protected storage, the AES paths, the DMA usage
// monitor, the permanent log and the secure-engine daemon, all on standard input and output.
// Every guarded step prints "(CHECK)" and its text before it runs, and its text again when it
// fails; the shell then goes on with the menu.
#include "se_debug.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "se_channel.h"
#include "se_crypto.h"
#include "se_daemon.h"
#include "se_debug_info.h"
#include "se_hooks.h"
#include "se_permanent_log.h"
#include "se_rpmb.h"
#include "se_store.h"
#include "seam.h"

namespace veld::se {
namespace {

constexpr const char kTestText[] =
    "This is Security Engine Test Text!"
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-END-";
// The AES tests' fixed key and vector, 16 ASCII hexadecimal digits each; the 32-byte key is
// the two keys back to back.
constexpr const char kTestKey[] = "5EC0DE7E57A1B2C39D8C7B6A5F4E3D2C";
constexpr const char kTestIv[] = "0F1E2D3C4B5A6978";
// The test text padded with zeros to whole AES blocks.
constexpr uint32_t kTestBytes = (sizeof kTestText + 15) / 16 * 16;

constexpr uint32_t kCancel = 0xFFFF;
constexpr uint32_t kStoreCopyBytes = 0x40000;

VELD_SE_CTX _gDebugCtx;

// The context calls under the names the shell's steps print.
int32_t VELD_SE_Open(VELD_SE_CTX* ctx) { return VELD_SE_G000(ctx); }
int32_t VELD_SE_Close(VELD_SE_CTX* ctx) { return VELD_SE_G001(ctx); }

// Prints "(CHECK)<step>", runs it, and prints the step again when it does not return 0.
#define CHECK_STEP(step) checked(#step, [&] { return (step); })
template <typename F>
bool checked(const char* text, F&& step) {
    std::printf("(CHECK)%s\n", text);
    std::fflush(stdout);
    if (step() == 0) return true;
    std::printf("%s\n\n", text);
    std::fflush(stdout);
    return false;
}

uint32_t askNumber(const char* prompt) {
    uint32_t value = 0;
    VELD_SE_DebugGetHexInput(prompt, &value);
    return value;
}

// A sub-menu: its rows (entries numbered from 1), run until 0 or a number above the last.
void runMenu(const VELD_SE_DEBUG_MENU* menu, uint32_t count) {
    int32_t last = 0;
    for (uint32_t i = 0; i < count; ++i) last = std::max(last, menu[i].number);
    for (;;) {
        VELD_SE_DebugPrintMenu(menu, count);
        const uint32_t command = askNumber("    Enter command");
        if (command == 0 || command > static_cast<uint32_t>(last)) return;
        const VELD_SE_DEBUG_MENU* entry = nullptr;
        for (uint32_t i = 0; i < count; ++i)
            if (menu[i].number == static_cast<int32_t>(command)) entry = &menu[i];
        if (!entry || !entry->handler) std::printf("Not implemented!\n");
        else entry->handler();
        std::fflush(stdout);
    }
}

// Runs `body` on the attached process under the engine's lock; 0 or -1.
template <typename F>
int underLock(F&& body) {
    return SE_ENGINE_CALL([&](ProcessRecord& p) { return body(p) ? St::Ok : St::Fail; });
}

// ---- secure store ----------------------------------------------------------------------

struct StoreEntry {
    std::string name;
    uint32_t length;
};

// The records of the working copy, in directory order.
std::vector<StoreEntry> storeEntries() {
    std::vector<StoreEntry> entries;
    underLock([&](ProcessRecord& p) {
        const uint8_t* image = p.pSeStore;
        if (!image || image[0] != 'S' || image[1] != 'E') return true;
        const uint32_t count = image[2] | uint32_t(image[3]) << 8;
        if (count < 1 || count > 2047) return true;
        for (uint32_t i = 0; i < count; ++i) {
            const uint8_t* entry = image + 52 + 68 * i;
            const char* name = reinterpret_cast<const char*>(entry);
            uint32_t length;
            std::memcpy(&length, entry + 64, 4);
            entries.push_back({std::string(name, strnlen(name, 64)), length});
        }
        return true;
    });
    return entries;
}

// Lists the records and asks for one; its index, or -1 when cancelled.
int pickRecord(std::vector<StoreEntry>& entries) {
    entries = storeEntries();
    if (entries.empty()) {
        std::printf("No record in the secure store\n");
        return -1;
    }
    for (size_t i = 0; i < entries.size(); ++i)
        std::printf("    [%02x]%s (%u)\n", static_cast<unsigned>(i + 1), entries[i].name.c_str(),
                    entries[i].length);
    const uint32_t choice = askNumber("    Enter record");
    if (choice == 0 || choice > entries.size()) return -1;
    return static_cast<int>(choice - 1);
}

// Writes `data` to the fixed path `fixedPath` through a file of its own: a fresh name created
// with O_EXCL | O_NOFOLLOW and mode 0600, flushed, then renamed over the path. A link planted
// at either name is never followed; an existing dump is replaced whole.
int writeDumpFile(const char* fixedPath, const std::vector<uint8_t>& data) {
    const std::string path = seam::path(fixedPath);
    std::string temporary;
    int fd = -1;
    for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
        uint32_t salt = 0;
        VELD_SE_G010(reinterpret_cast<uint8_t*>(&salt), sizeof salt);
        char suffix[32];
        std::snprintf(suffix, sizeof suffix, ".%08x.new", salt ^ static_cast<uint32_t>(attempt));
        temporary = path + suffix;
        fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) return -1;
    bool ok = true;
    for (size_t done = 0; ok && done < data.size();) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        ok = n > 0;
        if (ok) done += static_cast<size_t>(n);
    }
    ok = ok && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    if (!ok || ::rename(temporary.c_str(), path.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return -1;
    }
    std::printf("%s (%zu bytes)\n", path.c_str(), data.size());
    return 0;
}

// One copy of the store as it lies on flash (raw) or unmasked (decoded).
int readStoreCopy(int copy, bool decoded, std::vector<uint8_t>& out) {
    return underLock([&](ProcessRecord& p) {
        const SharedRecord& s = *p.pSharedInfo;
        const std::string path(s.seStorePath, strnlen(s.seStorePath, sizeof s.seStorePath));
        if (path.empty()) {
            std::printf("The secure store has no partition yet\n");
            return false;
        }
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return false;
        out.assign(kStoreCopyBytes, 0);
        const ssize_t n = ::pread(fd, out.data(), out.size(), copy * off_t{kStoreCopyBytes});
        ::close(fd);
        if (n != static_cast<ssize_t>(out.size())) return false;
        if (decoded)
            for (size_t i = 0; i < out.size(); ++i) out[i] ^= s.storeMask[i % 256];
        return true;
    });
}

// The bytes of a decoded image that are in use (the header, directory and data), at most all.
size_t usedSize(const std::vector<uint8_t>& image) {
    if (image.size() < 52 || image[0] != 'S' || image[1] != 'E') return std::min<size_t>(512, image.size());
    const uint32_t count = image[2] | uint32_t(image[3]) << 8;
    size_t used = 52 + size_t(68) * std::min<uint32_t>(count, 2047);
    for (uint32_t i = 0; i < count && 52 + 68 * size_t(i) + 68 <= image.size(); ++i) {
        uint32_t length;
        std::memcpy(&length, &image[52 + 68 * size_t(i) + 64], 4);
        used += length;
    }
    return std::min(used, image.size());
}

void dumpCopy(int copy, bool decoded) {
    static const char* const kFiles[2][2] = {{"/tmp/sestore.0.raw", "/tmp/sestore.0"},
                                             {"/tmp/sestore.1.raw", "/tmp/sestore.1"}};
    std::vector<uint8_t> data;
    if (CHECK_STEP(readStoreCopy(copy, decoded, data))) CHECK_STEP(writeDumpFile(kFiles[copy][decoded], data));
}

void printCopy(int copy) {
    std::vector<uint8_t> data;
    if (!CHECK_STEP(readStoreCopy(copy, true, data))) return;
    std::printf("Dump Memory :\n");
    VELD_SE_DebugPrintData(data.data(), static_cast<uint32_t>(usedSize(data)));
}

void dumpStoreMenu() {
    static const VELD_SE_DEBUG_MENU kMenu[] = {
        {-1, "> Dump Secure Store", nullptr},
        {1, "> Main to /tmp/sestore.0", [] { dumpCopy(0, true); }},
        {2, "> Main (raw) to /tmp/sestore.0.raw", [] { dumpCopy(0, false); }},
        {3, "> Backup to /tmp/sestore.1", [] { dumpCopy(1, true); }},
        {4, "> Backup (raw) to /tmp/sestore.1.raw", [] { dumpCopy(1, false); }},
        {5, "> Print Main", [] { printCopy(0); }},
        {6, "> Print Backup", [] { printCopy(1); }},
    };
    runMenu(kMenu, std::size(kMenu));
}

// Erases copies of the store on flash (every byte 0xFF), under the lock as the store writes.
int eraseStore(bool main, bool backup) {
    return underLock([&](ProcessRecord& p) {
        const SharedRecord& s = *p.pSharedInfo;
        const std::string path(s.seStorePath, strnlen(s.seStorePath, sizeof s.seStorePath));
        const int fd = path.empty() ? -1 : ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
        if (fd < 0) return false;
        const std::vector<uint8_t> blank(kStoreCopyBytes, 0xFF);
        bool ok = true;
        for (int copy = 0; copy < 2; ++copy)
            if ((copy == 0 ? main : backup) &&
                ::pwrite(fd, blank.data(), blank.size(), copy * off_t{kStoreCopyBytes}) !=
                    static_cast<ssize_t>(blank.size()))
                ok = false;
        ok = ::fsync(fd) == 0 && ok;
        ::close(fd);
        return ok;
    });
}

void eraseStoreMenu() {
    if (askNumber("WARNING : It would initialize Secure Stoage [1:YES]") != 1) return;
    static const VELD_SE_DEBUG_MENU kMenu[] = {
        {-1, "> Erase Secure Store", nullptr},
        {1, "> Erase Main", [] { CHECK_STEP(eraseStore(true, false)); }},
        {2, "> Erase Backup", [] { CHECK_STEP(eraseStore(false, true)); }},
        {3, "> Erase Main and Backup", [] { CHECK_STEP(eraseStore(true, true)); }},
        {4, "> Rewrite Main", [] { CHECK_STEP(storeRewrite(true, false)); }},
        {5, "> Rewrite Backup", [] { CHECK_STEP(storeRewrite(false, true)); }},
        {6, "> Rewrite Main and Backup", [] { CHECK_STEP(storeRewrite(true, true)); }},
    };
    runMenu(kMenu, std::size(kMenu));
}

void deleteStoreRecord() {
    std::vector<StoreEntry> entries;
    const int index = pickRecord(entries);
    if (index < 0) return;
    const char* name = entries[static_cast<size_t>(index)].name.c_str();
    if (CHECK_STEP(storeDeleteRecord(name))) CHECK_STEP(storeUpdate());
}

void showStoreRecord() {
    std::vector<StoreEntry> entries;
    const int index = pickRecord(entries);
    if (index < 0) return;
    const StoreEntry& entry = entries[static_cast<size_t>(index)];
    std::vector<uint8_t> data(entry.length >= 80 ? entry.length - 80 : 0);
    VELD_SE_SS_RECORD record{{}, static_cast<uint32_t>(data.size()), reinterpret_cast<uintptr_t>(data.data())};
    const char* name = entry.name.c_str();
    if (!CHECK_STEP(VELD_SE_SS006(name, &record))) return;
    std::printf("Protected Key :\n");
    VELD_SE_DebugPrintData(record.header, sizeof record.header);
    std::printf("Encrypted Data :\n");
    VELD_SE_DebugPrintData(data.data(), static_cast<uint32_t>(data.size()));
}

// ---- replay-protected storage ---------------------------------------------------------

bool askBlock(uint32_t& address) {
    address = askNumber("\tEnter Block Address(cancel:ffff)");
    return address != kCancel;
}

void rpmbMenu() {
    static const VELD_SE_DEBUG_MENU kMenu[] = {
        {-1, "> RPMB", nullptr},
        {1, "> Print RPMB Info", [] { CHECK_STEP(_SE_RB100()); }},
        {2, "> Initialize RPMB", [] { CHECK_STEP(_SE_RB000()); }},
        {3, "> Read Write Counter",
         [] {
             uint32_t counter = 0;
             if (CHECK_STEP(_SE_RB001(&counter))) std::printf("Write Counter : 0x%08x\n", counter);
         }},
        {4, "> Read Block",
         [] {
             uint32_t address;
             uint8_t data[256];
             if (askBlock(address) && CHECK_STEP(_SE_RB002(address, data))) VELD_SE_DebugPrintData(data, sizeof data);
         }},
        {5, "> Write Block",
         [] {
             uint32_t address;
             if (!askBlock(address)) return;
             uint8_t data[256] = {};
             std::snprintf(reinterpret_cast<char*>(data), 64, "!+DEBUG%04x", address & 0xFFFF);
             std::memcpy(data + 64, kTestText, sizeof data - 64);
             CHECK_STEP(_SE_RB003(address, data));
         }},
        {6, "> Erase Data", [] {
             if (askNumber("WARNING : It would erase all RPMB data [1:YES]") == 1) CHECK_STEP(_SE_RB006(nullptr, 0));
         }},
        {7, "> Update RPMB Info",
         [] {
             uint32_t address;
             if (askBlock(address)) CHECK_STEP(_SE_RB101(address));
         }},
    };
    runMenu(kMenu, std::size(kMenu));
}

// ---- AES and the trusted world ---------------------------------------------------------

// AES-CBC of the test text with the fixed key through the engine and through the software
// library, and back through the engine.
void aesTest(const char* name, uint32_t keyLength) {
    std::vector<uint8_t> plain(kTestBytes, 0), engine, software(kTestBytes);
    std::memcpy(plain.data(), kTestText, sizeof kTestText);
    engine = plain;
    const uint8_t* key = reinterpret_cast<const uint8_t*>(kTestKey);
    const uint8_t* iv = reinterpret_cast<const uint8_t*>(kTestIv);
    const VELD_SE_CHAIN keyChain{reinterpret_cast<uintptr_t>(key), keyLength};
    const VELD_SE_CHAIN ivChain{reinterpret_cast<uintptr_t>(iv), 16};
    VELD_SE_BLOCK_OP op{0, {0, 0}, 3, 0, 0, 16, 0, reinterpret_cast<uintptr_t>(engine.data()), 0,
                        reinterpret_cast<uintptr_t>(engine.data()), kTestBytes};
    bool ok = CHECK_STEP(VELD_SE_G002(&_gDebugCtx, &keyChain)) &&
              CHECK_STEP(VELD_SE_G005(&_gDebugCtx, &ivChain)) &&
              CHECK_STEP(VELD_SE_G011(&_gDebugCtx, &op));
    if (ok) {
        SE_AES_SetKey(key, static_cast<int32_t>(keyLength), iv);
        SE_AES_EncryptCBC(software.data(), plain.data(), static_cast<int32_t>(kTestBytes));
        ok = CHECK_STEP(std::memcmp(engine.data(), software.data(), kTestBytes));
    }
    if (ok) {
        op.direction = 1;
        ok = CHECK_STEP(VELD_SE_G011(&_gDebugCtx, &op)) &&
             CHECK_STEP(std::memcmp(engine.data(), plain.data(), kTestBytes));
    }
    // The context must not keep the addresses of these chains.
    VELD_SE_G009(&_gDebugCtx);
    std::printf(ok ? "%s : Success\n" : "%s : Failed!\n", name);
}

// Encrypts and decrypts the test text with one of the device's own keys.
bool deviceKeyPass(int32_t (*crypt)(uint8_t*, uint32_t, int32_t)) {
    std::vector<uint8_t> plain(kTestBytes, 0);
    std::memcpy(plain.data(), kTestText, sizeof kTestText);
    std::vector<uint8_t> data = plain;
    return crypt(data.data(), kTestBytes, 1) == 0 && data != plain &&
           crypt(data.data(), kTestBytes, 0) == 0 && data == plain;
}

void commonUniqueKeyTest() {
    uint8_t unique[32], common[32];
    std::memcpy(unique, kTestText, sizeof unique);
    std::memcpy(common, kTestText, sizeof common);
    bool ok = CHECK_STEP(VELD_SE_CC000(unique, sizeof unique, 1)) &&
              CHECK_STEP(VELD_SE_CC001(common, sizeof common, 1));
    if (ok && std::memcmp(unique, common, sizeof unique) == 0) {
        std::printf("Encrypted Results are same!\n");
        ok = false;
    }
    ok = ok && CHECK_STEP(!deviceKeyPass(VELD_SE_CC000)) && CHECK_STEP(!deviceKeyPass(VELD_SE_CC001));
    std::printf(ok ? "%s : Success\n" : "%s : Failed!\n", "Common/Unique Key Test");
}

// `times` RSA operations of the trusted world on the test text; 0 or -1 at the first failure.
int runRsa(uint32_t times) {
    std::vector<uint8_t> in(256, 0), out(256, 0);
    std::memcpy(in.data() + 1, kTestText, std::min<size_t>(sizeof kTestText, in.size() - 1));
    for (uint32_t i = 0; i < times; ++i) {
        VELD_SE_RSA_REQUEST request{0, 0, 0, 0, reinterpret_cast<uintptr_t>(in.data()), 0,
                                    reinterpret_cast<uintptr_t>(out.data()), 256, 0};
        if (VELD_SE_G013(&_gDebugCtx, &request) != 0) return -1;
    }
    return 0;
}

void trustedOperationEffectTest() {
    uint32_t times = 0;
    VELD_DBG_GetDecimalInput("Run times", &times);
    const uint32_t start = VELD_OSA_ReadMsTicks();
    CHECK_STEP(runRsa(times));
    std::printf("MS Tick : %d\n", static_cast<int>(VELD_OSA_ReadMsTicks() - start));
}

void toggleCachedBuffer() {
    int value = -1;
    underLock([&](ProcessRecord& p) {
        p.pSharedInfo->bCachedBuffer = p.pSharedInfo->bCachedBuffer ? 0 : 1;
        value = static_cast<int>(p.pSharedInfo->bCachedBuffer);
        return true;
    });
    std::printf("bCachedBuffer = %d\n", value);
}

void dumpTrustedDebugText() {
    underLock([&](ProcessRecord& p) {
        const char* text = reinterpret_cast<const char*>(p.pBuffer + p.memInfo.size - 1028);
        std::printf("TZ Debug Message :\n%.1023s\n", text);
        return true;
    });
}

void diagnostics() {
    const int result = underLock([](ProcessRecord&) { return runDiagnostics(true) == 0; });
    std::printf("%s\n", result == 0 ? "Okay" : "Failed!");
}

// ---- extra info, permanent log, daemon -------------------------------------------------

void dmaMonitorToggle() {
    uint32_t interval = 0;
    if (!dmaMonitorRunning()) VELD_DBG_GetDecimalInput("Interval", &interval);
    CHECK_STEP(_SE_DBG04(interval));
}

void writeLogLine(bool withTime) {
    char line[256] = {};
    VELD_DBG_ReadCmdString("Log", line, sizeof line);
    if (withTime) CHECK_STEP(VELD_SE_PL03("Debug : %s\n", line));
    else CHECK_STEP(VELD_SE_PL02("Debug : %s\n", line));
}

// A request text to the daemon through the driver, and its reply.
void askDaemon(const char* text) {
    char request[kRelayTextBytes] = {};
    std::snprintf(request, sizeof request, "%s", text);
    if (CHECK_STEP(_SE_VELDD_01(request))) std::printf("%s\n", request);
}

void daemonMenu() {
    static const VELD_SE_DEBUG_MENU kMenu[] = {
        {-1, "> SE_VELDD", nullptr},
        {1, "> Ping", [] { CHECK_STEP(_SE_VELDD_00(1, nullptr, 0)); }},
        {2, "> Flush Permanent Log", [] { CHECK_STEP(_SE_VELDD_00(2, nullptr, 0)); }},
        {3, "> Process Info", [] { askDaemon("p-info"); }},
        {4, "> DMA Usage Monitor",
         [] {
             uint32_t interval = 0;
             VELD_DBG_GetDecimalInput("Interval", &interval);
             char text[64];
             std::snprintf(text, sizeof text, "p-dma_usage:%u", interval);
             askDaemon(text);
         }},
        {5, "> Send Command",
         [] {
             char text[kRelayTextBytes] = {};
             VELD_DBG_ReadCmdString("Command", text, sizeof text);
             askDaemon(text);
         }},
    };
    runMenu(kMenu, std::size(kMenu));
}

void printProcessInfo() {
    std::vector<char> text(4096);
    processInfoText(text.data(), text.size(), -1);
    std::fputs(text.data(), stdout);
}

// A line of the shell's caller on the engine's log.
void logLine(uint32_t level, const char* format, va_list args) {
    if (!format) return;
    char line[512];
    std::vsnprintf(line, sizeof line, format, args);
    SE_LOG(level, "%s", line);
}

constexpr VELD_SE_DEBUG_MENU kMainMenu[] = {
    {-1, "*********************", nullptr},
    {-1, "**  VELD_SE_DEBUG  **", nullptr},
    {-1, "*********************", nullptr},
    {0x01, "> Print Process Info.", printProcessInfo},
    {0x02, "> Dump Secure Store", dumpStoreMenu},
    {0x03, "> Erase Secure Store", eraseStoreMenu},
    {0x04, "> Delete Secure Store", deleteStoreRecord},
    {0x05, "> Show Secure Store", showStoreRecord},
    {0x06, "> Diagnostics", diagnostics},
    {0x07, "> RPMB", rpmbMenu},
    {0x08, "> Simple AES CBC Test", [] { aesTest("Simple AES CBC Test", 16); }},
    {0x09, "> Simple AES256 CBC Test", [] { aesTest("Simple AES256 CBC Test", 32); }},
    {0x0a, "> Common/Unique Key Test", commonUniqueKeyTest},
    {0x0b, "> TZ Operation Effect Test", trustedOperationEffectTest},
    {0x0c, "> Toggle to use cached buffer", toggleCachedBuffer},
    {0x0d, "> Dump TZ Debug Message", dumpTrustedDebugText},
    {0x0e, "> Extra Info.",
     [] {
         static const VELD_SE_DEBUG_MENU kMenu[] = {
             {-1, "> Extra Info.", nullptr},
             {1, "> DMA Usage Monitor On/Off", dmaMonitorToggle},
         };
         runMenu(kMenu, std::size(kMenu));
     }},
    {0x0f, "> Permanent Log",
     [] {
         static const VELD_SE_DEBUG_MENU kMenu[] = {
             {-1, "> Permanent Log", nullptr},
             {1, "> Write Log", [] { writeLogLine(false); }},
             {2, "> Write Log with Time", [] { writeLogLine(true); }},
             {3, "> Print Log", [] { CHECK_STEP(VELD_SE_PL00()); }},
             {4, "> Remove Log", [] { CHECK_STEP(VELD_SE_PL01()); }},
         };
         runMenu(kMenu, std::size(kMenu));
     }},
    {0x10, "> SE_VELDD", daemonMenu},
};

}  // namespace
}  // namespace veld::se

using namespace veld::se;

extern "C" {

int32_t VELD_SE_Debug(void) {
    if (!CHECK_STEP(VELD_SE_Open(&_gDebugCtx))) return -1;
    runMenu(kMainMenu, std::size(kMainMenu));
    CHECK_STEP(VELD_SE_Close(&_gDebugCtx));
    return 0;
}

void VELD_SE_DebugPrintMenu(const VELD_SE_DEBUG_MENU* menu, uint32_t count) {
    if (!menu) return;
    std::printf("\n");
    for (uint32_t i = 0; i < count; ++i) {
        if (!menu[i].text) continue;
        if (menu[i].number < 0) std::printf("    %s\n", menu[i].text);
        else std::printf("    [%02x]%s\n", static_cast<unsigned>(menu[i].number), menu[i].text);
    }
    std::fflush(stdout);
}

int32_t VELD_SE_DebugGetHexInput(const char* prompt, uint32_t* value) {
    return VELD_DBG_GetHexInput(prompt, value);
}

void VELD_SE_DebugPrintData(const uint8_t* data, uint32_t length) {
    if (!data) return;
    for (uint32_t line = 0; line < length; line += 16) {
        const uint32_t n = std::min<uint32_t>(16, length - line);
        std::printf("%04x : ", line);
        for (uint32_t i = 0; i < 16; ++i) {
            if (i < n) std::printf("%02x ", data[line + i]);
            else std::printf("   ");
        }
        for (uint32_t i = 0; i < n; ++i) {
            const uint8_t c = data[line + i];
            std::putchar(c >= 32 && c < 127 ? c : '.');
        }
        std::putchar('\n');
    }
    std::fflush(stdout);
    VELD_OSA_SleepMsec(50);
}

void VELD_SE_DebugPrintError(const char* format, ...) {
    va_list args;
    va_start(args, format);
    logLine(0, format, args);
    va_end(args);
}

void VELD_SE_DebugPrintInfo(const char* format, ...) {
    va_list args;
    va_start(args, format);
    logLine(2, format, args);
    va_end(args);
}

void VELD_SE_DebugPrintProcessInfo(void) {
    std::vector<char> text(4096);
    recordsText(text.data(), text.size());
    std::fputs(text.data(), stdout);
    std::fflush(stdout);
}

const char* VELD_SE_DebugGetTestText(void) { return kTestText; }

}  // extern "C"
