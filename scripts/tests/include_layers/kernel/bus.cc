#include "drivers/ioctl.h"
