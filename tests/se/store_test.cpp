// The secure store against the trusted-world simulator and the board's flash files: a blank
// partition becomes the fresh image, records go through protect, write, read, update and
// delete, a broken copy is repaired, two broken copies make the store unusable (counted once a
// boot), only updated records survive a reboot, two processes share one store, "sedata" is
// imported, and a power cut at any 512-byte block of an update, an initialisation or a repair
// leaves the old content or the new, never an unusable store.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "board_flash.h"
#include "captured_log.h"
#include "power_cut.h"
#include "se_core.h"
#include "se_engine.h"
#include "se_secure_store.h"
#include "se_store.h"
#include "test_root.h"
#include "tw_fixture.h"
#include "veldcore_host.h"

namespace {

using namespace veld::test;
using veld::se::SharedRecord;
using veld::sim::kFlashPartitions;

std::vector<uint8_t> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<long>(bytes.size()));
}

// Plain text of a record: `length` bytes derived from `seed`.
std::vector<uint8_t> plain(uint32_t length, int seed) {
    std::vector<uint8_t> data(length);
    for (uint32_t i = 0; i < length; ++i) data[i] = static_cast<uint8_t>(seed * 31 + i * 7);
    return data;
}

// Protects `data` and writes it under `name` into the working copy.
int32_t put(const char* name, std::vector<uint8_t> data) {
    VELD_SE_SS_RECORD r{};
    r.length = static_cast<uint32_t>(data.size());
    r.pData = reinterpret_cast<uintptr_t>(data.data());
    if (VELD_SE_SS001(&r) != 0) return -1;
    return VELD_SE_SS008(name, &r);
}

// Reads and decrypts the record `name`; empty when it cannot be read.
std::vector<uint8_t> get(const char* name) {
    const int32_t length = VELD_SE_SS004(name);
    if (length < 0) return {};
    std::vector<uint8_t> data(static_cast<size_t>(length));
    VELD_SE_SS_RECORD r{};
    r.length = static_cast<uint32_t>(length);
    r.pData = reinterpret_cast<uintptr_t>(data.data());
    if (VELD_SE_SS006(name, &r) != 0 || VELD_SE_SS003(&r) != 0) return {};
    return data;
}

class SecureStore : public testing::Test {
protected:
    void SetUp() override {
        setenv("VELD_SIM", "1", 1);
        VELD_HOST_SetLogSink(CapturedLog::sink, nullptr);
        CapturedLog::clear();
        ASSERT_EQ(veld::sim::makeBoardFlash(), "");
        world_ = std::make_unique<TrustedWorldSim>(root_);
        ASSERT_TRUE(world_->ready()) << root_.readFile("/tw.log");
    }

    void TearDown() override {
        veld::sim::disarmPowerCut();
        VELD_SE_Shutdown();
        world_.reset();
        VELD_HOST_SetLogSink(nullptr, nullptr);
        unsetenv("VELD_SIM");
    }

    // Everything but flash goes away: this process detaches, the shared records and the lock
    // are gone, and with `restartWorld` the trusted world starts again.
    void reboot(bool restartWorld = false) {
        VELD_SE_Shutdown();
        for (const char* name : {veld::se::kSharedName, veld::se::kStoreMemoryName, "se_permanent_log"})
            VELD_HOST_UnlinkMemory(name);
        VELD_HOST_UnlinkSema(veld::se::kLockName);
        if (restartWorld) {
            world_.reset();
            world_ = std::make_unique<TrustedWorldSim>(root_);
            ASSERT_TRUE(world_->ready());
        }
    }

    SharedRecord& shared() { return *veld::se::processRecord().pSharedInfo; }
    std::string sestore() const { return veld::sim::partitionPath(kFlashPartitions[0]); }
    std::string sedata() const { return veld::sim::partitionPath(kFlashPartitions[1]); }

    // A copy of the store as it lies on flash, unmasked with the shared mask.
    std::vector<uint8_t> copyOnFlash(uint32_t offset, uint32_t length) {
        const std::vector<uint8_t> flash = readFile(sestore());
        std::vector<uint8_t> out(flash.begin() + offset, flash.begin() + offset + length);
        for (uint32_t i = 0; i < length; ++i) out[i] ^= shared().storeMask[i & 0xFF];
        return out;
    }

