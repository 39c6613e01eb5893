#include "server/WebService.h"

#include <algorithm>

#include "protocol/fields/ItemList.h"
#include "protocol/fields/PresetFields.h"
#include "protocol/fields/SystemSettings.h"
#include "server/UnitControl.h"

using Json = CWebService::Json;

// A write on its way: what it changes and how the log names it.
struct CWebService::CPending {
    std::string strClient, strUnit;
    int nSetting = -1;  // a setting, or else a preset save
    int nValue = 0;
    int nPreset = 0;
    std::vector<CPresetFieldChoice> fields;
    bool bFlash = false;
};

namespace {

constexpr auto kCallTimeout = std::chrono::milliseconds(CReadBackWaits::kReadBackMs + 1500);

CWebService::CReply Error(int nStatus, const std::string& strWhy) { return {nStatus, {{"error", strWhy}}}; }

// A setting's value as an index among its names: the index itself, a name or a caption.
bool ParseSettingValue(const qz::CSystemSetting& s, const Json& value, int& nOut) {
    if (value.is_number_integer()) {
        const auto n = value.get<int64_t>();
        nOut = static_cast<int>(n);
        return n >= 0 && n < s.names.nCount;
    }
    if (!value.is_string()) return false;
    const std::string text = value.get<std::string>();
    nOut = qz::FindSettingValue(s, text);
    if (nOut == qz::kNoSelection && s.captions.nCount) nOut = qz::FindItem(s.captions, text);
    return nOut != qz::kNoSelection;
}

// {"codec": 1, "gop": "15", "pmt": "0100"}: a list takes its item's index or text, a
// hexadecimal field its text (read as the editor reads it) or a number.
bool ParsePresetFields(const Json& fields, std::vector<CPresetFieldChoice>& out, std::string& strError) {
    if (!fields.is_object()) return strError = "\"fields\" must be an object", false;
    for (auto& [strName, value] : fields.items()) {
        bool bHex = false;
        const int nField = CWebModel::PresetFieldIndex(strName, bHex);
        if (nField < 0) return strError = "no preset field " + strName, false;
        int nValue = -1;
        if (value.is_number_integer()) {
            const auto n = value.get<int64_t>();
            nValue = n >= 0 && n <= (bHex ? 0xFFFF : 0xFF) ? static_cast<int>(n) : -1;
        } else if (value.is_string() && bHex) {
            nValue = static_cast<int>(qz::ReadHexNumber(value.get<std::string>()) & 0xFFFF);
        } else if (value.is_string()) {
            nValue = qz::FindItem(qz::kPresetLists[nField].items, value.get<std::string>());
        }
        if (nValue < 0) return strError = "no such value for " + strName, false;
        out.push_back({bHex, nField, nValue});
    }
    return true;
}

}  // namespace

CWebService::CWebService(CRack& rack, LogFn log, bool bLogUnits)
    : m_rack(rack), m_log(std::move(log)), m_bLogUnits(bLogUnits) {}

CWebService::~CWebService() { Stop(); }

void CWebService::Start() {
    if (m_thread.joinable()) return;
    m_io.restart();
    Tick();
    m_thread = std::thread([this] { m_io.run(); });
}

void CWebService::Stop() {
    if (!m_thread.joinable()) return;
    m_io.stop();
    m_thread.join();
    m_tick.cancel();
    m_waits.Abandon();
    for (auto& pStream : m_streams) pStream->Close();
    m_streams.clear();
    m_nStreams = 0;
}

void CWebService::PostRackEvent(const CRackEvent& event) {
    asio::post(m_io, [this, event] { OnRackEvent(event); });
}

