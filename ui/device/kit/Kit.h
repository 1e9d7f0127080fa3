// The device-UI kit in one include: byte fields and Packed ASCII, answer bytes, device outcomes, the online usage
// counter, combo code tables and placeholders, entry limits, length units, user messages, and the shared ids.
#pragma once

#include "ui/device/DeviceUiIds.h"
#include "ui/device/kit/ByteSpan.h"
#include "ui/device/kit/ComboHelpers.h"
#include "ui/device/kit/DeviceOutcome.h"
#include "ui/device/kit/EntryLimits.h"
#include "ui/device/kit/LengthUnits.h"
#include "ui/device/kit/OnlineUsageCounter.h"
#include "ui/device/kit/PageResources.h"
#include "ui/device/kit/ResponseBytes.h"
#include "ui/device/kit/UserMessage.h"