    veld::se::Counts counts() {
        const std::vector<uint8_t> flash = readFile(sestore());
        veld::se::Counts c;
        veld::se::readCountString(flash.data() + veld::se::kCountOffset, c);
        return c;
    }

    void flipOnFlash(uint32_t offset) {
        std::vector<uint8_t> flash = readFile(sestore());
        flash[offset] ^= 0x5A;
        writeFile(sestore(), flash);
    }

    // Starts the engine on `flash` with a power cut after 0, 1, 2, ... blocks until a start
    // writes all it wants; the start after each cut must pass `check`. Returns the blocks of
    // the whole start.
    template <typename Check>
    long sweepStart(const std::vector<uint8_t>& flash, Check check) {
        for (long cut = 0;; ++cut) {
            writeFile(sestore(), flash);
            veld::sim::armPowerCut(sestore(), cut);
            EXPECT_EQ(VELD_SE_Initialize(nullptr), 0);
            veld::sim::disarmPowerCut();
            const bool whole = !veld::sim::powerWasCut();
            reboot();
            EXPECT_EQ(VELD_SE_Initialize(nullptr), 0);
            check(cut);
            reboot();
            if (whole) return cut;
        }
    }

    TestRoot root_;
    std::unique_ptr<TrustedWorldSim> world_;
};

TEST_F(SecureStore, BlankPartitionBecomesTheFreshImageInBothCopies) {
    for (const uint8_t erased : {0xFF, 0x00}) {
        writeFile(sestore(), std::vector<uint8_t>(0x80000, erased));
        ASSERT_EQ(VELD_SE_Initialize(nullptr), 0);
        EXPECT_EQ(shared().bInitSeStore, 1u);
        EXPECT_EQ(shared().seStoreUsage, 120u);
        EXPECT_EQ(shared().numOfSeStoreData, 1u);
        EXPECT_EQ(std::string(shared().seStorePath), sestore()) << "found through /proc/partinfo";

        const std::vector<uint8_t> main = copyOnFlash(0, 120), backup = copyOnFlash(0x40000, 120);
        EXPECT_EQ(main, backup);
        EXPECT_EQ(std::memcmp(main.data(), "SE\x01\x00", 4), 0);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(main.data() + 52)), "-Initialized-");
        EXPECT_EQ(veld::se::loadLe32(main.data() + 116), 0u);
        const std::vector<uint8_t> flash = readFile(sestore());
        const uint8_t countString[8] = {1, 0, 0, 'I', 0, 0, 0, 'E'};
        EXPECT_EQ(std::memcmp(flash.data() + 0x7FFF8, countString, 8), 0);
        EXPECT_EQ(flash[120], erased) << "only the used size is written";
        const uint8_t* working = veld::se::processRecord().pSeStore;
        EXPECT_EQ(main, std::vector<uint8_t>(working, working + 120)) << "the working copy is unmasked";
        reboot();
    }
}

TEST_F(SecureStore, APlainFileGivenAtInitialisationReplacesThePartition) {
    const std::string file = root_.path("/store.bin");
    ASSERT_EQ(VELD_SE_Initialize(file.c_str()), 0);
    ASSERT_EQ(put("in-file", plain(32, 1)), 0);
    ASSERT_EQ(VELD_SE_SS011(), 0);
    EXPECT_EQ(readFile(file).size(), 0x80000u) << "both copies and the count string";
    EXPECT_EQ(readFile(sestore()), std::vector<uint8_t>(0x80000, 0xFF)) << "the partition is untouched";
    reboot();
    ASSERT_EQ(VELD_SE_Initialize(file.c_str()), 0);
    EXPECT_EQ(get("in-file"), plain(32, 1));
}

