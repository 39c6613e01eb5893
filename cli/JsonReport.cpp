#include "cli/JsonReport.h"

#include <nlohmann/json.hpp>

#include "cli/DeviceReport.h"
#include "protocol/fields/PresetBlock.h"
#include "protocol/fields/StatusText.h"

namespace {

// Keys stay in the order they are written: scripts and readers see a stable document.
using Json = nlohmann::ordered_json;

std::string Text(const Json& j) { return j.dump(-1, ' ', false, Json::error_handler_t::replace); }

template <size_t N>
Json Bytes(const uint8_t (&block)[N]) {
    return Json(std::vector<int>(block, block + N));
}

void PutStatusTexts(Json& j, const CImageSnapshot& snap) {
    CStatusTexts st = qz::StatusTexts(snap.m_status);
    j["timecode"] = st.m_strTimecode;
    j["video_format"] = st.m_strVideoFormat;
    j["power"] = st.m_strPower;
    j["ieee1394_format"] = st.m_strIEEE1394;
}

Json ControlModeJson(const CImageSnapshot& snap) {
    return snap.m_nControlMode < 0 ? Json(nullptr) : Json(qz::ControlModeText(snap.m_nControlMode & 1));
}

}  // namespace

std::string qz::PortsJson(const std::vector<std::string>& ins, const std::vector<qz::CPortDevice>& inDevices,
                      int nSelectedIn, const std::vector<std::string>& outs,
                      const std::vector<qz::CPortDevice>& outDevices, int nSelectedOut) {
    auto side = [](const std::vector<std::string>& names, const std::vector<qz::CPortDevice>& devices, int nSelected) {
        Json list = Json::array();
        for (size_t i = 0; i < names.size(); ++i)
            list.push_back({{"number", i},
                            {"name", names[i]},
                            {"device", i < devices.size() ? devices[i].m_strName : names[i]},
                            {"preselected", static_cast<int>(i) == nSelected}});
        return list;
    };
    Json j;
    j["in"] = side(ins, inDevices, nSelectedIn);
    j["out"] = side(outs, outDevices, nSelectedOut);
    return Text(j);
}

std::string qz::DumpJson(const CImageSnapshot& snap) {
    Json j;
    j["identity"] = qz::IdentityLine(snap.m_bVersionRcvd, snap.m_bProductIDRcvd, snap.m_version, snap.m_productID);
    j["system"] = Bytes(snap.m_system);
    j["timecode"] = Bytes(snap.m_timecode);
    j["status"] = Bytes(snap.m_status);
    Json presets = Json::array(), lines = Json::array();
    for (int n = 0; n < qz::kPresetCount; ++n) {
        presets.push_back(Bytes(snap.m_preset[n]));
        lines.push_back(qz::PresetSummaryLine(n, snap.m_preset[n]));
    }
    j["presets"] = presets;
    j["preset_lines"] = lines;
    Json status;
    PutStatusTexts(status, snap);
    j["status_text"] = status;
    // The control mode byte as received; SW6 (bit 0) is the Local/Remote switch.
    j["control_mode"] = ControlModeJson(snap);
    j["control_mode_byte"] = snap.m_nControlMode < 0 ? Json(nullptr) : Json(snap.m_nControlMode);
    Json switches(nullptr);
    if (snap.m_nControlMode >= 0) {
        switches = Json::object();
        for (int sw = 1; sw <= 6; ++sw)
            switches["SW" + std::to_string(sw)] = qz::ModeSwitchOn(static_cast<uint8_t>(snap.m_nControlMode), sw);
    }
    j["mode_switches"] = switches;
    return Text(j);
}

std::string qz::StatusJson(const CImageSnapshot& snap) {
    Json j;
    PutStatusTexts(j, snap);
    j["control_mode"] = ControlModeJson(snap);
    return Text(j);
}
