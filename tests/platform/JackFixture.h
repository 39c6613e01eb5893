#pragma once
// Tests on real MIDI ports: each test program starts its own JACK dummy server and
// skips when jackd is missing. The peer end is a second driver that publishes
// "in" and "out" ports of its own under the client name "qz81kt-peer" (through RtMidi,
// the backend that can publish ports); our side is either backend.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "midi/platform/JackMidiDriver.h"
#include "midi/platform/RtMidiDriver.h"
#include "platform/JackServer.h"

class JackFixture : public testing::Test {
protected:
    static void SetUpTestSuite() {
        s_strSkip.clear();
        if (!CJackServer::IsInstalled()) {
            s_strSkip = "jackd is not installed (Debian package jackd2): real-port tests skipped";
            return;
        }
        s_pServer = new CJackServer;
        if (!s_pServer->Start()) s_strSkip = "the JACK dummy server did not start: " + s_pServer->Error();
    }

    static void TearDownTestSuite() {
        delete s_pServer;  // stops the server after every client of the suite has gone
        s_pServer = nullptr;
    }

    void SetUp() override {
        if (!s_strSkip.empty()) GTEST_SKIP() << s_strSkip;
    }

public:
    static std::unique_ptr<CRtMidiDriver> MakeDriver(const std::string& strClient) {
        CRtMidiDriver::COptions options;
        options.m_eApi = CRtMidiDriver::EApi::Jack;
        options.m_strClientName = strClient;
        return std::make_unique<CRtMidiDriver>(options);
    }

    enum class EBackend { RtMidi, Jack };
    static std::unique_ptr<CSystemMidiDriver> MakeOurs(EBackend eBackend, const std::string& strClient) {
        if (eBackend == EBackend::Jack) return std::make_unique<CJackMidiDriver>(strClient);
        return MakeDriver(strClient);
    }
    static std::string BackendName(const testing::TestParamInfo<EBackend>& info) {
        return info.param == EBackend::Jack ? "OurJack" : "RtMidi";
    }

    // Index of the first port whose name holds strClient and ends with ":strPort"; -1 if none.
    static int FindPort(CMidiDriver& driver, bool bInput, const std::string& strClient, const std::string& strPort) {
        uint32_t n = bInput ? driver.InGetNumDevs() : driver.OutGetNumDevs();
        std::string strSuffix = ":" + strPort;
        for (uint32_t i = 0; i < n; ++i) {
            std::string str;
            if ((bInput ? driver.InGetDevName(i, str) : driver.OutGetDevName(i, str)) != MMSYSERR_NOERROR) continue;
            if (str.find(strClient) != std::string::npos && str.size() >= strSuffix.size() &&
                str.compare(str.size() - strSuffix.size(), strSuffix.size(), strSuffix) == 0)
                return static_cast<int>(i);
        }
        return -1;
    }

protected:
    static inline CJackServer* s_pServer = nullptr;
    static inline std::string s_strSkip;
};
