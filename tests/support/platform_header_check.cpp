// Compiles the umbrella header alone: it must carry every include it needs.
#include "platform/platform.h"
