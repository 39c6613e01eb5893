#pragma once
// A device owner for tests: records notifications, preset line rebuilds and control
// enabling, and owns an image and an output port on a loopback driver.
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <utility>
#include <vector>

#include "protocol/device/DeviceImage.h"
#include "protocol/device/DeviceOwner.h"
#include "protocol/wire/QZ81KTMidiOut.h"

class CFakeOwner : public CDeviceOwner {
public:
    explicit CFakeOwner(CMidiDriver* pDriver) : m_out(pDriver) {}

    CDeviceImage& Image() override { return m_image; }
    CQZ81KTMidiOut& MidiOut() override { return m_out; }
    void PostReplyNotify(int wParam, int lParam) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_posts.emplace_back(wParam, lParam);
        m_cv.notify_all();
    }
    void UpdatePresetLine(int nPreset) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_presetLines.push_back(nPreset);
        m_cv.notify_all();
    }
    void UpdateControlEnable() override {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_nControlEnables;
    }

    std::vector<std::pair<int, int>> Posts() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_posts;
    }
    std::vector<int> PresetLines() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_presetLines;
    }
    int ControlEnables() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_nControlEnables;
    }
    void ClearRecords() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_posts.clear();
        m_presetLines.clear();
        m_nControlEnables = 0;
    }
    template <class Pred>
    bool WaitUntil(Pred pred, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
        auto end = std::chrono::steady_clock::now() + timeout;
        while (!pred()) {
            if (std::chrono::steady_clock::now() > end) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    }

private:
    CDeviceImage m_image;
    CQZ81KTMidiOut m_out;
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::vector<std::pair<int, int>> m_posts;
    std::vector<int> m_presetLines;
    int m_nControlEnables = 0;
};