TEST_F(SecureStore, RecordsAreWrittenReadReplacedDeletedAndUpdated) {
    ASSERT_EQ(VELD_SE_Initialize(nullptr), 0);
    const std::string longName = std::string(37, 'x') + std::string(63, 'n');
    ASSERT_EQ(put("alpha", plain(64, 1)), 0);
    ASSERT_EQ(put("beta", plain(16, 2)), 0);
    ASSERT_EQ(put(longName.c_str(), plain(48, 3)), 0);
    EXPECT_EQ(VELD_SE_SS004("alpha"), 64);
    EXPECT_EQ(shared().numOfSeStoreData, 4u);
    EXPECT_EQ(shared().seStoreUsage, 120u + 3 * 68 + (64 + 80) + (16 + 80) + (48 + 80));
    EXPECT_EQ(get("alpha"), plain(64, 1));
    EXPECT_EQ(get(longName.substr(37).c_str()), plain(48, 3)) << "found by its last 63 characters";

    ASSERT_EQ(put("alpha", plain(96, 4)), 0);
    ASSERT_EQ(VELD_SE_SS010("beta"), 0);
    EXPECT_EQ(VELD_SE_SS004("beta"), -1);
    EXPECT_TRUE(CapturedLog::contains("Not found!(beta)"));
    ASSERT_EQ(VELD_SE_SS011(), 0);

    reboot(true);
    ASSERT_EQ(VELD_SE_Initialize(nullptr), 0);
    EXPECT_EQ(get("alpha"), plain(96, 4));
    EXPECT_TRUE(get("beta").empty());
    EXPECT_EQ(get(longName.c_str()), plain(48, 3));
    EXPECT_EQ(copyOnFlash(0, shared().seStoreUsage), copyOnFlash(0x40000, shared().seStoreUsage));
}

TEST_F(SecureStore, EveryCallRefusesBadArguments) {
    ASSERT_EQ(VELD_SE_Initialize(nullptr), 0);
    ASSERT_EQ(put("real", plain(32, 1)), 0);
    std::vector<uint8_t> buffer(64);
    VELD_SE_SS_RECORD ok{};
    ok.length = 32;
    ok.pData = reinterpret_cast<uintptr_t>(buffer.data());
    VELD_SE_SS_RECORD noData = ok;
    noData.pData = 0;
    VELD_SE_SS_RECORD wrongLength = ok;
    wrongLength.length = 48;
    VELD_SE_SS_RECORD odd = ok;
    odd.length = 30;
    VELD_SE_SS_RECORD huge = ok;
    huge.length = 32768;
    uint8_t block[48];
    const std::string missingFile = root_.path("/no-such-record");
    struct Case {
        const char* what;
        int32_t result;
    };
    const Case cases[] = {
        {"SS000 null code block", VELD_SE_SS000(nullptr, buffer.data(), 16)},
        {"SS000 null data", VELD_SE_SS000(block, nullptr, 16)},
        {"SS001 null record", VELD_SE_SS001(nullptr)},
        {"SS001 null data", VELD_SE_SS001(&noData)},
        {"SS001 length not whole blocks", VELD_SE_SS001(&odd)},
        {"SS002 null record", VELD_SE_SS002(nullptr)},
        {"SS002 unprotected data", VELD_SE_SS002(&ok)},
        {"SS003 null record", VELD_SE_SS003(nullptr)},
        {"SS003 unprotected data", VELD_SE_SS003(&ok)},
        {"SS004 null name", VELD_SE_SS004(nullptr)},
        {"SS004 empty name", VELD_SE_SS004("")},
        {"SS004 the initialised marker", VELD_SE_SS004("-Initialized-")},
        {"SS004 unknown name", VELD_SE_SS004("nobody")},
        {"SS005 null path", VELD_SE_SS005(nullptr)},
        {"SS005 missing file", VELD_SE_SS005(missingFile.c_str())},
        {"SS006 null record", VELD_SE_SS006("real", nullptr)},
        {"SS006 length differs", VELD_SE_SS006("real", &wrongLength)},
        {"SS006 the initialised marker", VELD_SE_SS006("-Initialized-", &ok)},
        {"SS006 unknown name", VELD_SE_SS006("nobody", &ok)},
        {"SS007 missing file", VELD_SE_SS007(missingFile.c_str(), &ok)},
        {"SS007 null record", VELD_SE_SS007(missingFile.c_str(), nullptr)},
        {"SS008 the initialised marker", VELD_SE_SS008("-Initialized-", &ok)},
        {"SS008 null name", VELD_SE_SS008(nullptr, &ok)},
        {"SS008 length not whole blocks", VELD_SE_SS008("x", &odd)},
        {"SS008 above the record limit", VELD_SE_SS008("x", &huge)},
        {"SS009 null path", VELD_SE_SS009(nullptr, &ok)},
        {"SS009 length not whole blocks", VELD_SE_SS009(missingFile.c_str(), &odd)},
        {"SS010 the initialised marker", VELD_SE_SS010("-Initialized-")},
        {"SS010 unknown name", VELD_SE_SS010("nobody")},
        {"SS012 null output", VELD_SE_SS012(nullptr, buffer.data(), 16)},
        {"SS012 empty input", VELD_SE_SS012(buffer.data(), buffer.data(), 0)},
        {"SS013 file that is not sedata", VELD_SE_SS013(missingFile.c_str())},
    };
    for (const Case& c : cases) EXPECT_EQ(c.result, -1) << c.what;
    EXPECT_EQ(shared().numOfSeStoreData, 2u) << "nothing was written";
    EXPECT_EQ(SE_CalcSecureStoreDataLength(112), 32);
}

