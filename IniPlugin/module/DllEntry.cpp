// The module's exported entry points.
#include "module/Module.h"
