// The class ids of the module's classes and the id of its type library, fixed here once. The
// registry scripts in resources/registry/ name the same ids.
#pragma once

#include "platform/platform.h"

inline constexpr CLSID CLSID_AdvancedPP = vkr::MakeGuid("1CDAE55F-5AE6-44D0-AF4F-DD0367BCD21F");
inline constexpr CLSID CLSID_CommandPP = vkr::MakeGuid("5853DDAB-3D1B-440F-B5CF-CF026777D79C");
inline constexpr CLSID CLSID_DevicePP = vkr::MakeGuid("5FA13489-9377-46C4-8CAD-312209E4400A");
inline constexpr CLSID CLSID_DiagPP = vkr::MakeGuid("589EC303-9FE9-4507-B68D-C83442F24768");
inline constexpr CLSID CLSID_HartPP = vkr::MakeGuid("A528CBBD-6046-4D46-B15C-32C0F840FF97");
inline constexpr CLSID CLSID_VornExampleDtm = vkr::MakeGuid("4370723C-41F5-4C73-BA95-4804A6D3BA81");
inline constexpr CLSID CLSID_OnlineParameterization = vkr::MakeGuid("7D873E22-188B-46A5-BA90-9EE493ADC2D7");
inline constexpr CLSID CLSID_OutputLevelSelection = vkr::MakeGuid("9707E4D1-3B2B-4B42-9162-F732BD284CBC");
inline constexpr CLSID CLSID_ProcessPP = vkr::MakeGuid("EF32FD69-0FCB-451E-A527-56493B9664E8");
inline constexpr CLSID CLSID_RawCommandPP = vkr::MakeGuid("667124CE-6900-4A02-8DC3-BED12DE80491");
inline constexpr CLSID CLSID_SetupPP = vkr::MakeGuid("BE2DC08D-C4F6-4CD9-9D38-BABC177DD61F");
inline constexpr CLSID CLSID_StatusPP = vkr::MakeGuid("C0315BD2-352E-49E6-B583-4750E6FCE422");
inline constexpr CLSID CLSID_TrendView = vkr::MakeGuid("A0D169E1-319A-4475-9F15-135EB4533841");
inline constexpr CLSID CLSID_ValuesPP = vkr::MakeGuid("38F10B4F-E4B5-41A3-85B1-2B7B98515AEB");
inline constexpr CLSID CLSID_DACTrimAdj = vkr::MakeGuid("3A73909A-A018-48F7-8123-55E82DE27209");
inline constexpr CLSID CLSID_DtmThread = vkr::MakeGuid("E8DDC006-90E7-44DB-AD30-B8F1E13DC96D");
inline constexpr CLSID CLSID_EchoPP = vkr::MakeGuid("DFFE2FED-61AC-447D-B043-3529673C3EDD");
inline constexpr CLSID CLSID_EchoTrace = vkr::MakeGuid("BCA31209-2141-4E75-9E1A-D896A3E760C9");
inline constexpr CLSID CLSID_InfoPP = vkr::MakeGuid("311FA677-4839-4C89-9F24-1E46A0AC668C");
inline constexpr CLSID CLSID_MyConnection = vkr::MakeGuid("5E0C2A41-7B9D-4F16-A3C8-2D4E6F80B1D1");
inline constexpr CLSID CLSID_OfflineOnlineParam = vkr::MakeGuid("E47A4706-59AE-4A2E-88E5-C11C87A63AF6");
inline constexpr CLSID CLSID_OfflineParam = vkr::MakeGuid("4E2D644E-AE77-4506-8D44-E3FAB0DF2D41");
inline constexpr CLSID CLSID_OnlineParam = vkr::MakeGuid("13DB7B3D-7A86-4926-9D46-365B342E9AF9");
inline constexpr CLSID CLSID_SelfTestResults = vkr::MakeGuid("FC60F6B9-C81B-4846-9D8D-3049F6207E96");
inline constexpr CLSID CLSID_ProcessChannel = vkr::MakeGuid("10B384C2-D5F5-493F-96DB-DCD56887E083");

inline constexpr GUID LIBID_VornExampleDtmLib = vkr::MakeGuid("D2F745AF-849B-4F20-9818-E4F641601D88");