TEST_F(SecureStore, CodeBlocksFileRecordsAndConversionWork) {
    ASSERT_EQ(VELD_SE_Initialize(nullptr), 0);
    std::vector<uint8_t> data = plain(64, 5);
    VELD_SE_SS_RECORD r{};
    r.length = 64;
    r.pData = reinterpret_cast<uintptr_t>(data.data());
    ASSERT_EQ(VELD_SE_SS000(r.header + 16, data.data(), 64), 0);
    EXPECT_EQ(VELD_SE_SS002(&r), 0);
    data[10] ^= 1;
    EXPECT_EQ(VELD_SE_SS002(&r), -1) << "a changed byte fails the code";
    data[10] ^= 1;

    ASSERT_EQ(VELD_SE_SS001(&r), 0);
    EXPECT_NE(data, plain(64, 5)) << "encrypted in place";
    const std::string file = root_.path("/record.bin");
    ASSERT_EQ(VELD_SE_SS009(file.c_str(), &r), 0);
    EXPECT_EQ(VELD_SE_SS005(file.c_str()), 64);
    EXPECT_FALSE(std::ifstream(file + ".new").good()) << "replaced through a temporary file";
    std::vector<uint8_t> back(64);
    VELD_SE_SS_RECORD b{};
    b.length = 64;
    b.pData = reinterpret_cast<uintptr_t>(back.data());
    ASSERT_EQ(VELD_SE_SS007(file.c_str(), &b), 0);
    ASSERT_EQ(VELD_SE_SS003(&b), 0);
    EXPECT_EQ(back, plain(64, 5));

    std::vector<uint8_t> out(40);
    const std::vector<uint8_t> in = plain(40, 6);
    EXPECT_EQ(VELD_SE_SS012(out.data(), in.data(), 40), 40);
    EXPECT_EQ(out, in);
}

TEST_F(SecureStore, ABrokenCopyIsRepairedFromTheOther) {
    struct Case {
        const char* what;
        uint32_t flip;
        const char* line;
    };
    for (const Case& c : {Case{"main", 200, "Main is broken! Restoring..."},
                          Case{"backup", 0x40000 + 200, "Backup is broken! Restoring..."}}) {
        ASSERT_EQ(VELD_SE_Initialize(nullptr), 0);
        ASSERT_EQ(put("kept", plain(160, 7)), 0);
        ASSERT_EQ(VELD_SE_SS011(), 0);
        reboot();
        flipOnFlash(c.flip);
        CapturedLog::clear();
        ASSERT_EQ(VELD_SE_Initialize(nullptr), 0);
        EXPECT_TRUE(CapturedLog::contains(c.line)) << c.what;
        EXPECT_EQ(get("kept"), plain(160, 7)) << c.what;
        const uint32_t used = shared().seStoreUsage;
        EXPECT_EQ(copyOnFlash(0, used), copyOnFlash(0x40000, used)) << c.what;
        reboot();
    }
}

