// Named numbers the device pages share: DTM parameter ids, the frame's button commands, user
// message styles and answers, DTM states and messages the pages send, and the "Loading..." text.
//
// Parameter ids name the device parameter table's parameters as the pages use them; a page keeps
// ids only it uses in its own file or appends them here (append only: other pages rely on the
// values). Dialog and control ids stay with the page that owns the dialog.
#pragma once

#include "platform/platform.h"

namespace vkr::dui {

// ---- DTM parameters ---------------------------------------------------------------------------
enum DeviceParameterId : LONG {
  kParDevice = 990,                  // text shown in the frame's header
  kParDeviceType = 991,
  kParDeviceStatus = 1001,           // HART device status byte
  kParCommandResponse = 1113,        // the command response of the device's last answer
  kParMessage = 1009,                // 24 bytes Packed ASCII (32 characters)
  kParDescriptor = 1011,             // text
  kParTag = 1012,                    // text
  kParDateDay = 1013,                // VT_UI1
  kParDateMonth = 1014,              // VT_UI1
  kParDateYear = 1015,               // VT_UI2, the full year
  kParFinalAssemblyNumber = 1016,    // 3 bytes, most significant first
  kParDescriptorTagDate = 1017,      // command 13 data: 21 bytes
  kParWriteProtect = 1018,           // VT_UI2, the code in the high byte
  kParSelfTestResponse = 1019,
  kParMasterResetResponse = 1020,
  kParOutputLevel = 1021,            // write: command 40 (float mA; 0.0 leaves fixed mode)
  kParDamping = 1022,                // VT_R4; write: command 34
  kParRangeValues = 1023,            // 9 bytes: unit, upper, lower; write: command 35
  kParPvUnit = 1024,                 // read: command 1 byte 0; write: command 44
  kParRangeUnit = 1025,              // DTM-side VT_UI1
  kParUpperRange = 1026,             // DTM-side VT_R4
  kParLowerRange = 1027,             // DTM-side VT_R4
  kParCommand0Complete = 1028,       // raw answer data of commands 0, 1, 2, 3, 14, 15 (reading
  kParCommand1Complete = 1029,       // the parameter runs the command)
  kParCommand2Complete = 1030,
  kParCommand3Complete = 1031,
  kParCommand14Complete = 1032,
  kParCommand15Complete = 1033,
  kParSelfTest = 1034,               // write: command 41
  kParMasterReset = 1035,            // write: command 42
  kParCommand48Complete = 1036,
  kParPvUnitUser = 1039,             // DTM-side VT_UI1
  kParDampingUser = 1040,            // DTM-side VT_R4
  kParButtonRefresh = 1041,          // the frame's triggers: non-zero VT_UI1 when pressed
  kParButtonSend = 1042,
  kParButtonRead = 1043,
  kParActivateButtonSend = 1045,     // a page sets it to 1 when the user edits
  kParOnlineAxCounter = 1047,        // VT_UI4 count of the open online user interfaces
  kParIdentification = 1053,         // write with an empty value: tag, descriptor, date
  kParSpCmd1 = 1059,                 // read: command 135; write: command 136 (10 bytes)
  kParSpCmd2 = 1061,                 // read: command 137; write: command 138 (10 bytes)
  kParDisplayModeUser = 1063,
  kParDisplayMode = 1064,            // command 135 byte 0
  kParTrackingUser = 1065,
  kParTracking = 1066,               // byte 1
  kParDielectricUser = 1067,
  kParDielectric = 1068,             // byte 2
  kParFailSafeUser = 1069,
  kParFailSafe = 1070,               // byte 3
  kParFailTime = 1071,               // byte 4
  kParFailTimeUser = 1072,
  kParDigitizeCommand = 1082,        // bytes 5 to 9
  kParButtonDigitize = 1083,
  kParTagOnly = 1092,                // 6 bytes Packed ASCII
  kParTagOnlyStatic = 1093,
  kParLongTag = 1098,                // 32 bytes Latin-1, zero padded
  kParCommand131 = 1100,             // write: command 131 with 4 request bytes; the answer is the value
  kParCommand6Complete = 1105,       // read: command 7; write: command 6
  kParPollingAddress = 1109,
  kParLoopCurrentMode = 1110,
  kParProbeLength = 1114,            // DTM-side VT_R4
  kParParamUnit = 1115,              // command 14: limits unit
  kParParamUpperRange = 1116,        // command 14: upper sensor limit
  kParParamLowerRange = 1117,        // command 14: lower sensor limit
  kParParamSpan = 1118,              // command 14: minimum span
  kParCurrentReading = 1119,         // VT_R4, stored by the online frame
  kParManufacturerCode = 1122,       // VT_UI1, from command 0
  kParDeviceTypeCode = 1123,         // VT_UI2, from command 0
  kParBlanking = 1078,               // command 137/138 bytes 2-5, float, in the PV unit
  kParDistanceOffset = 1080,         // bytes 6-9, float, in the PV unit
};

// ---- The device's registration (HART identity the online frame checks the command 0 answer
// against: byte 1 manufacturer, byte 2 device type) -------------------------------------------
inline constexpr BYTE kExpectedManufacturerCode = 0x60;  // 96
inline constexpr BYTE kExpectedDeviceTypeCode = 0xE6;    // 230

// ---- The online parameterization frame's buttons (WM_COMMAND ids of dialog 105) -------------
inline constexpr UINT kFrameRefreshButton = 356;
inline constexpr UINT kFrameSendButton = 221;

// ---- User messages (IovFdtActiveXContainer::ShowUserMessage style bits and answers) -----------
inline constexpr LONG kMessageError = 0x10;             // OK, error icon
inline constexpr LONG kMessageOkCancelWarning = 0x31;   // OK and Cancel, exclamation icon
inline constexpr LONG kMessageInformation = 0x40;       // OK, information icon
inline constexpr LONG kMessageOkCancelInfo = 0x41;      // OK and Cancel, information icon
inline constexpr LONG kMessageYesNoInfo = 0x44;         // Yes and No, information icon
inline constexpr LONG kAnswerCancel = 2;
inline constexpr LONG kAnswerYes = 6;

// ---- DTM states (GetDTMState) and the DTM messages of going on- and offline ------------------
inline constexpr ULONG kDtmStateCommunicationSet = 9;
inline constexpr ULONG kDtmStateGoingOnline = 10;
inline constexpr ULONG kDtmStateGoingOffline = 11;
inline constexpr ULONG kDtmStateOnline = 12;
inline constexpr ULONG kDtmMessageGoOnline = 10;
inline constexpr ULONG kDtmMessageGoOffline = 11;

// ---- Page options ---------------------------------------------------------------------------
inline constexpr ULONG kDialogTypeOnlineReading = 4;  // the base reads the device while online
// Entry state bits the pages test and set.
inline constexpr ULONG kStateUsable = 0x1;
inline constexpr ULONG kStateChanged = 0x2;
inline constexpr ULONG kStateInvalid = 0x4;
inline constexpr ULONG kStateUsableChanged = 0x3;

// The text pages show in edits and as a temporary combo item while values are awaited.
inline constexpr const char* kLoadingText = "Loading...";
// What they show instead while the DTM is offline and not going online: no value is coming.
inline constexpr const char* kNotConnectedText = "Not connected";
// The same in a field too narrow for them (the day of a date).
inline constexpr const char* kLoadingShortText = "...";
inline constexpr const char* kNotConnectedShortText = "--";
// What a field shows whose read the device did not answer or refused: no value came.
inline constexpr const char* kNotReadText = "Not read";
// What a field shows whose device value is no finite number (NaN, an infinity): no number to show.
inline constexpr const char* kNotShownText = "Not shown";

// A page puts a text on its frame's message line by sending this up its window's parents
// (lParam: a null-terminated UTF-16 text, empty to clear it); the frame that shows it answers 1.
inline constexpr UINT kMessageLineText = WM_APP + 0x121;

}  // namespace vkr::dui