void CWebService::OnRackEvent(const CRackEvent& event) {
    if (event.eKind == CRackEvent::EKind::Blocks) {
        m_waits.Settle(m_rack);
        return;
    }
    if (!m_bLogUnits) return;
    const auto units = m_rack.Units();
    const auto it = std::find_if(units.begin(), units.end(), [&](const CRackUnit& u) { return u.strId == event.strUnit; });
    const CRackUnit info = it == units.end() ? CRackUnit{} : *it;
    switch (event.eKind) {
        case CRackEvent::EKind::Added:
            m_log(CUnitControl::FoundLogLine(event.strUnit, info.strProductID, info.strInPort));
            break;
        case CRackEvent::EKind::Online:
        case CRackEvent::EKind::Offline:
        case CRackEvent::EKind::Removed:
            m_log(CUnitControl::OnlineLogLine(event.strUnit, event.eKind == CRackEvent::EKind::Online, info.strInPort));
            break;
        case CRackEvent::EKind::Warning: m_log("qz81kt: " + event.strText); break;
        case CRackEvent::EKind::Blocks: break;
    }
}

void CWebService::Tick() {
    m_waits.Settle(m_rack);
    Publish();
    m_tick.expires_after(std::chrono::milliseconds(CRack::kTickMs));
    m_tick.async_wait([this](const asio::error_code& ec) {
        if (!ec) Tick();
    });
}

void CWebService::Publish() {
    std::erase_if(m_streams, [](const auto& p) { return p->IsClosed(); });
    m_nStreams = m_streams.size();
    if (m_streams.empty()) return;  // nobody looks: the next stream starts from a snapshot
    for (const Json& change : m_model.Changes()) {
        const std::string strData = change.dump(-1, ' ', false, Json::error_handler_t::replace);
        for (auto& pStream : m_streams) pStream->Push("unit", strData);
    }
}

bool CWebService::AddStream(const std::shared_ptr<CEventStream>& pStream) {
    auto added = std::make_shared<std::promise<bool>>();
    auto future = added->get_future();
    asio::post(m_io, [this, added, pStream] {
        Publish();  // the others hear what changed before the snapshot is taken
        const bool bRoom = m_streams.size() < kMaxStreams;
        if (bRoom) {
            pStream->Push("snapshot", m_model.Snapshot().dump(-1, ' ', false, Json::error_handler_t::replace));
            m_streams.push_back(pStream);
            m_nStreams = m_streams.size();
        }
        added->set_value(bRoom);
    });
    return future.wait_for(kCallTimeout) == std::future_status::ready && future.get();
}

CWebService::CReply CWebService::Await(const std::function<void(Promise)>& start) {
    auto promise = std::make_shared<std::promise<CReply>>();
    auto future = promise->get_future();
    asio::post(m_io, [start, promise] { start(promise); });
    if (future.wait_for(kCallTimeout) != std::future_status::ready) return Error(503, "the service did not answer");
    return future.get();
}

Json CWebService::Units() {
    return Await([this](Promise p) {
        Json units = Json::array();
        for (const CRackUnit& u : m_rack.Units())
            if (auto unit = m_model.Unit(u.strId)) units.push_back(*unit);
        p->set_value({200, {{"units", units}}});
    }).body;
}

CWebService::CReply CWebService::Unit(const std::string& strUnit) {
    return Await([this, strUnit](Promise p) {
        auto unit = m_model.Unit(strUnit);
        p->set_value(unit ? CReply{200, *unit} : Error(404, "no unit " + strUnit));
    });
}

CWebService::CReply CWebService::SetSetting(const std::string& strClient, const std::string& strUnit,
                                            const std::string& strName, const Json& value) {
    const int nSetting = CWebModel::SettingIndex(strName);
    if (nSetting < 0) return Error(404, "no setting " + strName);
    auto pWrite = std::make_shared<CPending>();
    if (!ParseSettingValue(qz::kSystemSettings[nSetting], value, pWrite->nValue))
        return Error(400, strName + " takes " + qz::SettingValueList(qz::kSystemSettings[nSetting]));
    pWrite->strClient = strClient;
    pWrite->strUnit = strUnit;
    pWrite->nSetting = nSetting;
    return Await([this, pWrite](Promise p) { StartWrite(p, pWrite); });
}