TEST_F(SecureStore, TwoBadCopiesMakeTheStoreUnusableCountedOncePerBoot) {
    ASSERT_EQ(VELD_SE_Initialize(nullptr), 0);
    ASSERT_EQ(put("lost", plain(32, 8)), 0);
    ASSERT_EQ(VELD_SE_SS011(), 0);
    reboot();
    flipOnFlash(150);  // both keep their magic; their codes no longer match
    flipOnFlash(0x40000 + 150);
    const std::vector<uint8_t> before = readFile(sestore());
    ASSERT_EQ(VELD_SE_Initialize(nullptr), 0) << "the engine stays usable";
    EXPECT_TRUE(CapturedLog::contains("Can't use Secure Store by invalid data!"));
    EXPECT_EQ(shared().bInitSeStore, 0u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(VELD_SE_SS004("lost"), -1);
        EXPECT_EQ(put("new", plain(32, 9)), -1);
        EXPECT_EQ(VELD_SE_SS011(), -1);
    }
    EXPECT_EQ(counts().invalid, 1u) << "once this boot, not once per operation";
    std::vector<uint8_t> after = readFile(sestore());
    std::copy(before.begin() + 0x7FFF8, before.end(), after.begin() + 0x7FFF8);
    EXPECT_EQ(after, before) << "nothing but the count string changed";
    reboot();
    ASSERT_EQ(VELD_SE_Initialize(nullptr), 0);
    EXPECT_EQ(counts().invalid, 2u);
    EXPECT_EQ(counts().init, 1u);
}

TEST_F(SecureStore, OnlyUpdatedRecordsSurviveAReboot) {
    ASSERT_EQ(VELD_SE_Initialize(nullptr), 0);
    ASSERT_EQ(put("updated", plain(32, 10)), 0);
    ASSERT_EQ(VELD_SE_SS011(), 0);
    ASSERT_EQ(put("written", plain(32, 11)), 0);
    EXPECT_EQ(get("written"), plain(32, 11)) << "the working copy has it";
    reboot(true);
    ASSERT_EQ(VELD_SE_Initialize(nullptr), 0);
    EXPECT_EQ(get("updated"), plain(32, 10));
    EXPECT_TRUE(get("written").empty());
}

TEST_F(SecureStore, AnUpdateRunsAgainWhenTheTrustedWorldLostItsState) {
    ASSERT_EQ(VELD_SE_Initialize(nullptr), 0);
    ASSERT_EQ(put("kept", plain(64, 12)), 0);
    // The next code command answers "not initialised": the world is set up again and the
    // whole update runs once more.
    const int control = wire::connectSimulator();
    ASSERT_GE(control, 0);
    const uint32_t words[3] = {static_cast<uint32_t>(-8008), 97, 1};
    wire::Request request{wire::kControl, wire::kInjectResult, 0, 0, sizeof words, 0};
    wire::Reply reply{};
    ASSERT_GE(wire::call(control, request, words, reply, nullptr, 0), 0);
    ::close(control);
    EXPECT_EQ(VELD_SE_SS011(), 0);
    EXPECT_TRUE(CapturedLog::contains("Re-Initialize"));
    reboot();
    ASSERT_EQ(VELD_SE_Initialize(nullptr), 0);
    EXPECT_EQ(get("kept"), plain(64, 12));
}

