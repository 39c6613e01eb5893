// The MIDI system's life around the ports: which backend the programs get, no server,
// a server killed under open ports, and the next server after it.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <array>
#include <atomic>
#include <future>
#include <memory>

#include "platform/JackFixture.h"
#include "platform/PlatformTestSupport.h"
#include "platform/PortRecorder.h"

namespace {

using namespace platform_test;

using RtMidiApiTest = JackFixture;

TEST_F(RtMidiApiTest, EnvironmentChoosesTheApiAndAutoFallsBackToJack) {
    {
        ScopedEnv env("QZ81KT_MIDI_API", "jack");
        CRtMidiDriver d;
        EXPECT_EQ(d.ApiName(), "JACK");
        EXPECT_TRUE(d.IsAvailable()) << d.UnavailableReason();
        EXPECT_EQ(d.UnavailableReason(), "");
    }
    {
        ScopedEnv env("QZ81KT_MIDI_API", "ALSA");
        CRtMidiDriver d;
        if (AlsaSequencerPresent()) {
            EXPECT_EQ(d.ApiName(), "ALSA");
        } else {
            EXPECT_EQ(d.ApiName(), "none");
            EXPECT_FALSE(d.IsAvailable());
            // Told by the missing node, before the library's configuration is read.
            EXPECT_NE(d.UnavailableReason().find("ALSA: no sequencer device"), std::string::npos)
                << d.UnavailableReason();
            EXPECT_EQ(d.InGetNumDevs(), 0u);
            HMIDIPORT h = nullptr;
            EXPECT_EQ(d.InOpen(&h, 0, nullptr, nullptr), MMSYSERR_NODRIVER);
        }
    }
    {
        ScopedEnv env("QZ81KT_MIDI_API", nullptr);
        CRtMidiDriver d;
        EXPECT_EQ(d.ApiName(), AlsaSequencerPresent() ? "ALSA" : "JACK");
        EXPECT_TRUE(d.IsAvailable()) << d.UnavailableReason();
    }
    {
        // An explicit choice wins over the environment.
        ScopedEnv env("QZ81KT_MIDI_API", "alsa");
        CRtMidiDriver d(CRtMidiDriver::EApi::Jack);
        EXPECT_EQ(d.ApiName(), "JACK");
    }
}

TEST_F(RtMidiApiTest, TheProgramsReachJackThroughOurBackendAndAlsaThroughRtMidi) {
    const bool bAlsa = AlsaSequencerPresent();
    const struct {
        const char* pszEnv;
        EMidiApi eAsked;
        bool bOurs;
    } cases[] = {
        {"jack", EMidiApi::Auto, true},
        {nullptr, EMidiApi::Jack, true},
        {"jack", EMidiApi::Alsa, false},  // an explicit choice wins
        {nullptr, EMidiApi::Auto, !bAlsa},  // ALSA first, JACK when ALSA is missing
    };
    for (const auto& c : cases) {
        ScopedEnv env("QZ81KT_MIDI_API", c.pszEnv);
        auto p = qz::OpenSystemMidiDriver(c.eAsked, "qz81kt-dxp");
        ASSERT_TRUE(p);
        EXPECT_EQ(dynamic_cast<CJackMidiDriver*>(p.get()) != nullptr, c.bOurs) << (c.pszEnv ? c.pszEnv : "-");
        if (c.bOurs) {
            EXPECT_TRUE(p->IsAvailable()) << p->UnavailableReason();
        }
    }
}

TEST_F(RtMidiApiTest, JackWithoutAServerIsUnavailableAndFailsGracefully) {
    ScopedEnv env("JACK_DEFAULT_SERVER", "qz81kt-no-such-server");
    CRtMidiDriver d(CRtMidiDriver::EApi::Jack);
    EXPECT_EQ(d.ApiName(), "JACK");
    EXPECT_FALSE(d.IsAvailable());
    EXPECT_NE(d.UnavailableReason(), "");
    EXPECT_EQ(d.InGetNumDevs(), 0u);
    EXPECT_EQ(d.OutGetNumDevs(), 0u);
    HMIDIPORT h = nullptr;
    EXPECT_EQ(d.OutOpen(&h, 0, nullptr, nullptr), MMSYSERR_BADDEVICEID);
    EXPECT_NE(d.OutOpenVirtual(&h, "out", nullptr, nullptr), MMSYSERR_NOERROR);
    EXPECT_EQ(h, nullptr);

    CJackMidiDriver ours;
    EXPECT_FALSE(ours.IsAvailable());
    EXPECT_NE(ours.UnavailableReason().find("qz81kt-no-such-server"), std::string::npos) << ours.UnavailableReason();
    EXPECT_EQ(ours.InGetNumDevs(), 0u);
    EXPECT_EQ(ours.OutOpen(&h, 0, nullptr, nullptr), MMSYSERR_BADDEVICEID);
    EXPECT_EQ(h, nullptr);
}

// ---- a server that dies under open ports ----

class JackDeadServerTest : public JackFixture, public testing::WithParamInterface<JackFixture::EBackend> {};

TEST_P(JackDeadServerTest, CloseAndDestructionReturnAfterTheServerWasKilled) {
    ScopedEnv env("JACK_DEFAULT_SERVER", nullptr);  // back to the suite's server afterwards
    CJackServer server;  // its own server: the suite's one stays alive for the others
    ASSERT_TRUE(server.Start()) << server.Error();
    CRtMidiDriver::COptions options;
    options.m_eApi = CRtMidiDriver::EApi::Jack;
    options.m_nCallTimeoutMs = 500;
    options.m_strClientName = "qz81kt-dxp";
    std::unique_ptr<CSystemMidiDriver> pOurs;
    if (GetParam() == EBackend::Jack)
        pOurs = std::make_unique<CJackMidiDriver>("qz81kt-dxp");
    else
        pOurs = std::make_unique<CRtMidiDriver>(options);
    options.m_strClientName = "qz81kt-peer";
    auto pPeer = std::make_unique<CRtMidiDriver>(options);
    ASSERT_TRUE(pOurs->IsAvailable());

    HMIDIPORT hPeerIn = nullptr, hPeerOut = nullptr, hIn = nullptr, hOut = nullptr;
    ASSERT_EQ(pPeer->InOpenVirtual(&hPeerIn, "in", nullptr, nullptr), MMSYSERR_NOERROR);
    ASSERT_EQ(pPeer->OutOpenVirtual(&hPeerOut, "out", nullptr, nullptr), MMSYSERR_NOERROR);
    int nIn = FindPort(*pOurs, true, "qz81kt-peer", "out");
    int nOut = FindPort(*pOurs, false, "qz81kt-peer", "in");
    ASSERT_GE(nIn, 0);
    ASSERT_GE(nOut, 0);
    auto rec = std::make_shared<CPortRecorder>();
    ASSERT_EQ(pOurs->InOpen(&hIn, uint32_t(nIn), &CPortRecorder::Callback, rec.get()), MMSYSERR_NOERROR);
    ASSERT_EQ(pOurs->OutOpen(&hOut, uint32_t(nOut), &CPortRecorder::Callback, rec.get()), MMSYSERR_NOERROR);
    ASSERT_EQ(pOurs->InStart(hIn), MMSYSERR_NOERROR);

    server.Kill();

    // More than JACK's 16 KB send buffer: with nobody draining it, a send blocks.
    size_t nAccepted = 0;
    auto payload = std::make_shared<std::vector<uint8_t>>(SysEx(1000, 1));
    auto hdrs = std::make_shared<std::array<MIDIHDR, 40>>();
    for (auto& h : *hdrs) {
        h.lpData = payload->data();
        h.dwBufferLength = static_cast<uint32_t>(payload->size());
        pOurs->OutPrepareHeader(hOut, &h);
        MMRESULT mmr = pOurs->OutLongMsg(hOut, &h);
        EXPECT_TRUE(mmr == MMSYSERR_NOERROR || mmr == MIDIERR_NOTREADY) << mmr;
        nAccepted += mmr == MMSYSERR_NOERROR;
    }
    std::this_thread::sleep_for(200ms);  // lets the sender reach the full buffer

    // Everything the program does on the way out, on a thread of its own so that a
    // hang fails the test instead of stalling it. The thread owns what it touches.
    auto done = std::make_shared<std::promise<void>>();
    auto future = done->get_future();
    CSystemMidiDriver* pRawOurs = pOurs.release();
    CRtMidiDriver* pRawPeer = pPeer.release();
    auto nAbandoned = std::make_shared<std::atomic<uint32_t>>(0);
    std::thread closer([=] {
        pRawOurs->OutClose(hOut);
        pRawOurs->InClose(hIn);
        pRawOurs->InGetNumDevs();
        if (auto* pRt = dynamic_cast<CRtMidiDriver*>(pRawOurs)) nAbandoned->store(pRt->AbandonedPorts());
        delete pRawOurs;
        if (GetParam() == EBackend::RtMidi)
            delete pRawPeer;
        else
            KeepForever(pRawPeer);
        (void)rec;
        (void)payload;
        (void)hdrs;
        done->set_value();
    });
    bool bReturned = future.wait_for(30s) == std::future_status::ready;
    if (!bReturned) {
        // The stuck thread sits inside libjack, where the process's own exit would wait
        // for it too: report and leave at once instead of running into CTest's timeout.
        ADD_FAILURE() << "closing after the server died did not return";
        std::fflush(nullptr);
        std::_Exit(1);
    }
    closer.join();
    if (GetParam() == EBackend::Jack) {
        // Our backend gives every accepted message back, as failed, once the server is gone.
        EXPECT_EQ(rec->Events(MOM_DONE).size(), nAccepted);
    }
    // How many RtMidi objects had to be left behind (a figure, not a requirement).
    RecordProperty("abandoned_ports", static_cast<int>(nAbandoned->load()));
}

// Our backend opens a new client when a listing finds a server again (here the next
// one: JACK_DEFAULT_SERVER follows the newest test server), while a port of the dead
// client stays a valid handle until it is closed.
using JackServerRestartTest = JackFixture;

TEST_F(JackServerRestartTest, OurBackendComesBackWithTheNextServerAndTheOldPortStillCloses) {
    ScopedEnv env("JACK_DEFAULT_SERVER", nullptr);
    CJackServer first;
    ASSERT_TRUE(first.Start()) << first.Error();
    CJackMidiDriver ours("qz81kt-dxp");
    CRtMidiDriver* pFirstPeer = MakeDriver("qz81kt-peer").release();
    KeepForever(pFirstPeer);
    HMIDIPORT hPeerOut = nullptr, hOldIn = nullptr, hIn = nullptr;
    ASSERT_EQ(pFirstPeer->OutOpenVirtual(&hPeerOut, "out", nullptr, nullptr), MMSYSERR_NOERROR);
    int n = FindPort(ours, true, "qz81kt-peer", "out");
    ASSERT_GE(n, 0);
    CPortRecorder rec;
    ASSERT_EQ(ours.InOpen(&hOldIn, uint32_t(n), &CPortRecorder::Callback, &rec), MMSYSERR_NOERROR);
    ASSERT_EQ(ours.InStart(hOldIn), MMSYSERR_NOERROR);

    first.Kill();
    ASSERT_TRUE(Eventually([&] { return !ours.IsAvailable(); }));
    EXPECT_EQ(ours.InGetNumDevs(), 0u);
    EXPECT_NE(ours.UnavailableReason(), "");

    CJackServer second;
    ASSERT_TRUE(second.Start()) << second.Error();
    auto pPeer = MakeDriver("qz81kt-peer");
    ASSERT_EQ(pPeer->OutOpenVirtual(&hPeerOut, "out", nullptr, nullptr), MMSYSERR_NOERROR);
    n = FindPort(ours, true, "qz81kt-peer", "out");
    ASSERT_GE(n, 0);
    EXPECT_TRUE(ours.IsAvailable());
    ASSERT_EQ(ours.InOpen(&hIn, uint32_t(n), &CPortRecorder::Callback, &rec), MMSYSERR_NOERROR);
    EXPECT_NE(hIn, hOldIn);
    ASSERT_EQ(ours.InStart(hIn), MMSYSERR_NOERROR);
    bool bThrough = false;
    for (int i = 0; i < 20 && !bThrough; ++i) {
        ASSERT_EQ(pPeer->OutShortMsg(hPeerOut, 0x7F4090), MMSYSERR_NOERROR);
        bThrough = rec.WaitCount(MIM_DATA, 1, 500ms);
    }
    EXPECT_TRUE(bThrough);
    EXPECT_EQ(ours.InClose(hOldIn), MMSYSERR_NOERROR);
    EXPECT_EQ(ours.InClose(hIn), MMSYSERR_NOERROR);
}

INSTANTIATE_TEST_SUITE_P(Backends, JackDeadServerTest,
                         testing::Values(JackFixture::EBackend::RtMidi, JackFixture::EBackend::Jack),
                         JackFixture::BackendName);

}  // namespace
