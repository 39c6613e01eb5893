#pragma once
// The only way to make an input port object. Its worker calls into every class of the
// object, so it must end before any of them is destroyed; C++ destroys the most derived
// part first, so only the most derived class can stop it in time. This final wrapper is
// that class for every port, and CMidiIn cannot be made without it (it is abstract until
// here), so no class in between has to remember to close the port itself.
#include "midi/MidiIn.h"

template <class TPort>
class CMidiInPort final : public TPort {
public:
    using TPort::TPort;
    ~CMidiInPort() override {
        if (!this->Close()) CMidiIn::WorkerDidNotEnd();
    }

private:
    void StoppedByMostDerived() override {}
};