TEST_F(SecureStore, TwoProcessesWritingAtOnceBothSurviveAnUpdate) {
    ASSERT_EQ(VELD_SE_Initialize(nullptr), 0);
    auto writer = [](const char* name, int seed) {
        return forkChild([=] {
            for (int i = 0; i < 5; ++i)
                if (put(name, plain(48, seed + i)) != 0 || VELD_SE_SS011() != 0) return 1;
            return 0;
        });
    };
    const pid_t first = writer("first", 20), second = writer("second", 30);
    EXPECT_EQ(waitChild(first), 0);
    EXPECT_EQ(waitChild(second), 0);
    EXPECT_EQ(get("first"), plain(48, 24)) << "seen by a third process at once";
    reboot(true);
    ASSERT_EQ(VELD_SE_Initialize(nullptr), 0);
    EXPECT_EQ(get("first"), plain(48, 24));
    EXPECT_EQ(get("second"), plain(48, 34));
}

TEST_F(SecureStore, SedataIsImportedAndErasedOnlyAfterBothCopiesAreWritten) {
    // "SE", two records: one with the default tag, one with a tag no row knows.
    std::vector<uint8_t> data(0x40000, 0xFF);
    data[0] = 'S';
    data[1] = 'E';
    veld::se::storeLe16(data.data() + 2, 2);
    std::vector<uint8_t> tagged = {'[', 'D', 'E', 'F', 'A', 'U', 'L', 'T', ']'};
    const std::vector<uint8_t> first = plain(32, 40);
    tagged.insert(tagged.end(), first.begin(), first.end());
    std::vector<uint8_t> untagged = {'[', 'X', 'Y', ']'};
    const std::vector<uint8_t> rest = plain(28, 41);
    untagged.insert(untagged.end(), rest.begin(), rest.end());
    std::strcpy(reinterpret_cast<char*>(data.data() + 4), "prov.first");
    veld::se::storeLe32(data.data() + 4 + 64, static_cast<uint32_t>(tagged.size()));
    std::memset(data.data() + 72, 0, 64);
    std::strcpy(reinterpret_cast<char*>(data.data() + 72), "prov.second");
    veld::se::storeLe32(data.data() + 72 + 64, static_cast<uint32_t>(untagged.size()));
    std::copy(tagged.begin(), tagged.end(), data.begin() + 140);
    std::copy(untagged.begin(), untagged.end(), data.begin() + 140 + static_cast<long>(tagged.size()));

    // A power cut while the store is written: the import fails and "sedata" is kept.
    ASSERT_EQ(VELD_SE_Initialize(nullptr), 0);
    writeFile(sedata(), data);
    veld::sim::armPowerCut(sestore(), 0);
    EXPECT_EQ(VELD_SE_SS013(nullptr), -1);
    veld::sim::disarmPowerCut();
    EXPECT_EQ(readFile(sedata()), data);

    reboot();
    ASSERT_EQ(VELD_SE_Initialize(nullptr), 0);  // imports at the first start
    EXPECT_TRUE(CapturedLog::contains("DEFAULT Extension Tag"));
    EXPECT_TRUE(CapturedLog::contains("Check Extension Tag : XY"));
    EXPECT_EQ(get("prov.first"), first);
    EXPECT_EQ(get("prov.second"), untagged) << "an unknown tag keeps the whole data";
    EXPECT_EQ(readFile(sedata()), std::vector<uint8_t>(0x40000, 0)) << "erased";
    reboot();
    ASSERT_EQ(VELD_SE_Initialize(nullptr), 0);
    EXPECT_EQ(get("prov.first"), first) << "on flash in both copies";
}

TEST(StorePartitions, NamesMatchAsAWholeFieldOfPartinfo) {
    TestRoot root;
    root.writeFile("/proc/partinfo",
                   "part3: 0x00080000 \"sestore_old\"\n"
                   "part4: 0x00040000 \"xsedata\"\n"
                   "part12: 0x00080000 \"sestore\"\n"
                   "part101: 0x00040000 sedata\n"
                   "part14: 0x00040000 sedata\n");
    EXPECT_EQ(veld::se::findPartition("sestore"), 12);
    EXPECT_EQ(veld::se::findPartition("sedata"), 14) << "a number above 100 is skipped";
    EXPECT_EQ(veld::se::findPartition("store"), -1);
    EXPECT_EQ(veld::se::partitionDevice("sestore"), "") << "no device file";
    root.writeFile("/dev/block/mmcblk0p12", "");
    EXPECT_EQ(veld::se::partitionDevice("sestore"), root.path("/dev/block/mmcblk0p12"));
}

