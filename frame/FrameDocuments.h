// The documents the stand-in frame hands every DTM it starts: its version, the device type it
// chose and its user, as an FDT 1.2.1 frame writes them.
#pragma once

namespace vkr::frame {

inline constexpr char16_t kSystemTag[] = u"VKR-1";
inline constexpr char16_t kFrameVersion[] =
    u"<FDT xmlns=\"x-schema:FDTFrameVersionSchema.xml\" xmlns:fdtvers=\"x-schema:FDTDataTypesSchema.xml\">"
    u"<FrameVersion><fdtvers:FDTVersion major=\"1\" minor=\"2\" release=\"1\"/></FrameVersion></FDT>";
inline constexpr char16_t kDeviceType[] =
    u"<FDT xmlns=\"x-schema:DTMDeviceTypeSchema.xml\" xmlns:fdt=\"x-schema:FDTDataTypesSchema.xml\">"
    u"<fdt:DtmDeviceType><fdt:VersionInformation name=\"VORN VKR HART DTM\" vendor=\"Vorntec\" version=\"2.1.1\"/>"
    u"</fdt:DtmDeviceType></FDT>";
inline constexpr char16_t kUserInformation[] =
    u"<FDT xmlns=\"x-schema:FDTUserInformationSchema.xml\"><FDTUserInformation userLevel=\"planningEngineer\"/></FDT>";

}  // namespace vkr::frame
