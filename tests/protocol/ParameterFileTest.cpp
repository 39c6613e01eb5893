// The parameter file on real files: the profile rules, the structure encoding, export and
// import with the frames they send.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "midi/platform/LoopbackDriver.h"
#include "protocol/wire/BlockLayout.h"
#include "protocol/wire/DeviceFrames.h"
#include "protocol/device/ParameterTransfer.h"
#include "protocol/paramfile/ProfileText.h"
#include "protocol/paramfile/StructEncoding.h"
#include "support/FakeOwner.h"
#include "support/RecordingPeer.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using qz::EBlock;

TEST(StructEncoding, EncodesWithByteSumAndDecodesOnlyExactValidValues) {
    const uint8_t three[] = {0x01, 0x02, 0x0A};
    EXPECT_EQ(qz::EncodeStruct(three, 3), "01020A0D");
    const uint8_t big[] = {0xFF, 0x80};
    EXPECT_EQ(qz::EncodeStruct(big, 2), "FF807F");  // the sum keeps its low 8 bits
    struct {
        const char* text;
        qz::EStructDecode result;
    } cases[] = {{"01020A0D", qz::EStructDecode::Ok},          {"01020a0d", qz::EStructDecode::Ok},
                 {"01020A0", qz::EStructDecode::WrongLength},  {"01020A0D0", qz::EStructDecode::WrongLength},
                 {"01020G0D", qz::EStructDecode::BadDigit},    {"01 20A0D", qz::EStructDecode::BadDigit},
                 {"01020A0E", qz::EStructDecode::BadChecksum}, {"", qz::EStructDecode::WrongLength}};
    for (auto& c : cases) {
        uint8_t out[3] = {9, 9, 9};
        EXPECT_EQ(qz::DecodeStruct(c.text, out, 3), c.result) << c.text;
        Bytes expected = c.result == qz::EStructDecode::Ok ? Bytes{1, 2, 10} : Bytes{9, 9, 9};
        EXPECT_EQ(Bytes(out, out + 3), expected) << c.text;
    }
}

TEST(StructEncoding, NumbersReadLikeStrtoulBase16) {
    struct {
        const char* text;
        uint32_t value;
    } cases[] = {{"1c", 0x1C},       {"28", 0x28},        {"  0x1C", 0x1C},   {"+1c", 0x1C},
                 {"-1", 0xFFFFFFFF}, {"1cz", 0x1C},       {"zz", 0},          {"0x", 0},
                 {"", 0},            {"0xg", 0},          {"\t08", 8},        {"fffffffff", 0xFFFFFFFF},
                 {"-0x32", static_cast<uint32_t>(-0x32)}};
    for (auto& c : cases) EXPECT_EQ(qz::ParseProfileHex(c.text), c.value) << '"' << c.text << '"';
}

TEST(ProfileText, WritesInPlaceAtSectionEndOrAsNewSectionAndKeepsOtherLines) {
    CProfileText file(
        "; notes\n[Generic]\nSIZE = 99\n; kept\nother=1\n\n[extra]\nx=y\n[preset]\n  count=01  \nlast=no end");
    EXPECT_EQ(file.GetString("GENERIC", "size", "0", 32), "99");
    EXPECT_EQ(file.GetString("preset", "COUNT", "0", 32), "01");
    EXPECT_EQ(file.GetString("preset", "size", "dflt", 32), "dflt");
    EXPECT_EQ(file.GetString("nosuch", "x", "abcdef", 4), "abc");  // a 4-character buffer holds three
    EXPECT_EQ(file.GetString("extra", "x", "", 1), "");
    ASSERT_TRUE(file.SetString("generic", "size", "1c"));
    ASSERT_TRUE(file.SetString("generic", "data", "AB"));
    ASSERT_TRUE(file.SetString("preset", "size", "32"));
    ASSERT_TRUE(file.SetString("system", "tool", "1.0.0.0"));
    EXPECT_EQ(file.Text(),
              "; notes\n[Generic]\nSIZE=1c\r\n; kept\nother=1\ndata=AB\r\n\n[extra]\nx=y\n[preset]\n  count=01  \n"
              "last=no end\r\nsize=32\r\n[system]\r\ntool=1.0.0.0\r\n");
    EXPECT_EQ(file.GetString("Generic", "Data", "", 32), "AB");
    // What could not be read back as written is refused.
    for (auto [s, k, v] : std::vector<std::array<const char*, 3>>{
             {"a]b", "k", "v"}, {"s", "k=x", "v"}, {"s", "k", "v\r\n[x]"}, {"", "k", "v"}, {"s", ";k", "v"}, {"s", " k", "v"}})
        EXPECT_FALSE(file.SetString(s, k, v)) << s << "/" << k;
}