// ---- power cuts ----

// The records of the store as this process reads them.
std::vector<std::vector<uint8_t>> contents(const std::vector<std::string>& names) {
    std::vector<std::vector<uint8_t>> out;
    for (const std::string& name : names) out.push_back(get(name.c_str()));
    return out;
}

TEST_F(SecureStore, APowerCutAtAnyBlockOfAnUpdateLeavesTheOldOrTheNewContent) {
    const std::vector<std::string> names = {"one", "two", "three", "four"};
    ASSERT_EQ(VELD_SE_Initialize(nullptr), 0);
    ASSERT_EQ(put("one", plain(1024, 1)), 0);
    ASSERT_EQ(put("two", plain(512, 2)), 0);
    ASSERT_EQ(put("three", plain(2048, 3)), 0);
    ASSERT_EQ(VELD_SE_SS011(), 0);
    const auto oldContent = contents(names);
    const std::vector<uint8_t> oldFlash = readFile(sestore());
    auto change = [] {
        return put("two", plain(768, 22)) == 0 && VELD_SE_SS010("one") == 0 &&
               put("four", plain(256, 4)) == 0;
    };
    ASSERT_TRUE(change());
    veld::sim::armPowerCut(sestore(), -1);
    ASSERT_EQ(VELD_SE_SS011(), 0);
    const long blocks = veld::sim::blocksWritten();
    veld::sim::disarmPowerCut();
    const auto newContent = contents(names);
    ASSERT_NE(oldContent, newContent);
    ASSERT_GE(blocks, 16) << "main and backup, several blocks each";

    std::set<std::string> seen;
    for (long cut = 0; cut <= blocks; ++cut) {
        reboot();
        writeFile(sestore(), oldFlash);
        ASSERT_EQ(VELD_SE_Initialize(nullptr), 0);
        ASSERT_TRUE(change());
        veld::sim::armPowerCut(sestore(), cut);
        const int32_t updated = VELD_SE_SS011();
        veld::sim::disarmPowerCut();
        EXPECT_EQ(updated == 0, cut == blocks) << "cut after " << cut << " blocks";

        reboot();
        ASSERT_EQ(VELD_SE_Initialize(nullptr), 0);
        ASSERT_EQ(shared().bInitSeStore, 1u) << "usable after a cut at block " << cut;
        const auto now = contents(names);
        EXPECT_TRUE(now == oldContent || now == newContent) << "cut at block " << cut;
        seen.insert(now == oldContent ? "old" : "new");
        const uint32_t used = shared().seStoreUsage;
        EXPECT_EQ(copyOnFlash(0, used), copyOnFlash(0x40000, used)) << "repaired, cut at " << cut;
    }
    EXPECT_EQ(seen, (std::set<std::string>{"old", "new"}));
    EXPECT_EQ(counts().invalid, 0u);
}

TEST_F(SecureStore, APowerCutDuringInitialisationOrRepairNeverLosesTheStore) {
    // Initialisation of a blank partition: count string, main and backup.
    const long initBlocks = sweepStart(std::vector<uint8_t>(0x80000, 0xFF), [&](long cut) {
        ASSERT_EQ(shared().bInitSeStore, 1u) << "initialisation cut at block " << cut;
        EXPECT_EQ(shared().seStoreUsage, 120u);
    });
    EXPECT_GE(initBlocks, 3);
    // Repair of a broken main from the backup, block by block.
    ASSERT_EQ(VELD_SE_Initialize(nullptr), 0);
    ASSERT_EQ(put("survivor", plain(2048, 50)), 0);
    ASSERT_EQ(VELD_SE_SS011(), 0);
    reboot();
    flipOnFlash(100);
    const long repairBlocks = sweepStart(readFile(sestore()), [&](long cut) {
        EXPECT_EQ(get("survivor"), plain(2048, 50)) << "repair cut at block " << cut;
    });
    EXPECT_GE(repairBlocks, 5);
}

}  // namespace
