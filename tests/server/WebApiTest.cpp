// The web API over HTTP on a loopback port, against emulated converters on the loopback
// driver: the window's rules, the read-back, bad requests, the token and read-only.
#include <gtest/gtest.h>
#include <httplib.h>

#include <memory>
#include <nlohmann/json.hpp>

#include "protocol/wire/BlockLayout.h"
#include "server/TwoUnitRack.h"
#include "server/WebApi.h"
#include "server/WebService.h"

namespace {

using Json = nlohmann::json;
const std::string kUnitB = "/api/units/unit_UNIT_B";

struct WebApiTest : CTwoUnitRack {
    CForwardTo<CWebService> forwarder;
    std::unique_ptr<CRack> rack;
    std::unique_ptr<CWebService> service;
    std::unique_ptr<CWebApi> api;
    std::unique_ptr<httplib::Client> client;
    std::vector<std::string> log;
    std::mutex logMutex;

    void TearDown() override {
        if (rack) rack->Stop();
        if (service) service->Stop();
        api.reset();
        service.reset();
        rack.reset();
    }
    void Start(const std::string& strToken = "", bool bReadOnly = false) {
        rack = std::make_unique<CRack>(driver, &forwarder, 20);
        service = std::make_unique<CWebService>(*rack, [this](const std::string& s) { Log(s); }, true);
        CWebApi::COptions options;
        options.nPort = 0;
        options.strToken = strToken;
        options.bReadOnly = bReadOnly;
        api = std::make_unique<CWebApi>(*service, options, [this](const std::string& s) { Log(s); });
        std::string strError;
        ASSERT_TRUE(api->Start(strError)) << strError;
        service->Start();
        forwarder.pService = service.get();
        rack->Start();
        client = std::make_unique<httplib::Client>("127.0.0.1", api->Port());
        if (!strToken.empty()) client->set_bearer_token_auth(strToken.c_str());
    }
    void Log(const std::string& s) {
        std::lock_guard<std::mutex> lock(logMutex);
        log.push_back(s);
    }
    bool Logged(const std::string& strPart) {
        std::lock_guard<std::mutex> lock(logMutex);
        for (const std::string& s : log)
            if (s.find(strPart) != std::string::npos) return true;
        return false;
    }
    Json Get(const std::string& strPath, int nStatus = 200) {
        auto res = client->Get(strPath);
        EXPECT_TRUE(res) << strPath;
        if (!res) return {};
        EXPECT_EQ(res->status, nStatus) << strPath << ": " << res->body;
        return Json::parse(res->body, nullptr, false);
    }
    httplib::Result Put(const std::string& strPath, const std::string& strBody,
                        const char* pszType = "application/json") {
        return client->Put(strPath, strBody, pszType);
    }
    // Until the unit's link is up and its control mode has arrived (the rules need both).
    bool WaitReady(const std::string& strUnit) {
        for (int n = 0; n < 300; ++n) {
            auto pSession = rack->Session(strUnit);
            if (pSession && pSession->IsLinkUp() && pSession->Arrived(qz::EBlock::ControlMode) &&
                pSession->Arrived(qz::EBlock::Preset7))
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }
};

TEST_F(WebApiTest, UnitsShowWhatTheDeviceHoldsAndUnknownNamesAre404) {
    Start();
    ASSERT_TRUE(WaitReady("unit_UNIT_A") && WaitReady("unit_UNIT_B"));
    const Json units = Get("/api/units");
    ASSERT_EQ(units["units"].size(), 2u);
    const Json unit = Get(kUnitB);
    EXPECT_EQ(unit["identity"]["productId"], "UNIT-B");
    EXPECT_EQ(unit["settings"]["fan"]["value"], b.Emulator().Memory().m_system[qz::kSysFan]);
    EXPECT_EQ(Get(kUnitB + "/presets/2")["fields"]["codec"], unit["presets"][2]["fields"]["codec"]);
    EXPECT_TRUE(Get(kUnitB + "/status")["link"].get<bool>());
    for (const std::string& path : {std::string("/api/units/unit_NONE"), kUnitB + "/presets/9", std::string("/api/nothing")})
        Get(path, 404);
    EXPECT_EQ(Put(kUnitB + "/settings/no-such", R"({"value":1})")->status, 404);
    // The page itself needs no token and names the window's captions.
    auto page = client->Get("/");
    ASSERT_TRUE(page);
    EXPECT_NE(page->body.find("app.js"), std::string::npos);
    EXPECT_EQ(Get("/window.json")["IDC_WRITE_FLASH"], "Write to FlashROM");
}

TEST_F(WebApiTest, AWriteIsAnsweredWithTheValueReadBack) {
    Start();
    ASSERT_TRUE(WaitReady("unit_UNIT_B") && WaitReady("unit_UNIT_A"));
    const int nFan = b.Emulator().Memory().m_system[qz::kSysFan];
    auto res = Put(kUnitB + "/settings/fan", Json{{"value", 1 - nFan}}.dump());
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200) << res->body;
    EXPECT_EQ(Json::parse(res->body)["value"], 1 - nFan);
    EXPECT_EQ(b.Emulator().Memory().m_system[qz::kSysFan], 1 - nFan);
    EXPECT_TRUE(Logged(" wrote unit_UNIT_B settings/fan = " + std::string(1 - nFan ? "on" : "off") + " (read back)"));

