#include "corvan/internal/table.h"
#include "dpr/route.h"
#include "platform/status.h"