CWebService::CReply CWebService::SavePreset(const std::string& strClient, const std::string& strUnit, int nPreset,
                                            const Json& fields) {
    if (nPreset < 0 || nPreset >= qz::kPresetCount) return Error(404, "no preset " + std::to_string(nPreset));
    auto pWrite = std::make_shared<CPending>();
    std::string strError;
    if (!ParsePresetFields(fields, pWrite->fields, strError)) return Error(400, strError);
    pWrite->strClient = strClient;
    pWrite->strUnit = strUnit;
    pWrite->nPreset = nPreset;
    return Await([this, pWrite](Promise p) { StartWrite(p, pWrite); });
}

CWebService::CReply CWebService::WriteFlash(const std::string& strClient, const std::string& strUnit) {
    auto pWrite = std::make_shared<CPending>();
    pWrite->strClient = strClient;
    pWrite->strUnit = strUnit;
    pWrite->bFlash = true;
    return Await([this, pWrite](Promise p) { StartWrite(p, pWrite); });
}

void CWebService::StartWrite(Promise promise, const std::shared_ptr<CPending>& pWrite) {
    const CPending& w = *pWrite;
    const std::string strName = w.nSetting >= 0 ? std::string("settings/") + qz::kSystemSettings[w.nSetting].pszName
                                                : "presets/preset-" + std::to_string(w.nPreset);
    if (!m_model.Unit(w.strUnit)) return promise->set_value(Error(404, "no unit " + w.strUnit));
    const std::shared_ptr<CDeviceSession> pSession = m_rack.Session(w.strUnit);
    qz::EBlock eBlock = qz::EBlock::System;
    std::string why = "the unit is offline";
    if (pSession && w.bFlash) why = CUnitControl::WriteFlash(*pSession);
    else if (pSession && w.nSetting >= 0)
        why = CUnitControl::Write(*pSession, {CUnitWrite::EKind::Setting, 0, w.nSetting, w.nValue}, eBlock);
    else if (pSession) why = CUnitControl::SavePreset(*pSession, w.nPreset, w.fields, eBlock);
    if (!why.empty()) {
        m_log(w.bFlash ? CUnitControl::FlashLogLine(w.strClient, w.strUnit, false)
                       : CUnitControl::RefusedLogLine(w.strClient, w.strUnit, strName, why));
        return promise->set_value(Error(409, why));
    }
    if (w.bFlash) {
        m_log(CUnitControl::FlashLogLine(w.strClient, w.strUnit, true));
        return promise->set_value({200, {{"unit", w.strUnit}, {"sent", true}}});
    }
    m_waits.Add(0, w.strUnit, eBlock, [this, promise, pWrite](bool bBack) { Answer(promise, *pWrite, bBack); });
}

void CWebService::Answer(const Promise& promise, const CPending& w, bool bReadBack) {
    const Json unit = m_model.Unit(w.strUnit).value_or(Json::object());
    CReply reply{bReadBack ? 200 : 504, {{"unit", w.strUnit}, {"readBack", bReadBack}}};
    std::string strName, strValue;
    if (w.nSetting >= 0) {
        const qz::CSystemSetting& s = qz::kSystemSettings[w.nSetting];
        const Json value = unit.is_object() ? unit["settings"][s.pszName]["value"] : Json(nullptr);
        reply.body["setting"] = s.pszName;
        reply.body["value"] = value;
        strName = std::string("settings/") + s.pszName;
        strValue = value.is_number_integer() ? qz::ItemText(s.names, value.get<int>()) : "-";
    } else {
        const Json preset = unit.contains("presets") ? unit["presets"][static_cast<size_t>(w.nPreset)] : Json(nullptr);
        reply.body["preset"] = w.nPreset;
        reply.body["summary"] = preset.is_object() ? preset["summary"] : Json(nullptr);
        reply.body["fields"] = preset.is_object() ? preset["fields"] : Json(nullptr);
        strName = "presets/preset-" + std::to_string(w.nPreset);
        strValue = preset.is_object() ? preset["summary"].get<std::string>() : "-";
    }
    if (!bReadBack) reply.body["error"] = "no read-back within " + std::to_string(CReadBackWaits::kReadBackMs) + " ms";
    m_log(CUnitControl::WriteLogLine(w.strClient, w.strUnit, strName, strValue, bReadBack));
    promise->set_value(std::move(reply));
}
