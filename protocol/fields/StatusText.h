#pragma once
// Texts and lamp states that the main window shows from the device's blocks.
// Every function reads raw block bytes only; the status block is 58 bytes.
#include <cstdint>
#include <string>

namespace qz {

// Status change mask bits: which display group a changed status byte belongs to.
constexpr int kStatusMaskTimecode = 0x01;
constexpr int kStatusMaskVideoFormat = 0x02;
constexpr int kStatusMaskPower = 0x04;
constexpr int kStatusMaskUnshown08 = 0x08;  // watched, but no display reacts
constexpr int kStatusMaskIndicators = 0x10;
constexpr int kStatusMask1394 = 0x20;
constexpr int kStatusMaskUnshown40 = 0x40;  // watched, but no display reacts
constexpr int kStatusMaskAll = 0xFF;        // forced full refresh

// Video format codes that the display treats specially.
constexpr int kVideoFormatNoSignal = 127;

// "ver:<version> id:<product ID>" once both blocks have arrived, else " -".
// The version is read up to its first zero byte within 8 bytes, the product ID within 16.
std::string IdentityLine(bool bVersionRcvd, bool bProductIDRcvd, const uint8_t version[8],
                         const uint8_t productID[24]);

// The timecode reading of status bytes 16-23.
std::string TimecodeText(const uint8_t* pStatus);

// Input video format code from status bytes 32-33.
int VideoFormatCode(const uint8_t* pStatus);
// Codes 0..35 are formats the device recognises.
bool IsKnownVideoFormat(int nCode);
std::string VideoFormatName(int nCode);

// Power source (byte 35) and supply voltage (bytes 36-37).
std::string PowerText(const uint8_t* pStatus);

// The IEEE1394 stream line. bValid is false (and the text " ---") when the rate,
// the picture size or the codec code is out of range.
struct IEEE1394Format {
    std::string text;
    bool bValid = false;
};
IEEE1394Format IEEE1394FormatText(const uint8_t* pStatus);

// A lamp's state in words, by state number: the four an indicator shows, then the
// link lamp's lit state. The window's lamps, the Ember+ tree and the web page say these.
constexpr const char* kLampStateWords[] = {"unlit", "first colour", "second colour", "both colours", "lit"};
constexpr int kIndicatorLampStates = 4;

// Lamp state (0 unlit, 1 first colour, 2 second colour, 3 both) that shows an
// indicator state byte steadily.
int SteadyLampState(uint8_t byState);
bool TakesPartInSlowBlink(uint8_t byState);
bool TakesPartInFastBlink(uint8_t byState);

std::string ControlModeText(bool bRemote);
// Mode switch SWn (1..6) of the control mode byte: SW1 is bit 5, SW6 bit 0.
constexpr bool ModeSwitchOn(uint8_t byControlMode, int nSwitch) { return (byControlMode >> (6 - nSwitch)) & 1; }
// The six mode switches of the control mode byte, SW1 first.
std::string ModeSwitchText(uint8_t byControlMode);

// OR of the mask bits of every status byte that differs between the two 58-byte blocks.
int StatusChangeMask(const uint8_t* pOldStatus, const uint8_t* pNewStatus);

}  // namespace qz
