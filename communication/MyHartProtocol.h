// The VKR device's HART protocol object, a member of the DTM object registered with its
// communication client.
#pragma once

#include "communication/CovFDT_BaseProtocolImpl.h"

class MyHartProtocol : public CovFDT_HartProtocolImpl {};
