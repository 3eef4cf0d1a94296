#pragma once

// Numeric identifiers of the keypad dialog's controls. There is no 1003: digit "0" is 1011.
namespace ControlId {
constexpr int Key1 = 1000;
constexpr int Key2 = 1001;
constexpr int Key3 = 1002;
constexpr int Key4 = 1004;
constexpr int Key5 = 1005;
constexpr int Key6 = 1006;
constexpr int Key7 = 1007;
constexpr int Key8 = 1008;
constexpr int Key9 = 1009;
constexpr int Cam = 1010;
constexpr int Key0 = 1011;
constexpr int Ent = 1012;
constexpr int MenuUp = 1013;  // "M/U"
constexpr int Clr = 1014;
constexpr int ZoomIn = 1015;
constexpr int ZoomOut = 1016;
constexpr int FocusFar = 1017;
constexpr int FocusNear = 1018;
constexpr int Set = 1019;
constexpr int Init = 1020;
constexpr int ProtocolCombo = 1021;
constexpr int CameraTypeCombo = 1022;
constexpr int ComPortCombo = 1024;
constexpr int BaudRateCombo = 1025;
constexpr int Power = 1028;
constexpr int Reset = 1029;
constexpr int Up = 1030;
constexpr int Left = 1031;
constexpr int Right = 1032;
constexpr int Down = 1033;
constexpr int CommunicationSet = 1034;
constexpr int StatusList = 1035;
}  // namespace ControlId

// Platform virtual-key codes of the PC keys the panel watches.
namespace VirtualKey {
constexpr int Enter = 0x0D;
constexpr int Left = 0x25;
constexpr int Up = 0x26;
constexpr int Right = 0x27;
constexpr int Down = 0x28;
constexpr int Delete = 0x2E;
constexpr int Digit0 = 0x30;
constexpr int Digit9 = 0x39;
constexpr int Numpad0 = 0x60;
constexpr int Numpad9 = 0x69;
}  // namespace VirtualKey
