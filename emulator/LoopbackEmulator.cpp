#include "emulator/LoopbackEmulator.h"

CLoopbackEmulator::CLoopbackEmulator(CLoopbackDriver& driver, const std::string& strName)
    : m_driver(driver), m_emulator(this), m_nPort(driver.AddPortPair(strName, this)) {}

CLoopbackEmulator::~CLoopbackEmulator() {
    // Detach first: SetPeer waits for a delivery in progress, after which nothing reaches us.
    m_driver.SetPeer(m_nPort, nullptr);
    m_emulator.Stop();
}

void CLoopbackEmulator::OnPeerReceive(const uint8_t* pData, size_t nLength) { m_emulator.Receive(pData, nLength); }

void CLoopbackEmulator::OnPeerReceiveShort(uint32_t dwMsg) { m_emulator.ReceiveShort(dwMsg); }

bool CLoopbackEmulator::SendLong(const uint8_t* pData, size_t nLength) {
    return m_driver.PeerSend(m_nPort, pData, nLength);
}

bool CLoopbackEmulator::SendShort(uint32_t dwMsg) { return m_driver.PeerSendShort(m_nPort, dwMsg); }
