/* Compiles the public header as C. */
#include "labhelper/qeldll32.h"

int labhelper_c_header_check(void) { return (int)sizeof(PlotRecord); }
