#pragma once
// The names of the platform's MIDI ports, one entry per port number (an empty name where
// a port cannot be described), in port-number order, with the device behind each port.
#include <string>
#include <vector>

#include "midi/PortDevice.h"
#include "midi/platform/MidiDriver.h"

class CMidiDevListBase : public std::vector<std::string> {
public:
    explicit CMidiDevListBase(CMidiDriver* pDriver = nullptr);  // null: DefaultMidiDriver()
    virtual ~CMidiDevListBase();

    // Empties the list and enumerates again; any fault leaves an empty list and 0.
    int Refresh();
    int GetSize() const { return static_cast<int>(size()); }
    const std::string& GetAt(int i) const { return at(static_cast<size_t>(i)); }
    // Entry i is the device of port i (PortDevice of its name and aliases).
    const std::vector<qz::CPortDevice>& Devices() const { return m_devices; }

    int m_nDevs = 0;

protected:
    virtual int Enumerate() = 0;
    // Appends port uPort's name and device as the driver gives them.
    void Append(bool bInput, uint32_t uPort);
    CMidiDriver* m_pDriver;

private:
    std::vector<qz::CPortDevice> m_devices;
};

class CMidiInDevList : public CMidiDevListBase {
public:
    using CMidiDevListBase::CMidiDevListBase;

protected:
    int Enumerate() override;
};

class CMidiOutDevList : public CMidiDevListBase {
public:
    using CMidiDevListBase::CMidiDevListBase;

protected:
    int Enumerate() override;
};