    // The device keeps its value: the answer is what it read back, not what was asked for.
    peerA.m_bLoseWrites = true;
    const int nFanA = a.Emulator().Memory().m_system[qz::kSysFan];
    res = Put("/api/units/unit_UNIT_A/settings/fan", Json{{"value", 1 - nFanA}}.dump());
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
    EXPECT_EQ(Json::parse(res->body)["value"], nFanA);

    // No read-back at all: after kReadBackMs the answer is what the device last said.
    peerA.m_bLoseWrites = false;
    peerA.m_dwLoseRequestsOf = 0;  // the system block's address
    res = Put("/api/units/unit_UNIT_A/settings/fan", Json{{"value", 1 - nFanA}}.dump());
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 504);
    EXPECT_EQ(Json::parse(res->body)["value"], nFanA);
    EXPECT_TRUE(Logged(" wrote unit_UNIT_A settings/fan: no read-back; answered "));

    // A preset field as the editor saves it.
    res = Put(kUnitB + "/presets/3", R"({"fields":{"codec":"MPEG-2","pmt":" 0x1F"}})");
    ASSERT_TRUE(res);
    ASSERT_EQ(res->status, 200) << res->body;
    EXPECT_EQ(Json::parse(res->body)["fields"]["pmt"], "001f");
}

TEST_F(WebApiTest, LocalModeRefusesAsTheWindowDisablesAndSendsNothing) {
    Start();
    ASSERT_TRUE(WaitReady("unit_UNIT_B"));
    ASSERT_EQ(Put(kUnitB + "/settings/control-mode", R"({"value":"local"})")->status, 200);
    const Json unit = Get(kUnitB);
    EXPECT_FALSE(unit["settings"]["fan"]["enabled"].get<bool>());
    EXPECT_TRUE(unit["settings"]["control-mode"]["enabled"].get<bool>());
    EXPECT_FALSE(unit["controls"]["presets"].get<bool>());
    const size_t nWrites = Writes(peerB);
    auto res = Put(kUnitB + "/settings/fan", R"({"value":"on"})");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 409);
    EXPECT_NE(Json::parse(res->body)["error"].get<std::string>().find("Local"), std::string::npos);
    EXPECT_EQ(Put(kUnitB + "/presets/1", R"({"fields":{"gop":3}})")->status, 409);
    EXPECT_EQ(Writes(peerB), nWrites);
    // SW6 holds the device in Remote: both buttons off, as in the window.
    b.Emulator().SetControlMode(0x01);
    for (int n = 0; n < 100 && Get(kUnitB)["settings"]["control-mode"]["enabled"].get<bool>(); ++n)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(Get(kUnitB)["settings"]["control-mode"]["enabled"].get<bool>());
}

