#pragma once
// The window's message-box texts that every front end shows in its own way: the window
// in a message box, the command line on stderr, the web page beside the control. Exact,
// letter for letter and blank for blank.
namespace qz {

// A command's frames were refused by the output port.
constexpr const char* kRefusedSendText = "Error : Please Connect at first";
// A fixed command (flash, factory reset, update mode, service) while the link is down.
constexpr const char* kMustConnectText = "You must do  Connect  at first, and retry...  ";
// The request-all sequence was refused.
constexpr const char* kRequestRefusedText = "Error : cann't send MIDI request";

}  // namespace qz
