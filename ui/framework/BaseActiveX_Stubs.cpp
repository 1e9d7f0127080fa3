// Bodies not built yet, by area; each area's owner deletes its part here as it builds its own.
#include "ui/framework/BaseActiveX.h"
