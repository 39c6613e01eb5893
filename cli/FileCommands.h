#pragma once
// qz81kt export, import and diff: the parameter file over the same core code as the
// window's Export and Import.
#include <atomic>
#include <cstdint>
#include <iosfwd>
#include <string>

class CCliSession;

class CFileCommands {
public:
    CFileCommands(CCliSession& session, const std::string& strFile, uint32_t nTimeoutMs, bool bJson,
                  std::ostream& out, std::ostream& err, const std::atomic<bool>* pStop)
        : m_session(session), m_strFile(strFile), m_nTimeoutMs(nTimeoutMs), m_bJson(bJson), m_out(out), m_err(err),
          m_pStop(pStop) {}

    // Writes the file once every block it saves has arrived.
    int Export();
    // Sends the file as the window does, reads the device again and exits 0 only when
    // its system, timecode and preset blocks equal what was sent.
    int Import();
    // Each setting that differs between the file and the device; 0 none, 1 some.
    int Diff();

    // The program's version as the file's "tool" key holds it.
    static const char* ToolVersion();

private:
    enum class EWait { Complete, TimedOut, Stopped };
    // Waits for every block of the request-all sequence, asking again for missing ones.
    EWait WaitForDevice();
    // Reads the device's saved blocks afresh (after a write) into the image.
    EWait ReadBackSaved();
    int ReportWait(EWait e, int nNoAnswerExit);
    bool Stopped() const { return m_pStop && m_pStop->load(); }

    CCliSession& m_session;
    const std::string m_strFile;
    const uint32_t m_nTimeoutMs;
    const bool m_bJson;
    std::ostream& m_out;
    std::ostream& m_err;
    const std::atomic<bool>* m_pStop;
};
