#pragma once
#include "drivers/ioctl.h"
#include "link/channel.h"
