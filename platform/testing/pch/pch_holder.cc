// Holds the test programs' precompiled header; runs no test of its own.
#include <gtest/gtest.h>
