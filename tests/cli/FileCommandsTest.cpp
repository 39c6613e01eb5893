// qz81kt export, import and diff against the in-process emulator.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "cli/CliApp.h"
#include "cli/FileCommands.h"
#include "emulator/LoopbackEmulator.h"
#include "midi/platform/LoopbackDriver.h"
#include "protocol/wire/BlockLayout.h"
#include "protocol/wire/DeviceFrames.h"
#include "protocol/fields/PresetBlock.h"
#include "protocol/paramfile/StructEncoding.h"

namespace {

namespace fs = std::filesystem;

struct QzRun {
    int rc;
    std::string out, err;
};

struct FileCommands : ::testing::Test {
    CLoopbackDriver driver;
    CLoopbackEmulator emulator{driver};
    fs::path file = fs::temp_directory_path() / ("qz81kt-cli-params-" + std::to_string(::getpid()) + ".txt");

    void SetUp() override { ASSERT_TRUE(emulator.Start()); }
    void TearDown() override { fs::remove(file); }

    QzRun Qz(std::vector<std::string> args) {
        std::ostringstream out, err;
        int rc = qz::RunCli(args, out, err, &driver);
        return {rc, out.str(), err.str()};
    }
    std::string FileText() {
        std::ifstream f(file, std::ios::binary);
        std::ostringstream s;
        s << f.rdbuf();
        return s.str();
    }
    // A write to the emulator as the panel would send it.
    void DeviceWrite(uint32_t dwAddress, const uint8_t* p, size_t n) {
        uint8_t frame[128];
        size_t len = qz::BuildDT1(frame, sizeof frame, 0x7F, dwAddress, p, n);
        emulator.Emulator().Receive(frame, len);
    }
    std::vector<uint8_t> DeviceBlock(uint32_t dwAddress) {
        uint8_t b[64];
        size_t n = emulator.Emulator().ReadBlock(dwAddress, b, sizeof b);
        return std::vector<uint8_t>(b, b + n);
    }
};

TEST_F(FileCommands, ExportChangeDiffImportRestores) {
    QzRun r = Qz({"export", file.string()});
    ASSERT_EQ(r.rc, kExitOk) << r.err;
    const std::string text = FileText();
    std::vector<uint8_t> preset3 = DeviceBlock(qz::PresetAddress(3)), timecode = DeviceBlock(qz::kAddrTimecode);
    EXPECT_EQ(text.find("[system]\r\nfirmware=1.03\r\ntool=" + std::string(CFileCommands::ToolVersion()) + "\r\n"), 0u)
        << text;
    EXPECT_NE(text.find("[preset3]\r\ndata=" + qz::EncodeStruct(preset3.data(), preset3.size()) + "\r\n"),
              std::string::npos);
    EXPECT_EQ(Qz({"diff", file.string()}).rc, kExitOk);

    qz::Write8(preset3.data(), qz::kPresetGopSize, 12);
    DeviceWrite(qz::PresetAddress(3), preset3.data(), preset3.size());
    timecode[qz::kTcGenerateAt] = 2;  // Thru
    DeviceWrite(qz::kAddrTimecode, timecode.data(), timecode.size());
    r = Qz({"diff", file.string()});
    EXPECT_EQ(r.rc, 1) << r.err;
    EXPECT_EQ(r.out, "Timecode Generate  Free Run -> Thru\nPreset 3  GOP Size  15 -> 12\n");
    r = Qz({"diff", "--json", file.string()});
    EXPECT_NE(r.out.find("{\"block\":\"preset 3\",\"device\":\"12\",\"file\":\"15\",\"line\":\"Preset 3  GOP Size  15 -> "
                         "12\",\"setting\":\"GOP Size\"}"),
              std::string::npos)
        << r.out;

    r = Qz({"import", file.string()});
    EXPECT_EQ(r.rc, kExitOk) << r.err;
    r = Qz({"diff", file.string()});
    EXPECT_EQ(r.rc, kExitOk) << r.out;
    EXPECT_EQ(r.out, "");
}

TEST_F(FileCommands, LocalFileLeavesTheDeviceInLocalAndFailuresHaveTheirOwnExitCodes) {
    ASSERT_EQ(Qz({"export", file.string()}).rc, kExitOk);
    std::string text = FileText();
    // The file as saved from a device in Local: byte 7 of the system block is 0.
    std::vector<uint8_t> system = DeviceBlock(qz::kAddrSystem);
    const std::string remote = qz::EncodeStruct(system.data(), system.size());
    system[qz::kSysRemote] = 0;
    text.replace(text.find(remote), remote.size(), qz::EncodeStruct(system.data(), system.size()));
    std::ofstream(file, std::ios::binary) << text;
    QzRun r = Qz({"import", file.string()});
    EXPECT_EQ(r.rc, kExitOk) << r.err;
    EXPECT_EQ(DeviceBlock(qz::kAddrSystem)[7], 0);

    EXPECT_EQ(Qz({"diff", (file.string() + ".none")}).rc, kExitFile);
    EXPECT_EQ(Qz({"import", fs::temp_directory_path().string()}).rc, kExitFile);
    EXPECT_EQ(Qz({"export", "/nonexistent-folder/x.txt"}).rc, kExitFile);
    emulator.Faults().m_bSilent = true;
    r = Qz({"diff", "--timeout-ms", "200", file.string()});
    EXPECT_EQ(r.rc, kExitDiffNoAnswer);
    EXPECT_NE(r.err.find("missing: version"), std::string::npos) << r.err;
}

}  // namespace
