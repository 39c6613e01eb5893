#pragma once
// A private JACK dummy server for one test program, run through
// tests/support/jack-dummy-server.sh. Clients find it through JACK_DEFAULT_SERVER.
#include <string>

class CJackServer {
public:
    CJackServer() = default;
    ~CJackServer();
    CJackServer(const CJackServer&) = delete;
    CJackServer& operator=(const CJackServer&) = delete;

    static bool IsInstalled();

    // Starts a server with a unique name and points JACK_DEFAULT_SERVER at it.
    // On failure returns false and leaves a one-line reason in Error().
    bool Start();
    // SIGTERM and wait; removes what the server left in /dev/shm.
    void Stop();
    // SIGKILL: the server dies under its clients, as a crashed one would. Its slot in
    // JACK's server registry is freed when this object goes (clients must be gone by then).
    void Kill();

    // How many times one of its clients missed a cycle so far; the events sent to that
    // client in that cycle are lost. A loaded machine (a sanitizer build) causes these.
    int LateCycles() const;

    bool IsRunning() const { return !m_strName.empty(); }
    const std::string& Name() const { return m_strName; }
    const std::string& Error() const { return m_strError; }

private:
    static std::string Run(const std::string& strArgs, int& nStatus);

    std::string m_strName;
    std::string m_strKilled;
    std::string m_strError;
};
