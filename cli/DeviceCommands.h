#pragma once
// qz81kt set, get, preset, flash and factory-reset: the main window's device commands
// and the preset editor's save, with the window's rules, over the same core.
#include <atomic>
#include <cstdint>
#include <initializer_list>
#include <iosfwd>
#include <string>
#include <vector>

#include "cli/SettingArgs.h"
#include "protocol/wire/DeviceBlocks.h"

class CCliSession;

class CDeviceCommands {
public:
    CDeviceCommands(CCliSession& session, uint32_t nTimeoutMs, bool bJson, std::ostream& out, std::ostream& err,
                    const std::atomic<bool>* pStop)
        : m_session(session), m_nTimeoutMs(nTimeoutMs), m_bJson(bJson), m_out(out), m_err(err), m_pStop(pStop) {}

    // Writes the settings into the image's system block and sends the whole block in one
    // DT1, then reads it back; refused (4, nothing sent) when the window would not let
    // one of them be clicked. From Local, control-mode=remote goes first on its own, as
    // the window needs it to before its other controls work.
    int Set(const std::vector<CSettingChoice>& choices);
    int Get(const std::vector<const qz::CSystemSetting*>& settings);
    // Shows preset N, or saves the fields into it as the editor's OK does: every field of
    // the preset saved, all eight presets and the system block sent; then read back.
    int Preset(int nPreset, const std::vector<CPresetFieldChoice>& fields);
    int Flash();
    // Sends the factory reset, pauses as the window does, connects again and waits until
    // the device answers.
    int FactoryReset();

private:
    enum class EWait { Done, TimedOut, Stopped };
    bool Stopped() const { return m_pStop && m_pStop->load(); }
    // Waits until every block has a stored reply, asking again for missing ones.
    EWait WaitForBlocks(std::initializer_list<qz::EBlock> blocks, uint32_t nTimeoutMs);
    int NoAnswer(EWait e, std::initializer_list<qz::EBlock> blocks, const char* pszAfter = "");
    // Waits for the next reply of the block, asking again every half second.
    EWait AwaitReply(qz::EBlock eBlock);
    // Forgets the block's reply, asks for it and waits for the next one.
    EWait ReadBack(qz::EBlock eBlock);
    // Sends the settings (the image's system block) and reads them back, as SendSystemBlock does.
    int WriteSystem(const std::vector<CSettingChoice>& choices);
    // Tells why the session refuses the choices (the window's rules); true when it does.
    bool ReportRefusals(const std::vector<CSettingChoice>& choices);
    bool ReportPresetRefusals(int nPreset, const std::vector<CPresetFieldChoice>& fields);
    // Prints every field of the preset as the image holds it.
    int ShowPreset(int nPreset);
    // Waits for the preset's read-back (asking once more) and shows it when it holds what
    // was sent; else names each field that differs.
    int VerifyPreset(int nPreset, const std::vector<CPresetFieldChoice>& fields, const uint8_t (&sent)[qz::kPresetSize]);

    CCliSession& m_session;
    const uint32_t m_nTimeoutMs;
    const bool m_bJson;
    std::ostream& m_out;
    std::ostream& m_err;
    const std::atomic<bool>* m_pStop;
};
