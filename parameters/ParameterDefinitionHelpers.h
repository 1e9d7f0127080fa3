// The checks behind the parameter handler's definition helpers (AddNumericParameter and its kin,
// declared with the handler): they turn a definition's four values into the parameter's type and
// say whether the definition holds together.
#pragma once

#include "parameters/ParInfo.h"
#include "platform/platform.h"

// The flag-word bits a definition check adds.
constexpr ULONG kNumericDefinitionBad = PFL_INVALID;  // 0x04
constexpr ULONG kTextDefinitionBad = PFL_DISABLED;    // 0x08

// Converts minimum, maximum, default and value to vt into out[0..3] (VT_EMPTY where a number does
// not convert to exactly vt). False when a conversion fails, when the minimum is above the maximum,
// or, only when the minimum is below the maximum, when the default or the value lies outside them
// (the bounds themselves are allowed). The numbers are compared as the doubles given, so a BOOL
// range 0..1 holds although VARIANT_TRUE is -1.
bool CheckNumericDefinition(VARTYPE vt, double minimum, double maximum, double defaultValue, double value,
                            vkr::Variant out[4]);

// Converts the four texts to vt into out[0..3]. For a type with the array bit the limits are
// element counts (VT_UI4) first; when either is not one (an empty text is none) the definition is
// bad and the limits are converted with vt instead. The default and the value are converted with vt
// (hex digits for a byte string, the empty text giving no bytes). False when anything did not
// convert. A null text is the empty text.
bool CheckTextDefinition(VARTYPE vt, LPCSTR minimum, LPCSTR maximum, LPCSTR defaultValue, LPCSTR value,
                         vkr::Variant out[4]);

// Equal limit texts that begin with a number n > 0 ask for n bytes: when the default or the value
// text is shorter than 2n characters, both become 2n zeros. True when they were replaced.
bool ApplyEqualLimitZeroFill(LPCSTR minimum, LPCSTR maximum, std::string* defaultValue, std::string* value);