TEST(ProfileText, OverlongLinesAreKeptButNeverRead) {
    std::string longValue(CProfileText::kMaxLineBytes, '0');
    CProfileText file("[generic]\nsize=" + longValue + "\nsize=1c\n");
    EXPECT_EQ(file.GetString("generic", "size", "", 32), "1c");
    ASSERT_TRUE(file.SetString("generic", "size", "2c"));
    EXPECT_EQ(file.Text(), "[generic]\nsize=" + longValue + "\nsize=2c\r\n");
}

// An owner whose output port reaches a recording peer, with an image filled as if the
// device had answered.
struct ParameterFile : ::testing::Test {
    CLoopbackDriver driver;
    CRecordingPeer peer;
    uint32_t port = driver.AddPortPair("Recorder", &peer);
    CFakeOwner owner{&driver};
    fs::path dir;

    void SetUp() override {
        dir = fs::temp_directory_path() / ("qz81kt-paramfile-" + std::to_string(::getpid()) + "-" +
                                          ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
        owner.MidiOut().m_uDeviceID = port;
        ASSERT_TRUE(owner.MidiOut().Open());
        ASSERT_TRUE(owner.MidiOut().Start());
    }
    void TearDown() override {
        owner.MidiOut().Close();
        fs::remove_all(dir);
    }
    std::string Path(const char* name = "params.txt") { return (dir / name).string(); }

    // Distinct 7-bit contents per block, every block flagged as received.
    void FillImage(uint8_t seed, uint8_t byMode = 1) {
        CDeviceImage& img = owner.Image();
        auto fill = [&](EBlock e, size_t n, uint8_t k) {
            Bytes b(n);
            for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>((seed + k * 13 + i * 7) & 0x7F);
            img.Write(e, b.data(), n);
        };
        fill(EBlock::System, qz::kSystemSize, 1);
        img.WriteByte(EBlock::System, qz::kSysRemote, byMode);
        fill(EBlock::Timecode, qz::kTimecodeSize, 2);
        for (int n = 0; n < qz::kPresetCount; ++n) fill(qz::PresetBlock(n), qz::kPresetSize, static_cast<uint8_t>(3 + n));
        const uint8_t version[8] = {'v', 'e', 'r', ':', '1', '.', '0', 0};
        img.Write(EBlock::Version, version);
        MarkReceived();
    }
    void MarkReceived() {
        CDeviceImage& img = owner.Image();
        img.MarkReplyStored(EBlock::System);
        img.m_bTimecodeRcvd = true;
        for (auto& f : img.m_bPresetRcvd) f = 1;
    }
    Bytes Block(EBlock e) {
        Bytes b(CDeviceImage::CopySize(e));
        owner.Image().Read(e, b.data(), b.size());
        return b;
    }
    static void WriteText(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }
    static std::string ReadText(const std::string& path) {
        std::ifstream f(path, std::ios::binary);
        std::ostringstream s;
        s << f.rdbuf();
        return s.str();
    }
    // The data sets sent, as (address, data), once the request-all sequence has arrived too.
    std::vector<std::pair<uint32_t, Bytes>> SentDataSets() {
        size_t n = 0;
        std::vector<std::pair<uint32_t, Bytes>> sets;
        for (int tries = 0; tries < 100; ++tries) {
            auto msgs = peer.Messages();
            if (!msgs.empty() && msgs.back()[6] == qz::kCmdRQ1 && msgs.back()[9] == 0 && msgs.back()[7] == 1) break;
            peer.WaitFor(++n, std::chrono::milliseconds(50));
        }
        for (auto& m : peer.Messages())
            if (m.size() > 12 && m[6] == qz::kCmdDT1)
                sets.emplace_back(uint32_t(m[7]) << 16 | uint32_t(m[8]) << 8 | m[9], Bytes(m.begin() + 10, m.end() - 2));
        return sets;
    }
    std::vector<uint32_t> Addresses(const std::vector<std::pair<uint32_t, Bytes>>& sets) {
        std::vector<uint32_t> a;
        for (auto& s : sets) a.push_back(s.first);
        return a;
    }
};

TEST_F(ParameterFile, RoundTripSendsTheSameBlocksWithRemoteDuringTheWrites) {
    for (uint8_t mode : {1, 0}) {
        FillImage(mode ? 5 : 9, mode);
        owner.Image().m_bLowLatencyAvail = true;  // the fill holds codec bytes above 1
        Bytes system = Block(EBlock::System), timecode = Block(EBlock::Timecode);
        std::vector<Bytes> presets;
        for (int n = 0; n < qz::kPresetCount; ++n) presets.push_back(Block(qz::PresetBlock(n)));
        ASSERT_EQ(qz::ExportParameterFile(owner.Image(), Path(), "1.2.3.4").m_eStatus, CExportResult::EStatus::Ok);

        owner.Image().Clear();  // a fresh start: nothing received, all zero
        MarkReceived();
        peer.Clear();
        CImportResult r = qz::ImportParameterFile(owner, Path());
        EXPECT_EQ(r.m_eStatus, CImportResult::EStatus::Ok);
        auto sets = SentDataSets();
        // Remote: system twice, timecode, presets. Local: the same and one more system block.
        std::vector<uint32_t> order = {qz::kAddrSystem, qz::kAddrSystem, qz::kAddrTimecode};
        for (int n = 0; n < qz::kPresetCount; ++n) order.push_back(qz::PresetAddress(n));
        if (!mode) order.push_back(qz::kAddrSystem);
        ASSERT_EQ(Addresses(sets), order) << "mode " << int(mode);
        Bytes remote = system;
        remote[7] = 1;
        EXPECT_EQ(sets[0].second, remote);
        EXPECT_EQ(sets[1].second, remote);
        EXPECT_EQ(sets[2].second, timecode);
        for (int n = 0; n < qz::kPresetCount; ++n) EXPECT_EQ(sets[3 + n].second, presets[n]) << n;
        if (!mode) {
            EXPECT_EQ(sets.back().second, system);
        }
        EXPECT_EQ(Block(EBlock::System), system);  // the image ends as the file held it
        EXPECT_EQ(peer.Count(), sets.size() + 13);  // then the request for everything
    }
}

TEST_F(ParameterFile, ExportWritesTheKeysInOrderAndKeepsAnExistingFilesOtherLines) {
    FillImage(1);
    ASSERT_EQ(qz::ExportParameterFile(owner.Image(), Path("new.txt"), "1.0.0.0").m_eStatus, CExportResult::EStatus::Ok);
    std::string text = ReadText(Path("new.txt"));
    std::string expected = "[system]\r\nfirmware=ver:1.0\r\ntool=1.0.0.0\r\n[generic]\r\nsize=1c\r\ndata=" +
                           qz::EncodeStruct(Block(EBlock::System).data(), 28) + "\r\n[parameter]\r\nsize=2c\r\ndata=" +
                           qz::EncodeStruct(Block(EBlock::Timecode).data(), 44) + "\r\n[preset]\r\nsize=32\r\ncount=08\r\n";
    for (int n = 0; n < 8; ++n)
        expected += "[preset" + std::to_string(n) + "]\r\ndata=" +
                    qz::EncodeStruct(Block(qz::PresetBlock(n)).data(), 50) + "\r\n";
    EXPECT_EQ(text, expected);

    // Onto an existing file: comments, other sections and keys stay, ours are replaced in place.
    const std::string old = "; my settings\r\n[Notes]\r\nwho=me\r\n[GENERIC]\r\nSize=00\r\nData=junk\r\nmine=1\r\n";
    WriteText(Path(), old);
    fs::permissions(Path(), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    ASSERT_EQ(qz::ExportParameterFile(owner.Image(), Path(), "1.0.0.0").m_eStatus, CExportResult::EStatus::Ok);
    text = ReadText(Path());
    EXPECT_EQ(text.rfind("; my settings\r\n[Notes]\r\nwho=me\r\n[GENERIC]\r\nSize=1c\r\nData=" +
                             qz::EncodeStruct(Block(EBlock::System).data(), 28) + "\r\nmine=1\r\n[system]\r\n",
                         0),
              0u)
        << text;
    EXPECT_EQ(fs::status(Path()).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

TEST_F(ParameterFile, ExportNeedsEveryBlockAndNamesTheMissingOnes) {
    FillImage(1);
    owner.Image().m_bTimecodeRcvd = false;
    owner.Image().m_bPresetRcvd[6] = false;
    WriteText(Path(), "old");
    CExportResult r = qz::ExportParameterFile(owner.Image(), Path(), "1");
    EXPECT_EQ(r.m_eStatus, CExportResult::EStatus::Incomplete);
    EXPECT_EQ(r.m_missing, (std::vector<EBlock>{EBlock::Timecode, EBlock::Preset6}));
    EXPECT_EQ(ReadText(Path()), "old");
}

TEST_F(ParameterFile, AFailedExportIsReportedAndLeavesTheOldFileIntact) {
    FillImage(1);
    const std::string old = "[generic]\r\nsize=1c\r\n";
    WriteText(Path(), old);
    fs::permissions(Path(), fs::perms::owner_read | fs::perms::group_read);  // read-only, even for root
    CExportResult r = qz::ExportParameterFile(owner.Image(), Path(), "1");
    EXPECT_EQ(r.m_eStatus, CExportResult::EStatus::CannotWrite);
    EXPECT_FALSE(r.m_strReason.empty());
    EXPECT_EQ(ReadText(Path()), old);

    // A full disk: no file may grow beyond 200 bytes.
    fs::permissions(Path(), fs::perms::owner_read | fs::perms::owner_write);
    struct rlimit saved;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto* oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 200;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    r = qz::ExportParameterFile(owner.Image(), Path(), "1");
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(r.m_eStatus, CExportResult::EStatus::CannotWrite);
    EXPECT_EQ(ReadText(Path()), old);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);  // no temporary left

    // A file too large to be ours is not replaced either.
    WriteText(Path(), std::string(qz::kMaxParameterFileBytes + 1, ';'));
    EXPECT_EQ(qz::ExportParameterFile(owner.Image(), Path(), "1").m_eStatus, CExportResult::EStatus::CannotWrite);
    EXPECT_EQ(fs::file_size(Path()), qz::kMaxParameterFileBytes + 1);
}

TEST_F(ParameterFile, ImportTakesOnlySoundBlocksUnderTheRightSizes) {
    FillImage(1);
    ASSERT_EQ(qz::ExportParameterFile(owner.Image(), Path(), "1").m_eStatus, CExportResult::EStatus::Ok);
    const std::string good = ReadText(Path());
    FillImage(40);  // the image now differs from the file in every block
    Bytes system = Block(EBlock::System), timecode = Block(EBlock::Timecode), preset2 = Block(EBlock::Preset2);

    uint8_t high[qz::kTimecodeSize] = {};
    high[5] = 0x80;  // a status byte inside a data set
    std::string sys = qz::EncodeStruct(system.data(), 28);
    struct {
        const char* what;
        const char* section;
        const char* key;
        std::string value;
        EBlock block;
    } cases[] = {
        {"decimal size", "generic", "size", "28", EBlock::System},
        {"a byte above 0x7F", "parameter", "data", qz::EncodeStruct(high, 44), EBlock::Timecode},
        {"one digit short", "preset2", "data", qz::EncodeStruct(preset2.data(), 50).substr(1), EBlock::Preset2},
        {"checksum off by one", "generic", "data", sys.substr(0, 56) + (sys[57] == '0' ? "01" : "00"), EBlock::System},
        {"preset count 7: all presets stay, and are sent", "preset", "count", "07", EBlock::Preset2},
    };
    owner.Image().m_bLowLatencyAvail = true;  // which blocks are taken, not the low-latency rule
    for (auto& c : cases) {
        CProfileText file(good);
        ASSERT_TRUE(file.SetString(c.section, c.key, c.value));
        qz::CParameterSet set = qz::ReadParameterSet(file);
        FillImage(40);
        peer.Clear();
        CImportResult r = ImportParameterSet(owner, set);
        Bytes left = c.block == EBlock::System ? system : c.block == EBlock::Timecode ? timecode : preset2;
        if (c.block == EBlock::System) left[7] = 1;  // the Remote setting of the writes
        EXPECT_EQ(Block(c.block), left) << c.what;
        EXPECT_EQ(r.m_notSent.size(), 0u) << c.what;  // the image's block is sent instead
        EXPECT_EQ(SentDataSets().size(), 11u) << c.what;
    }
}

TEST_F(ParameterFile, LowLatencyBecomesMpeg2OnlyOnADeviceWithoutIt) {
    // Preset 4 is LowLatency in the file; preset 6 is LowLatency in the image only, its
    // file value rejected (the image's copy is sent); without a preset section nothing
    // is lowered.
    FillImage(1);
    owner.Image().WriteByte(EBlock::Preset4, 32, 0);
    owner.Image().WriteByte(EBlock::Preset4, 33, 2);
    ASSERT_EQ(qz::ExportParameterFile(owner.Image(), Path(), "1").m_eStatus, CExportResult::EStatus::Ok);
    CProfileText file(ReadText(Path()));
    ASSERT_TRUE(file.SetString("preset6", "data", "00"));
    const std::string withSection = file.Text();
    ASSERT_TRUE(file.SetString("preset", "count", "07"));
    const std::string withoutSection = file.Text();
    for (bool bSection : {true, false}) {
        for (bool avail : {false, true}) {
            WriteText(Path(), bSection ? withSection : withoutSection);
            owner.Image().WriteByte(EBlock::Preset4, 33, 2);
            owner.Image().WriteByte(EBlock::Preset6, 32, 0);
            owner.Image().WriteByte(EBlock::Preset6, 33, 2);
            owner.Image().m_bLowLatencyAvail = avail;
            peer.Clear();
            qz::ImportParameterFile(owner, Path());
            auto sets = SentDataSets();
            ASSERT_GE(sets.size(), 10u);
            const int nExpected = avail || !bSection ? 2 : 1;
            for (int n : {4, 6}) {
                SCOPED_TRACE(testing::Message() << "preset " << n << " section " << bSection << " avail " << avail);
                EXPECT_EQ(sets[3 + n].second[33], nExpected);
                EXPECT_EQ(owner.Image().ReadByte(qz::PresetBlock(n), 33), nExpected);
            }
        }
    }
}

TEST_F(ParameterFile, ImportSendsNoBlockThatNeitherFileNorDeviceGave) {
    FillImage(1);
    WriteText(Path(), "[parameter]\r\nsize=2c\r\ndata=" + qz::EncodeStruct(Block(EBlock::Timecode).data(), 44) + "\r\n");
    owner.Image().Clear();
    owner.Image().m_bPresetRcvd[3] = true;
    CImportResult r = qz::ImportParameterFile(owner, Path());
    EXPECT_EQ(r.m_notSent.size(), 8u);  // system and seven presets
    EXPECT_EQ(Addresses(SentDataSets()), (std::vector<uint32_t>{qz::kAddrTimecode, qz::PresetAddress(3)}));

    // A file that cannot be read sends nothing at all.
    peer.Clear();
    r = qz::ImportParameterFile(owner, Path("missing.txt"));
    EXPECT_EQ(r.m_eStatus, CImportResult::EStatus::CannotRead);
    r = qz::ImportParameterFile(owner, dir.string());
    EXPECT_EQ(r.m_eStatus, CImportResult::EStatus::CannotRead);
    EXPECT_EQ(peer.Count(), 0u);

    // A refused request for everything is reported.
    owner.MidiOut().Close();
    EXPECT_EQ(qz::ImportParameterFile(owner, Path()).m_eStatus, CImportResult::EStatus::RequestRefused);
}

}  // namespace
