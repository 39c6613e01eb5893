#pragma once
// Loads fontconfig's configuration on a worker while the application object starts. The
// first text the window lays out needs it, and parsing its files is the largest single
// item of the start-up (a quarter of the instructions up to the window shown); Qt's own
// call later finds it loaded. Start it before the QApplication, wait before any widget.
#include <thread>

class CFontConfigWarmUp {
public:
    CFontConfigWarmUp();
    ~CFontConfigWarmUp() { Wait(); }
    CFontConfigWarmUp(const CFontConfigWarmUp&) = delete;
    CFontConfigWarmUp& operator=(const CFontConfigWarmUp&) = delete;

    void Wait() {
        if (m_thread.joinable()) m_thread.join();
    }

private:
    std::thread m_thread;
};