TEST_F(WebApiTest, BadRequestsGetAClear4xxAndReachNoDevice) {
    Start();
    ASSERT_TRUE(WaitReady("unit_UNIT_B"));
    const size_t nWrites = Writes(peerB);
    struct CCase {
        const char* pszPath;
        std::string strBody;
        const char* pszType;
        int nStatus;
    };
    const CCase cases[] = {
        {"/settings/fan", "{\"value\":", "application/json", 400},
        {"/settings/fan", "[1]", "application/json", 400},
        {"/settings/fan", R"({"value":2})", "application/json", 400},
        {"/settings/fan", R"({"value":4294967297})", "application/json", 400},
        {"/settings/fan", R"({"value":"sideways"})", "application/json", 400},
        {"/settings/fan", R"({"value":1})", "text/plain", 415},
        {"/settings/fan", "{\"value\":1,\"pad\":\"" + std::string(20000, 'x') + "\"}", "application/json", 413},
        {"/presets/2", R"({"fields":{"warp":1}})", "application/json", 400},
        {"/presets/2", R"({"fields":{"gop":99}})", "application/json", 409},
        {"/presets/2", R"({"fields":[]})", "application/json", 400},
        {"/settings/fan", std::string(8000, '[') + std::string(8000, ']'), "application/json", 400},
    };
    for (const CCase& c : cases) {
        auto res = Put(kUnitB + c.pszPath, c.strBody, c.pszType);
        ASSERT_TRUE(res) << c.strBody.substr(0, 40);
        EXPECT_EQ(res->status, c.nStatus) << c.strBody.substr(0, 40) << " -> " << res->body;
        EXPECT_TRUE(Json::parse(res->body, nullptr, false).contains("error")) << res->body;
    }
    EXPECT_EQ(Writes(peerB), nWrites);
}

TEST_F(WebApiTest, TheTokenIsAskedForAndReadOnlyRefusesWrites) {
    Start("s3cret-token", true);
    ASSERT_TRUE(WaitReady("unit_UNIT_B"));
    httplib::Client stranger("127.0.0.1", api->Port());
    EXPECT_EQ(stranger.Get("/api/units")->status, 401);
    stranger.set_bearer_token_auth("s3cret-tokeN");
    EXPECT_EQ(stranger.Get("/api/units")->status, 401);
    EXPECT_EQ(stranger.Get("/api/events")->status, 401);
    EXPECT_EQ(stranger.Get("/")->status, 200);
    Get("/api/units");
    const size_t nWrites = Writes(peerB);
    auto res = Put(kUnitB + "/settings/fan", R"({"value":1})");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 403);
    EXPECT_EQ(client->Post(kUnitB + "/write-flash", "{}", "application/json")->status, 403);
    EXPECT_EQ(Writes(peerB), nWrites);
    EXPECT_FALSE(Logged("s3cret"));
    EXPECT_TRUE(Logged("wrong token"));
}

TEST_F(WebApiTest, TheEventStreamStartsWithTheRackThenCarriesChanges) {
    Start();
    ASSERT_TRUE(WaitReady("unit_UNIT_B"));
    std::string strEvents;
    std::mutex eventsMutex;
    std::atomic<bool> bStop{false};
    httplib::Client reader("127.0.0.1", api->Port());
    std::thread t([&] {
        reader.Get("/api/events", [&](const char* p, size_t n) {
            std::lock_guard<std::mutex> lock(eventsMutex);
            strEvents.append(p, n);
            return !bStop.load();
        });
    });
    auto count = [&](const std::string& s) {
        std::lock_guard<std::mutex> lock(eventsMutex);
        size_t n = 0;
        for (size_t at = strEvents.find(s); at != std::string::npos; at = strEvents.find(s, at + 1)) ++n;
        return n;
    };
    // The snapshot names every unit's timecode too, so wait on the unit events themselves.
    for (int n = 0; n < 300 && count("event: unit") < 2; ++n) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(count("event: snapshot"), 1u);
    EXPECT_GE(count("event: unit"), 2u);  // the timecode runs
    EXPECT_EQ(service->StreamCount(), 1u);
    // A write reaches the stream with the value read back.
    const int nFan = b.Emulator().Memory().m_system[qz::kSysFan];
    ASSERT_EQ(Put(kUnitB + "/settings/fan", Json{{"value", 1 - nFan}}.dump())->status, 200);
    const std::string strFan = "\"fan\":{\"enabled\":true,\"value\":" + std::to_string(1 - nFan) + "}";
    for (int n = 0; n < 100 && !count(strFan); ++n) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(count(strFan), 1u);
    bStop = true;
    t.join();
    // The reader went: its stream fails at the next event and is dropped.
    for (int n = 0; n < 200 && service->StreamCount() > 0; ++n) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(service->StreamCount(), 0u);
}

TEST(WebApiSecretTest, SameSecretComparesWholeTexts) {
    EXPECT_TRUE(CWebApi::SameSecret("abc", "abc"));
    EXPECT_TRUE(CWebApi::SameSecret("", ""));
    for (const char* p : {"abd", "ab", "abcd", "", "ABC"}) EXPECT_FALSE(CWebApi::SameSecret("abc", p)) << p;
}

}  // namespace
