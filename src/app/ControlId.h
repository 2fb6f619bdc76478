#pragma once

namespace otp::app {

// Control IDs of the main window (dialog template 129).
namespace ControlId {
inline constexpr int Ok = 1;     // Enter with no push button focused
inline constexpr int Cancel = 2; // Escape, close box, system menu Close
inline constexpr int Messages = 1003;
inline constexpr int Refresh = 1004;
inline constexpr int TokenList = 1007;
inline constexpr int Remove = 1009;
inline constexpr int Clear = 1010;
inline constexpr int Reset = 1015;
inline constexpr int PinPolicy = 1016;
inline constexpr int UpdatePin = 1017;
inline constexpr int GetOtp = 1020;
inline constexpr int SetEnter = 1021;
inline constexpr int NewToken = 1027;
inline constexpr int StatusLine = 1034;
inline constexpr int SeedRecords = 1040;
inline constexpr int About = 57664;
} // namespace ControlId

} // namespace otp::app
