#pragma once
// The names of the platform's MIDI ports, one entry per port number (an empty name where
// a port cannot be described), in port-number order.
#include <string>
#include <vector>

#include "midi/platform/MidiDriver.h"

class CMidiDevListBase : public std::vector<std::string> {
public:
    explicit CMidiDevListBase(CMidiDriver* pDriver = nullptr);  // null: DefaultMidiDriver()
    virtual ~CMidiDevListBase();

    // Empties the list and enumerates again; any fault leaves an empty list and 0.
    int Refresh();
    int GetSize() const { return static_cast<int>(size()); }
    const std::string& GetAt(int i) const { return at(static_cast<size_t>(i)); }

    int m_nDevs = 0;

protected:
    virtual int Enumerate() = 0;
    CMidiDriver* m_pDriver;
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
