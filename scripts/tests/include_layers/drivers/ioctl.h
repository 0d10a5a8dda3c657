#pragma once
#include "kernel/bus.h"
