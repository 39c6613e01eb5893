#include "platform/JackServer.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>

#ifndef QZ81KT_JACK_SCRIPT
#error "QZ81KT_JACK_SCRIPT must name tests/support/jack-dummy-server.sh"
#endif

CJackServer::~CJackServer() {
    Stop();
    if (!m_strKilled.empty()) {
        int nStatus = 0;
        Run(std::string(QZ81KT_JACK_SCRIPT) + " reclaim " + m_strKilled + " >/dev/null 2>&1", nStatus);
    }
}

bool CJackServer::IsInstalled() {
    int nStatus = 0;
    Run("which jackd >/dev/null 2>&1 && echo yes", nStatus);
    return nStatus == 0;
}

std::string CJackServer::Run(const std::string& strCommand, int& nStatus) {
    std::string strOut;
    FILE* pipe = popen(strCommand.c_str(), "r");
    if (!pipe) {
        nStatus = -1;
        return strOut;
    }
    char ach[256];
    while (fgets(ach, sizeof ach, pipe)) strOut += ach;
    nStatus = pclose(pipe);
    return strOut;
}

bool CJackServer::Start() {
    Stop();
    static int s_nStarted = 0;
    std::ostringstream name;
    name << "qz81kt-test-" << getpid() << "-" << ++s_nStarted;
    int nStatus = 0;
    std::string strOut = Run(std::string(QZ81KT_JACK_SCRIPT) + " start " + name.str() + " " + std::to_string(getpid()) + " 2>&1", nStatus);
    if (nStatus != 0) {
        m_strError = strOut.substr(0, strOut.find('\n'));
        return false;
    }
    m_strName = name.str();
    setenv("JACK_DEFAULT_SERVER", m_strName.c_str(), 1);
    setenv("JACK_NO_START_SERVER", "1", 1);
    return true;
}

void CJackServer::Stop() {
    if (m_strName.empty()) return;
    int nStatus = 0;
    Run(std::string(QZ81KT_JACK_SCRIPT) + " stop " + m_strName + " >/dev/null 2>&1", nStatus);
    m_strName.clear();
}

int CJackServer::LateCycles() const {
    if (m_strName.empty()) return 0;
    int nStatus = 0;
    return std::atoi(Run(std::string(QZ81KT_JACK_SCRIPT) + " late " + m_strName, nStatus).c_str());
}

void CJackServer::Kill() {
    if (m_strName.empty()) return;
    int nStatus = 0;
    Run(std::string(QZ81KT_JACK_SCRIPT) + " kill " + m_strName + " >/dev/null 2>&1", nStatus);
    m_strKilled = m_strName;
    m_strName.clear();
}
