// The translation interfaces of the DTM object. They belong to the translation services, which
// the user interfaces use as well; this header stays for the DTM's includers.
#pragma once

#include "xml/TranslationInterfaces.h"
